#include "app/Startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QImageReader>
#include <QString>

#include "app/DesktopUser.h"
#include "app/DialogTexts.h"
#include "app/Paths.h"
#include "app/Text.h"

namespace miravo {

namespace {

// Longest text a path field holds.
constexpr std::size_t kPathLength = kPathWidth - 1;

std::u16string joinedCommandLine(const std::vector<std::u16string>& arguments) {
    std::u16string text;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0)
            text.push_back(u' ');
        text += arguments[i];
    }
    return text;
}

std::u16string currentFolder() {
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::current_path(ec);
    return ec ? std::u16string() : FromFsPath(folder);
}

// Deletes one file, or the link itself when the name is a symbolic link.
// unlink() never removes a folder, whatever the name has become meanwhile.
void deleteFile(const std::u16string& name) {
    if (name.empty())
        return;
    const std::filesystem::path path = ToFsPath(name);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return;
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode))
        return;
    ::unlink(path.c_str());
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
    if (!arguments.empty()) {
        std::u16string job = arguments.front();
        // A job file named relative to the folder the program was started
        // in; the program changes its current folder before reading it.
        if (!job.empty() && !IsAbsolutePath(job) && !startFolder.empty()) {
            job = WithTrailingSlash(startFolder) + job;
        }
        if (job.size() <= kPathLength)
            plan.jobFile = std::move(job);
    }
    plan.configuration = joinedCommandLine(arguments).find(u"/config") != std::u16string::npos;
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
    state.logo = QImage();
    const std::u16string logo =
        LogoPathForLanguage(state.settings.logoPath, paths.languageCode, paths.moduleFolder);
    if (logo.empty())
        return;
    // The settings keep the current language's logo and write it back at exit.
    state.settings.logoPath = logo;
    QImageReader reader(QString::fromStdU16String(logo));
    reader.setDecideFormatFromContent(true);
    state.logo = reader.read();  // a missing or broken file leaves a null image
}

int RunMiravo(const std::vector<std::u16string>& arguments, ShellDialogs& dialogs, AppState& state,
              const StartupEnvironment& environment) {
    const std::u16string startFolder = currentFolder();

    ImpersonateDesktopUser(environment.procRoot);

    AppPaths paths;
    LoadSettings(paths, state, environment.settings);

    std::error_code ec;
    std::filesystem::current_path(ToFsPath(paths.moduleFolder), ec);

    state.job.pageBaseName.clear();
    state.job.pageBaseRecorded = false;
    state.job.pageFileCount = 0;

    LoadLogo(paths, state);
    // The pages are joined in process: there is no merge tool to locate.

    const RunPlan plan = ChooseRunMode(arguments, startFolder);
    if (plan.jobFile) {
        state.job.documentPath = *plan.jobFile;
        state.job.jobArgument = *plan.jobFile;
        runGuarded([&] { dialogs.runConversion(paths); });
    }
    if (plan.configuration) {
        state.job.documentPath.clear();
        runGuarded([&] { dialogs.runOptions(paths); });
    } else {
        runGuarded([&] { dialogs.runSendDialog(paths); });
    }

    SaveSettings(paths);
    DeleteTemporaryFiles(state, plan.jobFile.value_or(std::u16string()));
    state.logo = QImage();
    return 0;
}

void DeleteTemporaryFiles(const AppState& state, const std::u16string& jobFileArgument) {
    const FaxJob& job = state.job;
    deleteFile(job.coverDocumentPath);
    // The conversion's own folder holds nothing but its document.
    if (!job.runFolder.empty())
        RemoveRunFolder(job.runFolder);
    if (!job.pageBaseRecorded)
        return;
    // A base name that was never filled would turn into names relative to
    // the current folder ("_1", "_2", ...), which are not the job's files.
    if (!job.pageBaseName.empty()) {
        for (std::int32_t i = 1; i <= job.pageFileCount; ++i) {
            deleteFile(job.pageBaseName + u"_" + toU16(i));
        }
    }
    deleteFile(job.documentPath);
    deleteFile(job.coverDocumentPath);
    deleteFile(jobFileArgument);
}

}  // namespace miravo
