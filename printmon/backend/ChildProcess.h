// Starting the program the backend hands a job's rendering to, waiting for
// it with its output, and passing the print system's cancel on to it.
#pragma once

#include <sys/types.h>

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
// `environment` given, input from /dev/null, no descriptor of ours beyond
// 0-2, and waits for it. A termination request (below) is passed on to it.
ProgramRun RunProgram(const std::filesystem::path& program,
                      const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment);

// Makes SIGTERM, the print system's cancel, a request that is passed on
// to the program RunProgram waits for, or to the process named with
// PassTerminationTo; the caller then cleans up and ends.
void HandleTermination();
void PassTerminationTo(pid_t process);
bool TerminationRequested();

}  // namespace miravo::backend
