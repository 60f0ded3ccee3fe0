// miravo: the send program. Converts the printed job named on the command
// line and opens the send dialog, or opens Options alone ("/config").
#include <QApplication>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/KeyringStore.h"
#include "app/Paths.h"
#include "app/SettingsStore.h"
#include "app/Startup.h"
#include "contacts/VCardFile.h"
#include "printmon/WaitingJobs.h"
#include "ui/Icons.h"
#include "ui/QtShellDialogs.h"
#include "ui/ToolOptions.h"
#include "ui/WaitingJobsDialog.h"

namespace {

// Runs the command lines that open no window; none: the dialogs' command line.
std::optional<int> runTool(int argc, char** argv) {
    namespace ui = miravo::ui;
    const ui::ToolOptions tool = ui::ParseToolOptions({argv + 1, argv + argc});
    switch (tool.kind) {
        case ui::ToolOptions::None:
            return std::nullopt;
        case ui::ToolOptions::Help:
            std::fputs(ui::MiravoUsage(), stdout);
            return 0;
        case ui::ToolOptions::Version:
            std::printf("miravo %s\n", MIRAVO_VERSION);
            return 0;
        case ui::ToolOptions::Refused:
            std::fprintf(stderr, "miravo: %s\n%s", tool.error.c_str(), ui::MiravoUsage());
            return 2;
        default:
            break;
    }
    miravo::AppState state;
    miravo::AppPaths paths;
    miravo::LoadSettings(paths, state);  // the language the counts are told in
    return miravo::RunContactsCommand(tool.kind == ui::ToolOptions::ImportContacts
                                          ? miravo::ContactsCommand::Import
                                          : miravo::ContactsCommand::Export,
                                      tool.file, state.language, stdout, stderr);
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto status = runTool(argc, argv))
        return *status;
    const auto waitingJobFolders = miravo::print::WaitingJobFolders();
    QApplication application(argc, argv);  // takes Qt's own options out of argv
    QApplication::setApplicationName(QStringLiteral("Miravo"));
    QApplication::setWindowIcon(miravo::ui::ApplicationIcon());
    // The dialogs of a run follow one another; the gap between two of them
    // must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

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
    const auto keyring = miravo::MakeKeyringStore();
    miravo::StartupEnvironment environment;
    environment.passwords = keyring.get();
    return miravo::RunMiravo(arguments, dialogs, state, environment);
}
