// miravo-transmit: the sending mode of miravo-send, which starts it in its
// own place with the same arguments (see miravo-send's main).
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

#include "convert/LibraryMessages.h"
#include "cli/JournalCommand.h"
#include "cli/ReportCommand.h"
#include "cli/ResendCommand.h"
#include "cli/Send.h"
#include "cli/Usage.h"

namespace {

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
    // libtiff's words about a damaged file are details, not terminal output.
    miravo::KeepLibraryMessages();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (miravo::cli::IsJournalCommand(args)) {
        miravo::cli::JournalArguments journal;
        std::string error;
        if (!miravo::cli::ParseJournalArguments(args, journal, error)) {
            std::fprintf(stderr, "miravo-send: %s\n", error.c_str());
            miravo::cli::PrintUsage(stderr);
            return miravo::cli::kExitUsage;
        }
        QCoreApplication app(argc, argv);
        return miravo::cli::RunJournalCommand(journal, stdout, stderr);
    }
    if (miravo::cli::IsReportCommand(args))
        return miravo::cli::RunReportCommand(args, stdout, stderr);
    miravo::cli::SendArguments arguments;
    std::string error;
    const bool parsed = miravo::cli::IsResendCommand(args)
                            ? miravo::cli::ResendArguments(args, arguments, error)
                            : miravo::cli::ParseSendArguments(args, arguments, error);
    if (!parsed) {
        std::fprintf(stderr, "miravo-send: %s\n", error.c_str());
        miravo::cli::PrintUsage(stderr);
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
