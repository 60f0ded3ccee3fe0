#include "app/SettingsStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "app/FileBytes.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/ProfileIni.h"
#include "app/RegionCode.h"
#include "app/Text.h"

namespace miravo {

namespace {

constexpr char16_t kSettings[] = u"SETTINGS";
constexpr char16_t kOptions[] = u"OPTIONS";
constexpr unsigned kSettingsFileMode = 0600;
constexpr char16_t kKeyring[] = u"keyring";

bool isRegularFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Moves the settings file of the module folder over the one in the
// application-data folder. A rename is atomic; across file systems the file
// is copied to a temporary name first and the original removed before the
// copy takes its place, so a failure never leaves a second copy that would
// replace the user's settings again at every start.
void moveIntoAppData(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (from == to)
        return;
    if (::rename(from.c_str(), to.c_str()) == 0 || errno != EXDEV)
        return;
    if (!isRegularFile(from))
        return;

    std::string bytes;
    if (ReadFileBytes(from, bytes) != FileRead::Read)
        return;

    std::string temp = to.string() + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return;
    bool ok = WriteAll(fd, bytes.data(), bytes.size());
    ok = ok && ::fchmod(fd, kSettingsFileMode) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::unlink(from.c_str()) != 0) {
        ::unlink(temp.c_str());
        return;
    }
    // Should even this rename fail, the temporary file keeps the settings.
    ::rename(temp.c_str(), to.c_str());
}

// A folder's path as program text with exactly one '/' before `name`.
std::u16string joinPath(std::u16string_view folder, std::u16string_view name) {
    return WithTrailingSlash(folder) + std::u16string(name);
}

// A value relative to the module folder, cut to the room of a path field.
std::u16string underModuleFolder(const std::u16string& moduleFolder, std::u16string_view value) {
    if (IsAbsolutePath(value))
        return std::u16string(value);
    return fitField(moduleFolder + std::u16string(value), kPathWidth);
}

bool readFlag(const ProfileFile& file, std::u16string_view key, unsigned fallback) {
    return file.getInt(kOptions, key, fallback) != 0;
}

void readOptions(AppPaths& paths, AppState& state, const ProfileFile& file) {
    paths.state = &state;
    state.job.coverDocumentPath.clear();
    state.job.coverPageOn = false;

    AppSettings& s = state.settings;
    s.showAdvanced = readFlag(file, u"SHOW_ADVANCED", 0);
    s.savePassword = readFlag(file, u"SAVE_PASS", 0);
    s.closeWindow = readFlag(file, u"CLOSE_WND", 0);
    s.transmissionReport = readFlag(file, u"TRANSITION_REPORT", 1);
    s.reportAttach = readFlag(file, u"TRANSITION_REPORT_ATTACH", 1);
    // SHOW_PASS is written at exit but never read: the password starts hidden.
    s.showPassword = false;
    // A stored choice keeps its meaning; settings that never chose a
    // method (neither key written) get the automatic one.
    ReadConversionKeys(file, s);

    s.timeoutMs = file.getInt(kOptions, u"TIMEOUT", kMinimumTimeoutMs);
    if (s.timeoutMs < kMinimumTimeoutMs)
        s.timeoutMs = kMinimumTimeoutMs;

    const unsigned maxPages = file.getInt(kOptions, u"MAX_PAGES", 200);
    s.maxPages = maxPages >= 1 && maxPages <= 100000 ? static_cast<int>(maxPages) : 200;

    s.userName = file.getString(kOptions, u"USER_NAME", u"", kNameWidth);
    s.password = file.getString(kOptions, u"USER_PASS", u"", kNameWidth);
    s.passwordInKeyring =
        equalsIgnoreAsciiCase(file.getString(kOptions, u"PASS_STORE", u"", kCodeWidth), kKeyring);
    s.serviceHost = file.getString(kOptions, u"SERV_NAME", kDefaultServiceHost, kPathWidth);
    s.objectPath = file.getString(kOptions, u"OBJ_NAME", kDefaultObjectPath, kPathWidth);
    const std::u16string logo = file.getString(kOptions, u"LOGO", kDefaultLogo, kPathWidth);
    // The sign-up page is the service's own, wherever SERV_NAME points.
    s.subscribe = file.getString(kOptions, u"SUBSCRIBE", DefaultSubscribeAddress(s.serviceHost),
                                 kPathWidth);
    s.delimiter = file.getString(kOptions, u"DELIMITER", u",", kDelimiterWidth);
    if (equalsIgnoreAsciiCase(s.delimiter, u"TAB"))
        s.delimiter = u"\t";

    const std::u16string documents = fitField(DocumentsFolder(), kPathWidth);
    s.lastMassFileDir = file.getString(kOptions, u"LAST_DIR_ADD_MASS_FILE", documents, kPathWidth);
    if (s.lastMassFileDir.empty())
        s.lastMassFileDir = documents;
    s.lastDocumentDir = file.getString(kOptions, u"LAST_DIR_DOCUMENT", u"", kPathWidth);
    s.lastExportDir = file.getString(kOptions, u"LAST_DIR_EXPORT", u"", kPathWidth);
    s.lastContactsDir = file.getString(kOptions, u"LAST_DIR_CONTACTS", u"", kPathWidth);
    s.sendWindowPlace = file.getString(kOptions, u"WINDOW_SEND", u"", kNameWidth);
    s.statusWindowPlace = file.getString(kOptions, u"WINDOW_STATUS", u"", kNameWidth);
    s.sentFaxesWindowPlace = file.getString(kOptions, u"WINDOW_SENT_FAXES", u"", kNameWidth);
    s.previewWindowPlace = file.getString(kOptions, u"WINDOW_PREVIEW", u"", kNameWidth);

    s.logoPath = underModuleFolder(paths.moduleFolder, logo);
    s.caFile = file.getString(kOptions, u"CA_FILE", u"", kPathWidth);
    s.versionHost = file.getString(kOptions, u"VERSION_HOST", kDefaultVersionHost, kPathWidth);

    s.maxDestinationsPerFax = std::clamp<std::uint32_t>(
        file.getInt(kOptions, u"MAX_DESTINATIONS_PER_FAX", kDefaultMaxDestinationsPerFax), 1,
        kMostDestinationsPerFax);
    s.defaultRegion = RegionCode(file.getString(kOptions, u"DEFAULT_REGION", u"", kCodeWidth));
    s.keepSentDays = std::min<std::uint32_t>(file.getInt(kOptions, u"KEEP_SENT_DAYS", 90), 36500);
    s.keepSentMb = std::min<std::uint32_t>(file.getInt(kOptions, u"KEEP_SENT_MB", 500), 1u << 20);
}

std::u16string flag(bool on) {
    return on ? u"1" : u"0";
}

}  // namespace

