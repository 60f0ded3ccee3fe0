// miravo-send: the program's engine without a display.
//
//   miravo-send [--settings FILE] --to NUMBER[:NAME] ... [--cover TEXT]
//               [--report yes|no|none] [--retries N] [--timeout SECONDS]
//               (JOBFILE | FILE.pdf | FILE.tif)
//       sends the document and prints what the status window would show;
//       gives up after N new starts (default 3) while the service cannot be
//       reached; --timeout replaces every exchange's own overall limit
//       (a minute for a request, two for a text exchange, two plus one
//       second per 8 KiB for the upload).
//   miravo-send [--settings FILE] --journal [--since YYYY-MM-DD] [--csv]
//       lists the sent-fax journal (CSV: one line per destination).
//   miravo-send [--settings FILE] --refresh [--since YYYY-MM-DD]
//       asks the service again about the faxes that are not final and
//       prints what changed.
//   miravo-send --convert-only JOBFILE
//       converts a print job into the fax document and prints its path and
//       page count.
//
// The conversion runs here. Sending is done by miravo-transmit beside this
// program, which this one becomes (same process, arguments and terminal):
// its network and TLS libraries cost a conversion more to load than a
// short job takes to convert, so they are loaded only to send.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "cli/ConvertOnly.h"
#include "convert/LibraryMessages.h"
#include "cli/Send.h"
#include "cli/Usage.h"

int main(int argc, char** argv) {
    // libtiff's words about a damaged file are details, not terminal output.
    miravo::KeepLibraryMessages();
    // Help, the version and a conversion are answered here; every other
    // command line is read by miravo-transmit.
    miravo::CommandLine line("miravo-send");
    std::string job;
    line.app.add_option("--convert-only", job);
    line.app.allow_extras();
    std::string error;
    if (!line.parse({argv + 1, argv + argc}, error)) {
        std::fprintf(stderr, "miravo-send: %s\n", error.c_str());
        miravo::cli::PrintUsage(stderr);
        return miravo::cli::kExitUsage;
    }
    if (line.help) {
        miravo::cli::PrintUsage(stdout);
        return 0;
    }
    if (line.version) {
        miravo::PrintVersion(stdout, "miravo-send");
        return 0;
    }
    if (line.app.count("--convert-only") > 0) {
        if (!line.app.remaining().empty()) {
            std::fprintf(stderr, "miravo-send: --convert-only takes the JOBFILE alone\n");
            miravo::cli::PrintUsage(stderr);
            return miravo::cli::kExitUsage;
        }
        return miravo::cli::ConvertOnly(job, stdout, stderr);
    }
    std::error_code ec;
    const std::string sender =
        (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "miravo-transmit")
            .string();
    ::execv(sender.c_str(), argv);
    std::fprintf(stderr, "miravo-send: %s cannot be started: %s\n", sender.c_str(),
                 std::strerror(errno));
    return miravo::cli::kExitDocument;
}
