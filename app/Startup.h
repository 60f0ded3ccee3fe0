// The program's entry sequence: prepare the process, choose the run mode
// from the command line, run one top-level dialog, then write the settings
// back and delete the job's temporary files. The dialogs are injected, so
// the desktop program, the headless tools and the tests share this code.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppState.h"
#include "app/ExitCleanup.h"
#include "app/PasswordStore.h"
#include "app/SettingsStore.h"

namespace miravo {

class ShellDialogs {
  public:
    virtual ~ShellDialogs() = default;
    // The conversion run behind the "Converting" dialog; returns when it closed.
    virtual void runConversion(AppPaths& paths) = 0;
    virtual void runOptions(AppPaths& paths) = 0;     // the Options dialog alone
    virtual void runSendDialog(AppPaths& paths) = 0;  // the send dialog
    // Prints `document` into page files and a job file and converts that
    // job behind the "Converting" dialog, as a document chosen in the send
    // dialog is; tells the user when it cannot be converted.
    virtual void runDocumentConversion(AppPaths& paths, const std::u16string& document) = 0;
    // Tells the user that `file` is neither a job file nor a document that
    // can be sent.
    virtual void refuseFile(AppPaths& paths, const std::u16string& file) = 0;
    // Tells the user, in English (no text of the program could be read),
    // that the language file `file` cannot be read and why (`problem`, the
    // system's words; empty when it was read but holds no usable language).
    virtual void tellLanguageFileUnreadable(const std::u16string& file,
                                            const std::string& problem) = 0;
};

// What the command line asks for. The job step is tried first; the
// configuration run is asked for by an argument that is exactly "/config",
// unless that argument is the first one and names a job file. A "--"
// argument ends the options: every argument after it is a file (the first
// file is the job), "/config" included.
struct RunPlan {
    // The job file: the first argument, made absolute against the folder the
    // program was started in. None without arguments, and none when that
    // path does not fit a path field (770 characters): a cut path would name
    // another file, which the exit clean-up would then delete. None as well
    // when the argument names an existing file that is no job file.
    std::optional<std::u16string> jobFile;
    bool configuration = false;  // "/config" is one of the arguments
    // When the first argument names an existing file that is no job file:
    // that file, and whether its content is a document to print (PDF,
    // PostScript, PNG, JPEG or TIFF). jobFile is then none: the exit
    // clean-up must never take the user's document for a job file.
    std::optional<std::u16string> otherFile;
    bool otherFileIsDocument = false;
    // The files after the first (job files or documents), made absolute
    // the same way: one fax of all of them, in order.
    std::vector<std::u16string> moreFiles;
};
RunPlan ChooseRunMode(const std::vector<std::u16string>& arguments,
                      std::u16string_view startFolder = {});

// Where the program's folders are; tests point them at temporary folders.
struct StartupEnvironment {
    SettingsLocation settings;                 // module and application-data folders
    // Where a saved password is kept besides the settings file; none: the file only.
    PasswordStore* passwords = nullptr;
};

// Runs the whole program with `arguments` (program name excluded). Returns 0;
// 1 when the language file cannot be read: the user is told so and nothing
// else happens (a job named on the command line stays where it is).
int RunMiravo(const std::vector<std::u16string>& arguments, ShellDialogs& dialogs, AppState& state,
              const StartupEnvironment& environment = {});

// The logo of a language: `logoPath` with its file name replaced by the
// language's logo file. A path without a folder stands for a file in the
// module folder, as every relative LOGO value does. Empty when the language
// code could lead out of the logo's folder or the result does not fit a
// path field; the settings then keep their logo path and no logo is shown.
std::u16string LogoPathForLanguage(std::u16string_view logoPath, std::u16string_view languageCode,
                                   std::u16string_view moduleFolder);

// Loads the header logo of the current language into state.logo (a null
// image when the file is missing or unreadable) and keeps its path as the
// LOGO setting. Start-up calls it, and the send dialog after a language change.
void LoadLogo(AppPaths& paths, AppState& state);

}  // namespace miravo
