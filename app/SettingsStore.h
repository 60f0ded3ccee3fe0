// The settings store: finds the program's folders, moves a settings file
// left in the module folder into the application-data folder, makes sure
// the file is UTF-16LE, loads the language and reads every option at start;
// writes them all back, atomically and readable only by the user, at exit.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/AppState.h"
#include "app/ConversionSettings.h"

namespace miravo {

// Defaults of the keys that name the fax service: the local service
// (miravo-server) listens on these addresses out of the box.
inline constexpr char16_t kDefaultServiceHost[] = u"127.0.0.1:8443";
inline constexpr char16_t kDefaultObjectPath[] = u"api2/proxy.php";
// SUBSCRIBE's default: the sign-up page of the service at `serviceHost`.
inline std::u16string DefaultSubscribeAddress(std::u16string_view serviceHost) {
    return u"https://" + std::u16string(serviceHost) + u"/signup";
}
inline constexpr char16_t kDefaultVersionHost[] = u"127.0.0.1:8080";
inline constexpr char16_t kDefaultLogo[] = u"images/en_logo.gif";
inline constexpr char16_t kDefaultLanguageFile[] = u"lang.ini";
inline constexpr char16_t kDefaultLanguageCode[] = u"en";
inline constexpr char16_t kDefaultSettingsFileName[] = u"app_config.ini";
inline constexpr std::uint32_t kMinimumTimeoutMs = 1000;

// Where the settings live.
struct SettingsLocation {
    // The folder holding lang.ini and images/; empty: ModuleFolder().
    std::u16string moduleFolder;
    // The per-user folder for the settings file; empty: ApplicationDataFolder().
    std::optional<std::filesystem::path> appDataFolder;
    // Empty means the default name.
    std::u16string settingsFileName = kDefaultSettingsFileName;
    // Leave the file in the encoding it has (the headless sender changes a
    // file given to it only where a value changed).
    bool keepEncoding = false;
};

// Fills `paths` (module folder, settings path, language file and code, state
// reference), moves a module-folder settings file into the application-data
// folder (replacing the copy there), converts the file to UTF-16LE, loads
// the language table into state.language and reads every option into
// state.settings. Never fails: missing or unreadable values give defaults.
// The default region is one the phone-number library knows: the stored one,
// else the locale's (defined with the number check, app/DefaultRegion.cpp).
void LoadSettings(AppPaths& paths, AppState& state, const SettingsLocation& location = {});

// As LoadSettings, but the default region stays as the file names it (two
// capitals, or empty) unchecked: a program that checks no number, such as
// the conversion on its own, then loads neither the phone-number library
// nor the locale's data, which cost more to start than a page to convert.
void LoadStoredSettings(AppPaths& paths, AppState& state, const SettingsLocation& location = {});

// Writes "SETTINGS" and every "OPTIONS" key from memory into the settings
// file in one atomic replacement with mode 0600. Silent on failure (the old
// file then stays as it was); returns whether the file was written.
bool SaveSettings(const AppPaths& paths);

// Writes only the "OPTIONS" keys whose values differ from `before`, in the
// file's own encoding; nothing at all when none changed. Returns whether
// the file is as it should be.
bool SaveChangedSettings(const AppPaths& paths, const AppSettings& before);

}  // namespace miravo