void LoadStoredSettings(AppPaths& paths, AppState& state, const SettingsLocation& location) {
    const std::u16string fileName = location.settingsFileName.empty()
                                        ? std::u16string(kDefaultSettingsFileName)
                                        : location.settingsFileName;
    paths.moduleFolder = fitField(
        WithTrailingSlash(location.moduleFolder.empty() ? ModuleFolder() : location.moduleFolder),
        kPathWidth);
    paths.settingsPath = fitField(paths.moduleFolder + fileName, kPathWidth);

    std::u16string appData;
    if (location.appDataFolder) {
        std::error_code ec;
        std::filesystem::create_directories(*location.appDataFolder, ec);
        if (std::filesystem::is_directory(*location.appDataFolder, ec)) {
            appData = FromFsPath(*location.appDataFolder);
        }
    } else {
        appData = ApplicationDataFolder();
    }
    if (!appData.empty()) {
        const std::u16string target = fitField(joinPath(appData, fileName), kPathWidth);
        moveIntoAppData(ToFsPath(paths.settingsPath), ToFsPath(target));
        paths.settingsPath = target;
    }

    const std::filesystem::path settingsFile = ToFsPath(paths.settingsPath);
    if (!location.keepEncoding)
        EnsureUnicodeFile(settingsFile);
    const ProfileFile file = ProfileFile::load(settingsFile);

    paths.languageCode = file.getString(kSettings, u"lang", kDefaultLanguageCode, kCodeWidth);
    const std::u16string languageFile =
        file.getString(kSettings, u"langFile", kDefaultLanguageFile, kPathWidth);
    paths.languageFile = underModuleFolder(paths.moduleFolder, languageFile);
    if (!isRegularFile(ToFsPath(paths.languageFile))) {
        paths.languageFile = fitField(paths.moduleFolder + kDefaultLanguageFile, kPathWidth);
    }

    LoadLanguage(state.language, paths.languageFile, paths.languageCode);

    readOptions(paths, state, file);
}

