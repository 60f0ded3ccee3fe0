#include "app/Paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/Text.h"

namespace miravo {

namespace {

std::mutex overrideMutex;
std::optional<std::u16string> appDataOverride;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string homeBytes() {
    std::string home = environment("HOME");
    if (!home.empty())
        return home;
    // No HOME (a service, a cron job): the password database knows it.
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        home = found->pw_dir;
    }
    return home;
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Creates the folder and any missing parents with mode 0700, as the XDG
// rules ask for per-user folders.
bool makeFolders(const std::string& path) {
    if (path.empty() || path.front() != '/')
        return false;
    if (isDirectory(path))
        return true;
    std::size_t pos = 1;
    while (pos <= path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string::npos)
            next = path.size();
        const std::string part = path.substr(0, next);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        pos = next + 1;
    }
    return isDirectory(path);
}

// A per-user folder below a shared place must be ours and a real folder
// (not a link someone put there first).
bool isOwnFolder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

std::string xdgCacheHome() {
    const std::string configured = environment("XDG_CACHE_HOME");
    if (!configured.empty() && configured.front() == '/')
        return withoutTrailingSlashes(configured);
    const std::string home = homeBytes();
    if (home.empty())
        return {};
    return withoutTrailingSlashes(home) + "/.cache";
}

std::string xdgConfigHome() {
    const std::string configured = environment("XDG_CONFIG_HOME");
    // Relative values are invalid by the XDG rules and are ignored.
    if (!configured.empty() && configured.front() == '/')
        return withoutTrailingSlashes(configured);
    const std::string home = homeBytes();
    if (home.empty())
        return {};
    return withoutTrailingSlashes(home) + "/.config";
}

// The documents folder that user-dirs.dirs names: XDG_DOCUMENTS_DIR="$HOME/..."
// or an absolute path, in double quotes, with backslash escapes.
std::string documentsFromUserDirs(const std::string& configHome, const std::string& home) {
    const std::string file = configHome + "/user-dirs.dirs";
    if (configHome.empty() || !isRegularFile(file))
        return {};
    std::ifstream in(file);
    std::string line;
    std::string found;
    while (std::getline(in, line)) {
        std::size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line[i] == '#')
            continue;
        const std::string name = "XDG_DOCUMENTS_DIR=";
        if (line.compare(i, name.size(), name) != 0)
            continue;
        i += name.size();
        if (i >= line.size() || line[i] != '"')
            continue;
        std::string value;
        bool closed = false;
        for (++i; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                value.push_back(line[++i]);
            } else if (line[i] == '"') {
                closed = true;
                break;
            } else {
                value.push_back(line[i]);
            }
        }
        if (!closed)
            continue;
        if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/')) {
            if (home.empty())
                continue;
            value = withoutTrailingSlashes(home) + value.substr(5);
        } else if (value.empty() || value.front() != '/') {
            continue;
        }
        found = value;  // the last assignment wins, as in the shell
    }
    return found;
}

std::string executableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty())
        return {};
    return withoutTrailingSlashes(exe.parent_path().string());
}

}  // namespace

// File names are bytes. Bytes that are no UTF-8 stand in program text as
// the lone surrogates U+DC80..U+DCFF and turn back into the same bytes, so
// a name in another encoding still names its file.
std::filesystem::path ToFsPath(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xDC80 && c < 0xDD00) {
            bytes.push_back(static_cast<char>(c - 0xDC00));
            continue;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        appendUtf8(bytes, c);
    }
    return std::filesystem::path(std::move(bytes));
}

std::u16string FromFsPath(const std::filesystem::path& path) {
    const std::string& bytes = path.native();
    if (isValidUtf8(bytes))
        return fromUtf8(bytes);
    std::u16string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
        const unsigned char lead = byte(i);
        const std::size_t length = lead < 0x80                   ? 1
                                   : lead >= 0xC2 && lead < 0xE0 ? 2
                                   : lead >= 0xE0 && lead < 0xF0 ? 3
                                   : lead >= 0xF0 && lead < 0xF5 ? 4
                                                                 : 0;
        bool valid = length > 0 && i + length <= bytes.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (byte(i + k) & 0xC0) == 0x80;
        if (valid && length > 1) {
            // One code point, unless it is written too long or is a surrogate.
            const std::u16string decoded = fromUtf8(std::string_view(bytes).substr(i, length));
            valid = decoded.size() <= 2 && decoded.find(u'\uFFFD') == std::u16string::npos;
            if (valid) {
                text += decoded;
                i += length;
                continue;
            }
        }
        text.push_back(valid ? char16_t(lead) : static_cast<char16_t>(0xDC00 | lead));
        ++i;
    }
    return text;
}

