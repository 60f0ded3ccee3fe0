// miravo: the send program. Converts the printed job named on the command
// line and opens the send dialog, or opens Options alone ("/config").
// "--bus-service" is the process the session bus starts (it starts one
// miravo per job handed over); "--waiting-jobs", run at login, offers the
// jobs that wait in the spool and ends at once when none waits.
#include <QApplication>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppState.h"
#include "app/Paths.h"
#include "app/SettingsStore.h"
#include "app/Startup.h"
#include "printmon/WaitingJobs.h"
#include "ui/Icons.h"
#include "ui/Mnemonics.h"
#include "ui/QtShellDialogs.h"
#include "ui/SessionBusService.h"
#include "ui/WaitingJobsDialog.h"

namespace {

constexpr const char* kUsage =
    "Usage: miravo [JOB_FILE | DOCUMENT] [/config]\n"
    "\n"
    "Sends a printed document as a fax through the fax service.\n"
    "\n"
    "  JOB_FILE   a job written by the Miravo printer: its pages are converted\n"
    "             and the send dialog opens\n"
    "  DOCUMENT   a PDF, PostScript, PNG, JPEG or TIFF file to send\n"
    "  /config    open only the Options dialog\n"
    "  --waiting-jobs\n"
    "             offer the printed jobs that wait (run at login); ends at\n"
    "             once when none waits\n"
    "  --bus-service\n"
    "             the process the session bus starts to open printed jobs\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Without arguments the send dialog opens and a document can be chosen there.\n";

// --help and --version answer on the terminal, without a display.
bool answeredOnTerminal(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return true;
        }
        if (argument == "--version") {
            std::printf("miravo %s\n", MIRAVO_VERSION);
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (answeredOnTerminal(argc, argv))
        return 0;
    const std::string mode = argc == 2 ? argv[1] : "";
    if (mode == "--bus-service")
        return miravo::ui::RunSessionBusService(argc, argv);
    const bool waitingOnly = mode == "--waiting-jobs";
    const auto waitingJobFolders = miravo::print::WaitingJobFolders();
    if (waitingOnly && miravo::print::ListWaitingJobs(waitingJobFolders).empty())
        return 0;                          // no window at login when nothing waits
    QApplication application(argc, argv);  // takes Qt's own options out of argv
    QApplication::setApplicationName(QStringLiteral("Miravo"));
    // The desktop entry is named after the bus name; Wayland shells match
    // windows to it by this name.
    QApplication::setDesktopFileName(QString::fromLatin1(miravo::ui::kBusName));
    QApplication::setWindowIcon(miravo::ui::ApplicationIcon());
    // The dialogs of a run follow one another; the gap between two of them
    // must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    miravo::ui::AssignMnemonicsOnShow(application);

    std::vector<std::u16string> arguments;
    for (int i = waitingOnly ? argc : 1; i < argc; ++i)
        arguments.push_back(miravo::FromFsPath(argv[i]));  // a file name's bytes kept
    // Jobs printed while nobody was logged in: one of them may become this run's job.
    if (arguments.empty()) {
        namespace print = miravo::print;
        auto jobs = print::ListWaitingJobs(waitingJobFolders);
        if (!jobs.empty()) {
            // The offer speaks the user's language, read as the run reads it.
            miravo::AppState offerState;
            miravo::AppPaths offerPaths;
            miravo::LoadSettings(offerPaths, offerState);
            if (const auto job = miravo::ui::OfferWaitingJobs(offerState.language, std::move(jobs),
                                                              print::DiscardWaitingJob))
                arguments.push_back(miravo::FromFsPath(*job));
        }
        if (waitingOnly && arguments.empty())
            return 0;  // left for later
    }
    static miravo::AppState state;  // the one record, alive until the process ends
    miravo::ui::QtShellDialogs dialogs;
    return miravo::RunMiravo(arguments, dialogs, state);
}