namespace {

// Every "OPTIONS" key with the text it is written as.
std::vector<std::pair<std::u16string_view, std::u16string>> optionValues(const AppSettings& s) {
    return {
        {u"SHOW_ADVANCED", flag(s.showAdvanced)},
        {u"SAVE_PASS", flag(s.savePassword)},
        {u"CLOSE_WND", flag(s.closeWindow)},
        {u"TRANSITION_REPORT", flag(s.transmissionReport)},
        {u"TRANSITION_REPORT_ATTACH", flag(s.reportAttach)},
        {u"SHOW_PASS", flag(s.showPassword)},
        {u"DITHERING", flag(s.dithering)},
        {u"THRESHOLD", flag(s.threshold)},
        {u"AUTOMATIC_METHOD", flag(s.automaticMethod)},
        {u"TIMEOUT", toU16(static_cast<long>(s.timeoutMs))},
        {u"USER_NAME", fitField(s.userName, kNameWidth)},
        {u"USER_PASS", s.savePassword && !s.passwordInKeyring ? fitField(s.password, kNameWidth)
                                                              : std::u16string()},
        {u"PASS_STORE", s.passwordInKeyring ? kKeyring : u"file"},
        {u"SERV_NAME", fitField(s.serviceHost, kPathWidth)},
        {u"OBJ_NAME", fitField(s.objectPath, kPathWidth)},
        {u"SUBSCRIBE", fitField(s.subscribe, kPathWidth)},
        {u"LOGO", fitField(s.logoPath, kPathWidth)},
        {u"DELIMITER",
         fitField(!s.delimiter.empty() && s.delimiter.front() == u'\t' ? u"TAB" : s.delimiter,
                  kDelimiterWidth)},
        {u"LAST_DIR_ADD_MASS_FILE", fitField(s.lastMassFileDir, kPathWidth)},
        {u"CA_FILE", fitField(s.caFile, kPathWidth)},
        {u"VERSION_HOST", fitField(s.versionHost, kPathWidth)},
        {u"MAX_DESTINATIONS_PER_FAX", toU16(static_cast<long>(s.maxDestinationsPerFax))},
        {u"DEFAULT_REGION", fitField(s.defaultRegion, kCodeWidth)},
    };
}

}  // namespace

bool SaveChangedSettings(const AppPaths& paths, const AppSettings& before) {
    if (!paths.state || paths.settingsPath.empty())
        return false;
    const auto was = optionValues(before);
    const auto now = optionValues(paths.state->settings);
    const std::filesystem::path settingsFile = ToFsPath(paths.settingsPath);
    ProfileFile file = ProfileFile::load(settingsFile);
    bool changed = false;
    for (std::size_t i = 0; i < now.size(); ++i) {
        if (now[i].second == was[i].second)
            continue;
        file.set(kOptions, now[i].first, now[i].second);
        changed = true;
    }
    return !changed || file.save(settingsFile, kSettingsFileMode);
}

