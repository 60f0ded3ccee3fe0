// miravo-send's journal modes: listing the sent-fax journal (as text or
// CSV) and asking the service again about the faxes that are not final.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace miravo::cli {

struct JournalArguments {
    bool list = false;     // --journal
    bool refresh = false;  // --refresh
    bool csv = false;      // --csv
    std::int64_t since = 0;  // --since DATE: local midnight of that day
    std::string settingsFile;
};

// Whether `args` ask for a journal mode at all.
bool IsJournalCommand(const std::vector<std::string>& args);
// False with a message when the arguments cannot be used.
bool ParseJournalArguments(const std::vector<std::string>& args, JournalArguments& out,
                           std::string& error);

// Runs the mode; the exit status (0, or that of a send for a refresh that
// could not ask the service). `sleep` waits between requests (empty: plain
// sleeps).
int RunJournalCommand(const JournalArguments& arguments, std::FILE* out, std::FILE* err,
                      const std::function<void(std::uint32_t)>& sleep = {});

}  // namespace miravo::cli
