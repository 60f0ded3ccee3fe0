// miravo: the send program. Converts the printed job named on the command
// line and opens the send dialog, or opens Options alone ("/config").
// "--bus-service" is the process the session bus starts (it starts one
// miravo per request handed over, which offers the request's documents to
// a fax already open before it makes a new one); "--waiting-jobs", run at login, offers the
// jobs that wait in the spool and ends at once when none waits.
#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/LibraryMessages.h"
#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/KeyringStore.h"
#include "app/Paths.h"
#include "app/SettingsStore.h"
#include "app/Startup.h"
#include "contacts/VCardFile.h"
#include "printmon/WaitingJobs.h"
#include "ui/Icons.h"
#include "ui/Mnemonics.h"
#include "ui/OpenFaxChoiceDialog.h"
#include "ui/OpenFaxOffer.h"
#include "ui/OpenFaxPublication.h"
#include "ui/QtShellDialogs.h"
#include "ui/SessionBusService.h"
#include "ui/QtTranslations.h"
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
            miravo::PrintVersion(stdout, "miravo");
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

// Offers the documents (after "--") to a fax open in this session, when
// there is one: true once it took them.
bool addedToOpenFax(const std::vector<char*>& documents) {
    std::vector<std::string> files;
    for (std::size_t i = 1; i < documents.size(); ++i) {
        std::error_code ec;
        const std::filesystem::path file = std::filesystem::absolute(documents[i], ec);
        if (ec)
            return false;
        files.push_back(file.string());
    }
    return miravo::ui::OfferToOpenFax(
        miravo::ui::SessionBusIfNamed(), files, [](const std::vector<miravo::ui::OpenFaxOnBus>& faxes) {
            // The question speaks the user's language, read as the run reads it.
            miravo::AppState offerState;
            miravo::AppPaths offerPaths;
            miravo::LoadSettings(offerPaths, offerState);
            miravo::ui::ApplyQtTranslations(offerPaths.languageCode);
            return miravo::ui::ChooseOpenFaxInDialog(offerState.language, faxes);
        });
}

}  // namespace

int main(int argc, char** argv) {
    // libtiff's words about a damaged file are details, not terminal output.
    miravo::KeepLibraryMessages();
    if (const auto status = runTool(argc, argv))
        return *status;
    const std::string mode = argc == 2 ? argv[1] : "";
    if (mode == "--bus-service")
        return miravo::ui::RunSessionBusService(argc, argv);
    const bool waitingOnly = mode == "--waiting-jobs";
    const auto waitingJobFolders = miravo::print::WaitingJobFolders();
    if (waitingOnly && miravo::print::ListWaitingJobs(waitingJobFolders).empty())
        return 0;  // no window at login when nothing waits
    // What follows "--" is documents only: Qt never sees it, so no file name
    // can be taken for one of Qt's options (a plug-in path, a style sheet).
    int optionCount = argc;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--") {
            optionCount = i;
            break;
        }
    }
    const std::vector<char*> documents(argv + optionCount, argv + argc);  // "--" and after
    QApplication application(optionCount, argv);  // takes Qt's own options out of argv
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
    if (!waitingOnly) {
        for (int i = 1; i < optionCount; ++i)
            arguments.push_back(miravo::FromFsPath(argv[i]));  // a file name's bytes kept
        // "--" alone names no document.
        if (documents.size() > 1) {
            for (const char* document : documents)
                arguments.push_back(miravo::FromFsPath(document));
        }
    }
    // Documents printed or opened while a fax is open may go into that fax;
    // otherwise, or when the user wants it, they make a new fax here.
    if (!waitingOnly && documents.size() > 1 && addedToOpenFax(documents))
        return 0;
    // Jobs printed while nobody was logged in: one of them may become this run's job.
    bool languageMissing = false;
    if (arguments.empty()) {
        namespace print = miravo::print;
        auto jobs = print::ListWaitingJobs(waitingJobFolders);
        if (!jobs.empty()) {
            // The offer speaks the user's language, read as the run reads it.
            miravo::AppState offerState;
            miravo::AppPaths offerPaths;
            miravo::LoadSettings(offerPaths, offerState);
            miravo::ui::ApplyQtTranslations(offerPaths.languageCode);
            // Without its texts the offer waits: the run below says why.
            languageMissing = !offerState.language.loaded();
            if (!languageMissing) {
                if (const auto job = miravo::ui::OfferWaitingJobs(
                        offerState.language, std::move(jobs), print::DiscardWaitingJob))
                    arguments.push_back(miravo::FromFsPath(*job));
            }
        }
        if (waitingOnly && arguments.empty() && !languageMissing)
            return 0;  // left for later
    }
    static miravo::AppState state;  // the one record, alive until the process ends
    miravo::ui::QtShellDialogs dialogs;
    const auto keyring = miravo::MakeKeyringStore();
    miravo::StartupEnvironment environment;
    environment.passwords = keyring.get();
    return miravo::RunMiravo(arguments, dialogs, state, environment);
}
