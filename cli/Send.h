// miravo-send's sending mode: the document (a print job, a PDF rendered by
// miravo-print, or a fax TIFF) goes to the fax service on the program's
// engine, and what the status window would show is printed as it arrives.
#pragma once

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/FaxJob.h"
#include "service/SendWorker.h"

namespace miravo::cli {

// Exit statuses of a send.
enum ExitStatus : int {
    kExitOk = 0,                  // every destination ended "OK"
    kExitDocument = 1,            // the document could not be made or sent
    kExitUsage = 2,               // the command line is wrong
    kExitCredentials = 3,         // credentials missing or refused
    kExitServiceError = 4,        // the service answered with an error
    kExitDestinationsFailed = 5,  // some destination did not end "OK"
    kExitUnreachable = 6,         // the service could not be reached
    kExitCaFile = 7,              // the CA file the settings name cannot be read
    kExitInterrupted = 130,       // stopped with Ctrl-C
};

struct SendArguments {
    std::string settingsFile;  // empty: the usual settings file
    std::vector<Destination> to;
    std::optional<std::u16string> cover;
    std::string report;  // "yes", "no", "none" or empty (the settings decide)
    std::string input;
    // Documents after the first: one fax of all of them, in order.
    std::vector<std::string> moreInputs;
    // --password-file FILE: its first line opens a protected PDF.
    std::string passwordFile;
    // Starts of the sequence while the service cannot be reached.
    int retries = 3;
    // Overall limit of every exchange in seconds; 0: each kind's own.
    int timeoutSeconds = 0;
    // --list FILE: more numbers, one a line (.txt) or a CSV column.
    std::string listFile;
    std::string column;  // --column NAME|N of a CSV list; empty: the first
    bool strict = false; // --strict: invalid numbers refuse the send
    // Sending a journal record again (--resend): the record repeated and
    // the title the new record keeps.
    std::int64_t repeats = 0;
    std::u16string title;
};

// The numbers of a --list file: a plain list (".txt" in the path) one a
// line, else a CSV file whose column `column` (a header name, ignoring
// case, or a number from 1) holds them, split at `delimiter`. False with a
// message when the file or the column cannot be used.
bool ReadNumberList(const std::string& file, const std::string& column, char16_t delimiter,
                    std::vector<std::u16string>& numbers, std::string& error);

// Reads the sending mode's arguments; false with a message when they
// cannot be used.
bool ParseSendArguments(const std::vector<std::string>& args, SendArguments& out,
                        std::string& error);

// Loads the settings from `settingsFile` (--settings), or from the
// application-data folder when it is empty.
// Also reads the saved password from the desktop's keyring, or moves one
// found in the file there.
void LoadSettingsFrom(const std::string& settingsFile, AppPaths& paths, AppState& state);
// Puts the password where it is kept (keyring or file) and writes back the
// settings that changed since `loaded`.
void SaveSettingsAndPassword(const AppPaths& paths, const AppSettings& loaded);

// The exit status a send ends with.
int ExitStatusFor(const SendSummary& summary, const SendState& send);

struct SendControls {
    // Set from outside (Ctrl-C): the send stops after the current request.
    std::atomic<bool>* stop = nullptr;
    // Wakes the send's waits early once `stop` is set; empty: plain sleeps.
    std::function<void(std::uint32_t)> sleep;
    // Whether credentials may be asked for on the terminal.
    bool interactive = false;
};

int Send(const SendArguments& arguments, const SendControls& controls, std::FILE* out,
         std::FILE* err);

}  // namespace miravo::cli
