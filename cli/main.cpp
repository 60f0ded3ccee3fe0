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
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>
#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/ConvertOnly.h"
#include "cli/JournalCommand.h"
#include "cli/Send.h"

namespace {

void usage(std::FILE* to) {
    std::fputs(
        "usage: miravo-send [--settings FILE] --to NUMBER[:NAME] ... [--cover TEXT]\n"
        "                   [--report yes|no|none] [--retries N] [--timeout SECONDS]\n"
        "                   (JOBFILE | FILE.pdf | FILE.tif)\n"
        "       miravo-send [--settings FILE] --journal [--since YYYY-MM-DD] [--csv]\n"
        "       miravo-send [--settings FILE] --refresh [--since YYYY-MM-DD]\n"
        "       miravo-send --convert-only JOBFILE\n"
        "Exit status: 0 every destination OK, 1 document problem, 2 usage,\n"
        "3 credentials missing or refused, 4 service error, 5 some destination failed,\n"
        "6 service unreachable, 130 stopped with Ctrl-C.\n",
        to);
}

// Ctrl-C: the first one stops the send, the exchange under way included,
// as closing the status window does; a second one ends the program at once.
struct Interrupt {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable wake;
    termios terminal{};
    bool haveTerminal = false;

    void sleep(std::uint32_t ms) {
        std::unique_lock lock(mutex);
        wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop.load(); });
    }
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args.front() == "--help" || args.front() == "-h")) {
        usage(stdout);
        return 0;
    }
    if (!args.empty() && args.front() == "--convert-only") {
        if (args.size() != 2) {
            usage(stderr);
            return miravo::cli::kExitUsage;
        }
        QCoreApplication app(argc, argv);  // image format plug-ins
        return miravo::cli::ConvertOnly(args[1], stdout, stderr);
    }
    if (miravo::cli::IsJournalCommand(args)) {
        miravo::cli::JournalArguments journal;
        std::string error;
        if (!miravo::cli::ParseJournalArguments(args, journal, error)) {
            std::fprintf(stderr, "miravo-send: %s\n", error.c_str());
            usage(stderr);
            return miravo::cli::kExitUsage;
        }
        QCoreApplication app(argc, argv);
        return miravo::cli::RunJournalCommand(journal, stdout, stderr);
    }
    miravo::cli::SendArguments arguments;
    std::string error;
    if (!miravo::cli::ParseSendArguments(args, arguments, error)) {
        std::fprintf(stderr, "miravo-send: %s\n", error.c_str());
        usage(stderr);
        return miravo::cli::kExitUsage;
    }

    // The stopSignals go to one thread that waits for them; every thread
    // started from here on keeps them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    static Interrupt interrupt;
    interrupt.haveTerminal = ::tcgetattr(STDIN_FILENO, &interrupt.terminal) == 0;
    std::thread([stopSignals] {
        for (int count = 0;; ++count) {
            int signal = 0;
            if (sigwait(&stopSignals, &signal) != 0)
                continue;
            if (count > 0) {
                if (interrupt.haveTerminal)
                    ::tcsetattr(STDIN_FILENO, TCSANOW, &interrupt.terminal);
                ::_exit(miravo::cli::kExitInterrupted);
            }
            {
                std::lock_guard lock(interrupt.mutex);
                interrupt.stop = true;
            }
            interrupt.wake.notify_all();
            const char note[] =
                "\nmiravo-send: stopping (Ctrl-C again to quit at once)\n";
            (void)!::write(STDERR_FILENO, note, sizeof note - 1);
        }
    }).detach();

    QCoreApplication app(argc, argv);  // image format plug-ins
    miravo::cli::SendControls controls;
    controls.stop = &interrupt.stop;
    controls.sleep = [](std::uint32_t ms) { interrupt.sleep(ms); };
    controls.interactive = ::isatty(STDIN_FILENO) != 0;
    return miravo::cli::Send(arguments, controls, stdout, stderr);
}
