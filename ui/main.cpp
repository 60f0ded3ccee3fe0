// miravo: the send program. Converts the printed job named on the command
// line and opens the send dialog, or opens Options alone ("/config").
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
    const auto waitingJobFolders = miravo::print::WaitingJobFolders();
    QApplication application(argc, argv);  // takes Qt's own options out of argv
    QApplication::setApplicationName(QStringLiteral("Miravo"));
    QApplication::setWindowIcon(miravo::ui::ApplicationIcon());
    // The dialogs of a run follow one another; the gap between two of them
    // must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    miravo::ui::AssignMnemonicsOnShow(application);

    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i)
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
    }
    static miravo::AppState state;  // the one record, alive until the process ends
    miravo::ui::QtShellDialogs dialogs;
    return miravo::RunMiravo(arguments, dialogs, state);
}
