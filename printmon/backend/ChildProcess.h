// Starting the programs the backend hands a job to: one it waits for, with
// its output, and one that must outlive the print job.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace miravo::backend {

struct ProgramRun {
    bool started = false;
    int exitCode = -1;   // -1 when it did not exit normally
    std::string output;  // standard output and error together, at most 64 KiB
};

// Runs `program` with `arguments` (program name excluded) and exactly the
// `environment` given, input from /dev/null, and waits for it.
ProgramRun RunProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment);

// Starts `program` in a session of its own in `folder`, with no tie to the
// caller (not its child, input and output on /dev/null), and returns at
// once. False, with the reason, when it could not be started at all.
bool StartDetached(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment, const std::filesystem::path& folder,
                   std::string& error);

}  // namespace miravo::backend
