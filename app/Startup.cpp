#include "app/Startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <QImage>
#include <QImageReader>
#include <QString>

#include "app/DialogTexts.h"
#include "app/DocumentKind.h"
#include "app/FileBytes.h"
#include "app/JobFileCheck.h"
#include "app/PasswordPlace.h"
#include "app/Paths.h"
#include "app/Text.h"

namespace miravo {

namespace {

// Longest text a path field holds.
constexpr std::size_t kPathLength = kPathWidth - 1;

std::u16string currentFolder() {
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::current_path(ec);
    return ec ? std::u16string() : FromFsPath(folder);
}

template <typename Step>
void runGuarded(Step&& step) {
    // A dialog that fails must not cost the user the settings and the
    // clean-up of the shut-down that follows.
    try {
        step();
    } catch (...) {
    }
}

}  // namespace

RunPlan ChooseRunMode(const std::vector<std::u16string>& arguments,
                      std::u16string_view startFolder) {
    RunPlan plan;
    // "--" ends the options: what follows it is a file, whatever its name.
    const auto endOfOptions = std::find(arguments.begin(), arguments.end(), u"--");
    const std::size_t optionCount = static_cast<std::size_t>(endOfOptions - arguments.begin());
    std::vector<std::u16string> files(arguments.begin(), endOfOptions);
    if (endOfOptions != arguments.end())
        files.insert(files.end(), endOfOptions + 1, arguments.end());
    if (!files.empty()) {
        std::u16string job = files.front();
        // A job file named relative to the folder the program was started
        // in; the program changes its current folder before reading it.
        if (!job.empty() && !IsAbsolutePath(job) && !startFolder.empty()) {
            job = WithTrailingSlash(startFolder) + job;
        }
        if (job.size() <= kPathLength)
            plan.jobFile = std::move(job);
    }
    for (std::size_t i = 1; i < files.size(); ++i) {
        std::u16string more = files[i];
        if (i < optionCount && more == u"/config")
            continue;
        if (!more.empty() && !IsAbsolutePath(more) && !startFolder.empty())
            more = WithTrailingSlash(startFolder) + more;
        if (!more.empty() && more.size() <= kPathLength)
            plan.moreFiles.push_back(std::move(more));
    }
    // Each argument is a string of its own: "/config" is the option only as
    // a whole argument before "--", so a job file whose path holds
    // "/config" stays a job, and a first argument that names a job file is
    // always the job.
    for (std::size_t i = 0; i < optionCount; ++i) {
        if (arguments[i] != u"/config")
            continue;
        if (i == 0 && plan.jobFile && CheckJobFile(*plan.jobFile))
            continue;
        plan.configuration = true;
    }
    if (plan.jobFile && !CheckJobFile(*plan.jobFile)) {
        const std::filesystem::path path = ToFsPath(*plan.jobFile);
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
            plan.otherFileIsDocument = SniffDocumentFile(path.c_str()) != DocumentKind::Unknown;
            plan.otherFile = std::move(plan.jobFile);
            plan.jobFile.reset();
        }
    }
    return plan;
}

std::u16string LogoPathForLanguage(std::u16string_view logoPath, std::u16string_view languageCode,
                                   std::u16string_view moduleFolder) {
    std::u16string current(logoPath);
    if (current.find(u'/') == std::u16string::npos) {
        current = WithTrailingSlash(moduleFolder) + current;
    }
    std::u16string path = LogoFileFor(current, std::u16string(languageCode));
    if (path.size() > kPathLength)
        return {};
    return path;
}

void LoadLogo(AppPaths& paths, AppState& state) {
    state.logo.reset();
    const std::u16string logo =
        LogoPathForLanguage(state.settings.logoPath, paths.languageCode, paths.moduleFolder);
    if (logo.empty())
        return;
    // The settings keep the current language's logo and write it back at exit.
    state.settings.logoPath = logo;
    QImageReader reader(QString::fromStdU16String(logo));
    reader.setDecideFormatFromContent(true);
    auto image = std::make_shared<QImage>(reader.read());
    if (!image->isNull())  // a missing or broken file leaves no logo
        state.logo = std::move(image);
}

int RunMiravo(const std::vector<std::u16string>& arguments, ShellDialogs& dialogs, AppState& state,
              const StartupEnvironment& environment) {
    const std::u16string startFolder = currentFolder();

    AppPaths paths;
    LoadSettings(paths, state, environment.settings);
    // Every window's texts come from the language file: without it they
    // would all be empty. The user hears why in English and the program
    // stops before it touches a job, a document or the settings.
    if (!state.language.loaded()) {
        dialogs.tellLanguageFileUnreadable(paths.languageFile,
                                           FileReadProblem(ToFsPath(paths.languageFile)));
        return 1;
    }
    paths.passwords = environment.passwords;
    if (environment.passwords)
        LoadPassword(paths, *environment.passwords);

    std::error_code ec;
    std::filesystem::current_path(ToFsPath(paths.moduleFolder), ec);

    state.job.pageBaseName.clear();
    state.job.pageBaseRecorded = false;
    state.job.pageFileCount = 0;

    LoadLogo(paths, state);
    // The pages are joined in process: there is no merge tool to locate.

    const RunPlan plan = ChooseRunMode(arguments, startFolder);
    if (plan.jobFile) {
        state.job.jobFilePath = *plan.jobFile;
        state.job.jobArgument = *plan.jobFile;
        runGuarded([&] { dialogs.runConversion(paths); });
    } else if (plan.otherFile && !plan.configuration) {
        state.job.jobFilePath.clear();
        state.job.jobArgument.clear();
        if (plan.otherFileIsDocument)
            runGuarded([&] { dialogs.runDocumentConversion(paths, *plan.otherFile); });
        else
            runGuarded([&] { dialogs.refuseFile(paths, *plan.otherFile); });
    }
    // The job file the clean-up removes: the one named on the command line,
    // or the one a document was printed into (never the document itself).
    std::u16string jobFile = plan.jobFile.value_or(std::u16string());
    if (plan.otherFile && state.job.jobArgument != *plan.otherFile)
        jobFile = state.job.jobArgument;
    // A protected PDF the print path kept in the spool, for the password to
    // be asked here, is that print job's copy: it goes with the job.
    const bool spooledDocument =
        plan.otherFile && plan.otherFileIsDocument && IsSpooledDocument(*plan.otherFile);
    state.job.moreDocuments = plan.configuration ? std::vector<std::u16string>() : plan.moreFiles;
    if (plan.configuration) {
        state.job.documentPath.clear();
        runGuarded([&] { dialogs.runOptions(paths); });
    } else {
        runGuarded([&] { dialogs.runSendDialog(paths); });
    }

    if (environment.passwords)
        StorePassword(state.settings, *environment.passwords);
    SaveSettings(paths);
    DeleteTemporaryFiles(state, jobFile);
    if (spooledDocument)
        ::unlink(ToFsPath(*plan.otherFile).c_str());
    state.logo.reset();
    return 0;
}

}  // namespace miravo
