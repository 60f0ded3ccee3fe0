// The program's entry sequence: prepare the process, choose the run mode
// from the command line, run one top-level dialog, then write the settings
// back and delete the job's temporary files. The dialogs are injected, so
// the desktop program, the headless tools and the tests share this code.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/AppState.h"

namespace miravo {

class ShellDialogs {
public:
    virtual ~ShellDialogs() = default;
    // The conversion run behind the "Converting" dialog; returns when it closed.
    virtual void runConversion(AppPaths& paths) = 0;
    virtual void runOptions(AppPaths& paths) = 0;     // the Options dialog alone
    virtual void runSendDialog(AppPaths& paths) = 0;  // the send dialog
};

// What the command line asks for. The job step is tried first; the
// configuration test is a case-sensitive substring test on the whole
// command-line text after the program name.
struct RunPlan {
    std::optional<std::u16string> jobFile;  // first argument, when there is one
    bool configuration = false;             // "/config" occurs in the command line
};
RunPlan ChooseRunMode(const std::vector<std::u16string>& arguments);

// Where the program's folders are; tests point them at temporary folders.
struct StartupEnvironment {
    std::u16string moduleFolder;  // empty: found from the running executable
    std::optional<std::filesystem::path> appDataFolder;  // empty: from XDG/HOME
    std::u16string settingsFileName = u"app_config.ini";
};

// Runs the whole program with `arguments` (program name excluded). Returns 0.
int RunMiravo(const std::vector<std::u16string>& arguments, ShellDialogs& dialogs,
              AppState& state, const StartupEnvironment& environment = {});

// Deletes the job's files at exit: the cover-page document, and when the
// conversion recorded a page base name, the print monitor's page files, the
// joined document, the cover-page document again and the job file.
void DeleteTemporaryFiles(const AppState& state, const std::u16string& jobFileArgument);

}  // namespace miravo