bool SaveSettings(const AppPaths& paths) {
    if (!paths.state || paths.settingsPath.empty())
        return false;
    const AppSettings& s = paths.state->settings;
    const std::filesystem::path settingsFile = ToFsPath(paths.settingsPath);
    ProfileFile file = ProfileFile::load(settingsFile);

    file.set(kSettings, u"lang", fitField(paths.languageCode, kCodeWidth));
    file.set(kSettings, u"langFile", fitField(paths.languageFile, kPathWidth));

    auto text = [&file](std::u16string_view key, std::u16string_view value, std::size_t width) {
        file.set(kOptions, key, fitField(value, width));
    };
    file.set(kOptions, u"SHOW_ADVANCED", flag(s.showAdvanced));
    file.set(kOptions, u"SAVE_PASS", flag(s.savePassword));
    file.set(kOptions, u"CLOSE_WND", flag(s.closeWindow));
    file.set(kOptions, u"TRANSITION_REPORT", flag(s.transmissionReport));
    file.set(kOptions, u"TRANSITION_REPORT_ATTACH", flag(s.reportAttach));
    file.set(kOptions, u"SHOW_PASS", flag(s.showPassword));
    file.set(kOptions, u"DITHERING", flag(s.dithering));
    file.set(kOptions, u"THRESHOLD", flag(s.threshold));
    file.set(kOptions, u"AUTOMATIC_METHOD", flag(s.automaticMethod));
    file.set(kOptions, u"TIMEOUT", toU16(static_cast<long>(s.timeoutMs)));
    file.set(kOptions, u"MAX_PAGES", toU16(static_cast<long>(s.maxPages)));
    text(u"USER_NAME", s.userName, kNameWidth);
    const bool passwordInFile = s.savePassword && !s.passwordInKeyring;
    text(u"USER_PASS", passwordInFile ? s.password : std::u16string(), kNameWidth);
    // A file that never had its password in the keyring is left without the key.
    if (s.passwordInKeyring || file.value(kOptions, u"PASS_STORE"))
        file.set(kOptions, u"PASS_STORE", s.passwordInKeyring ? kKeyring : u"file");
    text(u"SERV_NAME", s.serviceHost, kPathWidth);
    text(u"OBJ_NAME", s.objectPath, kPathWidth);
    text(u"SUBSCRIBE", s.subscribe, kPathWidth);
    text(u"LOGO", s.logoPath, kPathWidth);
    text(u"DELIMITER", !s.delimiter.empty() && s.delimiter.front() == u'\t' ? u"TAB" : s.delimiter,
         kDelimiterWidth);
    text(u"LAST_DIR_ADD_MASS_FILE", s.lastMassFileDir, kPathWidth);
    text(u"CA_FILE", s.caFile, kPathWidth);
    text(u"VERSION_HOST", s.versionHost, kPathWidth);
    // What the desktop remembers of its folders and windows: written once known.
    auto remembered = [&](std::u16string_view key, const std::u16string& value) {
        if (!value.empty())
            text(key, value, kPathWidth);
    };
    remembered(u"LAST_DIR_DOCUMENT", s.lastDocumentDir);
    remembered(u"LAST_DIR_EXPORT", s.lastExportDir);
    remembered(u"LAST_DIR_CONTACTS", s.lastContactsDir);
    remembered(u"WINDOW_SEND", s.sendWindowPlace);
    remembered(u"WINDOW_STATUS", s.statusWindowPlace);
    remembered(u"WINDOW_SENT_FAXES", s.sentFaxesWindowPlace);
    remembered(u"WINDOW_PREVIEW", s.previewWindowPlace);
    file.set(kOptions, u"MAX_DESTINATIONS_PER_FAX", toU16(static_cast<long>(s.maxDestinationsPerFax)));
    text(u"DEFAULT_REGION", s.defaultRegion, kCodeWidth);

    return file.save(settingsFile, kSettingsFileMode);
}

}  // namespace miravo