std::u16string WithTrailingSlash(std::u16string_view folder) {
    std::u16string out(folder);
    if (!out.empty() && out.back() != u'/')
        out.push_back(u'/');
    return out;
}

void OverrideApplicationDataFolder(std::optional<std::u16string> folder) {
    std::lock_guard lock(overrideMutex);
    appDataOverride = std::move(folder);
}

std::u16string ApplicationDataFolder() {
    std::string folder;
    {
        std::lock_guard lock(overrideMutex);
        if (appDataOverride)
            folder = toUtf8(*appDataOverride);
    }
    if (folder.empty()) {
        const std::string config = xdgConfigHome();
        if (config.empty())
            return {};
        folder = config + "/Miravo";
    }
    folder = withoutTrailingSlashes(folder);
    if (!makeFolders(folder))
        return {};
    return fromUtf8(folder);
}

std::u16string CacheFolder() {
    const std::string cache = xdgCacheHome();
    if (cache.empty())
        return {};
    const std::string folder = cache + "/Miravo";
    if (!makeFolders(folder))
        return {};
    return fromUtf8(folder);
}

namespace {

// `folder`, made 0700 when missing; empty unless it is this user's own.
std::u16string ownSpool(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    if (!isOwnFolder(folder))
        return {};
    return fromUtf8(folder);
}

}  // namespace

std::u16string SpoolFolder() {
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    if (!runtime.empty() && runtime.front() == '/' && isDirectory(runtime))
        return ownSpool(withoutTrailingSlashes(runtime) + "/miravo");
    return LastingSpoolFolder();
}

std::u16string LastingSpoolFolder() {
    const std::u16string cache = CacheFolder();
    if (cache.empty())
        return {};
    return ownSpool(toUtf8(cache) + "/spool");
}

bool IsSpooledDocument(std::u16string_view path) {
    const std::filesystem::path file = ToFsPath(std::u16string(path));
    const std::string name = file.filename().string();
    const std::size_t title = name.find("__ps__pdf_");
    if (!file.is_absolute() || title == std::string::npos || title == 0 || name.size() < 4 ||
        name.compare(name.size() - 4, 4, ".pdf") != 0)
        return false;
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid())
        return false;
    const std::filesystem::path folder = file.lexically_normal().parent_path();
    std::vector<std::filesystem::path> spools = {ToFsPath(SpoolFolder()),
                                                 ToFsPath(LastingSpoolFolder())};
    const std::string home = environment("HOME");
    if (!home.empty() && home.front() == '/')
        spools.push_back(std::filesystem::path(home) / ".cache/Miravo/spool");
    for (const std::filesystem::path& spool : spools)
        if (!spool.empty() && folder == spool.lexically_normal())
            return true;
    return false;
}

std::u16string MakeRunFolder() {
    const std::u16string cache = CacheFolder();
    if (cache.empty())
        return {};
    std::string name = toUtf8(cache) + "/run-XXXXXX";
    if (!::mkdtemp(name.data()))  // mode 0700, a name nobody else holds
        return {};
    return fromUtf8(name);
}

void RemoveRunFolder(std::u16string_view folder) {
    const std::string path = withoutTrailingSlashes(toUtf8(folder));
    if (path.empty() || path.front() != '/' || !isOwnFolder(path))
        return;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);  // removes links, never what they point to
}

std::u16string DocumentsFolder() {
    const std::string home = withoutTrailingSlashes(homeBytes());
    std::string documents = environment("XDG_DOCUMENTS_DIR");
    if (documents.empty() || documents.front() != '/') {
        documents = documentsFromUserDirs(xdgConfigHome(), home);
    }
    documents = withoutTrailingSlashes(documents);
    if (isDirectory(documents))
        return fromUtf8(documents);
    return fromUtf8(home);
}

std::u16string ProfileFolder() {
    return fromUtf8(withoutTrailingSlashes(homeBytes()));
}

std::u16string ModuleFolder() {
    const std::string exeFolder = executableFolder();
    if (exeFolder.empty())
        return u"./";
    const std::string base = exeFolder == "/" ? std::string() : exeFolder;
    if (isRegularFile(base + "/lang.ini"))
        return fromUtf8(base + "/");
    // Installed: the executable in <prefix>/bin, its data in <prefix>/share/miravo.
    const std::string shared =
        std::filesystem::path(base + "/../share/miravo").lexically_normal().string();
    if (isDirectory(shared))
        return WithTrailingSlash(fromUtf8(shared));
    return fromUtf8(base + "/");
}

std::u16string UserDataFilePath(std::u16string_view fileName) {
    const std::u16string folder = ApplicationDataFolder();
    if (folder.empty())
        return {};
    return fitField(WithTrailingSlash(folder) + std::u16string(fileName), kPathWidth);
}

}  // namespace miravo
