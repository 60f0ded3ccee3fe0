// The program's folders on this system: the per-user application-data
// folder (XDG config home), the documents folder, the home folder and the
// module folder that holds lang.ini and images/. Folders are program text
// (UTF-16); ToFsPath/FromFsPath convert at the file-system edge without
// throwing.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace miravo {

// $XDG_CONFIG_HOME/Miravo (an absolute XDG_CONFIG_HOME only), else
// $HOME/.config/Miravo; created (mode 0700) when missing. No trailing '/'.
// Empty when no home folder is known or the folder cannot be created.
std::u16string ApplicationDataFolder();

// Points ApplicationDataFolder() (and so UserDataFilePath()) at another
// folder for the whole process, or back to the XDG folder with nullopt.
// Meant for tests and tools that keep their data elsewhere.
void OverrideApplicationDataFolder(std::optional<std::u16string> folder);

// The program's cache: $XDG_CACHE_HOME/Miravo (an absolute XDG_CACHE_HOME
// only), else $HOME/.cache/Miravo; created (mode 0700) when missing. It
// holds the folders of conversion runs and the cover-page files. No
// trailing '/'. Empty when no home folder is known or it cannot be created.
std::u16string CacheFolder();

// Where print jobs wait for the program: $XDG_RUNTIME_DIR/miravo when the
// runtime folder is set and exists, else CacheFolder() + "/spool"; created
// (mode 0700) when missing and refused unless it is a folder of this user.
// No trailing '/'. Empty when neither is available.
std::u16string SpoolFolder();
// The spool under the cache folder (0700), which SpoolFolder() falls back
// to without a runtime folder: jobs printed with nobody logged in wait
// there, since the runtime folder goes at logout.
std::u16string LastingSpoolFolder();

// Whether `path` is a document the print path kept in a spool for this
// program (a protected PDF, "<title>__ps__pdf_<n>.pdf"): a regular file of
// this user, not a link, right in SpoolFolder(), LastingSpoolFolder() or
// the print backend's spool ($HOME/.cache/Miravo/spool). Such a document
// belongs to its print job and goes when the job is done.
bool IsSpooledDocument(std::u16string_view path);

// A new folder of its own for one conversion run, in CacheFolder(): unique,
// mode 0700, named "run-" and six letters or digits. Empty on failure.
std::u16string MakeRunFolder();

// Removes a folder the program made and everything in it. Links inside are
// removed, never followed; anything but a folder of this user is left alone.
void RemoveRunFolder(std::u16string_view folder);

// The user's documents folder: $XDG_DOCUMENTS_DIR, else XDG_DOCUMENTS_DIR of
// user-dirs.dirs in the XDG config home, when that folder exists; else the
// home folder. No trailing '/'.
std::u16string DocumentsFolder();

// The home folder ($HOME, else the password database's entry). No trailing '/'.
std::u16string ProfileFolder();

// The folder of the running executable when it holds lang.ini, else
// <exe dir>/../share/miravo/ when that folder exists, else the executable's
// folder. Always ends with '/'.
std::u16string ModuleFolder();

// A file in the application-data folder: folder + '/' (unless the folder
// already ends with one) + fileName, cut to 770 characters. Empty when the
// application-data folder is not available.
std::u16string UserDataFilePath(std::u16string_view fileName);

// Program text <-> file-system path (UTF-8 bytes); never throws.
std::filesystem::path ToFsPath(std::u16string_view text);
std::u16string FromFsPath(const std::filesystem::path& path);

// Whether a path is absolute (the local meaning of "holds a drive colon").
inline bool IsAbsolutePath(std::u16string_view text) {
    return !text.empty() && text.front() == u'/';
}

// `folder` with a trailing '/' added when it has none (empty stays empty).
std::u16string WithTrailingSlash(std::u16string_view folder);

}  // namespace miravo
