#include "app/DesktopUser.h"

#include <grp.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <mutex>
#include <system_error>
#include <vector>

namespace miravo {

namespace {

namespace fs = std::filesystem;

// Processes that only run inside a user's graphical session: desktop shells,
// compositors and window managers of the common desktops, their session
// managers, and the X servers (a root-owned X server is skipped by the
// owner test, a rootless one names its user).
constexpr std::array<std::string_view, 24> kSessionProcessNames = {
    "gnome-shell",   "gnome-session-binary",
    "plasmashell",   "kwin_wayland",
    "kwin_x11",      "ksmserver",
    "xfce4-session", "xfwm4",
    "mate-session",  "marco",
    "cinnamon",      "cinnamon-session",
    "lxqt-session",  "lxsession",
    "budgie-wm",     "sway",
    "weston",        "hyprland",
    "labwc",         "wayfire",
    "openbox",       "i3",
    "Xwayland",      "Xorg",
};

// The kernel keeps at most 15 characters of a command name.
constexpr std::size_t kCommandNameWidth = 15;

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

std::optional<std::string> readSmallFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes;
    // Status and environment files are small; a runaway one is cut.
    constexpr std::size_t kLimit = 1 << 20;
    char buffer[4096];
    while (bytes.size() < kLimit && in.read(buffer, sizeof buffer).gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return bytes;
}

std::optional<long> parseId(std::string_view text) {
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data() || value < 0)
        return std::nullopt;
    return value;
}

struct Ids {
    long real = -1;
    long effective = -1;
};

// "Uid:\t<real>\t<effective>\t<saved>\t<fs>" (and the same for "Gid:").
std::optional<Ids> idsFromStatus(std::string_view status, std::string_view label) {
    std::size_t pos = 0;
    while (pos < status.size()) {
        std::size_t end = status.find('\n', pos);
        if (end == std::string_view::npos)
            end = status.size();
        std::string_view line = status.substr(pos, end - pos);
        pos = end + 1;
        if (line.substr(0, label.size()) != label)
            continue;
        line.remove_prefix(label.size());
        std::vector<long> ids;
        while (!line.empty() && ids.size() < 2) {
            const std::size_t start = line.find_first_not_of(" \t");
            if (start == std::string_view::npos)
                break;
            line.remove_prefix(start);
            const std::size_t stop = std::min(line.find_first_of(" \t"), line.size());
            const auto id = parseId(line.substr(0, stop));
            if (!id)
                return std::nullopt;
            ids.push_back(*id);
            line.remove_prefix(stop);
        }
        if (ids.empty())
            return std::nullopt;
        return Ids{ids[0], ids.size() > 1 ? ids[1] : ids[0]};
    }
    return std::nullopt;
}

// One variable of a NUL-separated environment block.
std::optional<std::string> environmentValue(std::string_view block, std::string_view name) {
    std::size_t pos = 0;
    while (pos < block.size()) {
        std::size_t end = block.find('\0', pos);
        if (end == std::string_view::npos)
            end = block.size();
        const std::string_view entry = block.substr(pos, end - pos);
        pos = end + 1;
        if (entry.size() > name.size() && entry.substr(0, name.size()) == name &&
            entry[name.size()] == '=') {
            return std::string(entry.substr(name.size() + 1));
        }
    }
    return std::nullopt;
}

std::optional<fs::path> absoluteFolder(const std::optional<std::string>& value) {
    if (!value || value->empty() || value->front() != '/')
        return std::nullopt;
    return fs::path(*value).lexically_normal();
}

struct AccountEntry {
    std::string name;
    std::string home;
};

std::optional<AccountEntry> accountOf(uid_t uid) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    while (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (result == nullptr)
        return std::nullopt;
    return AccountEntry{result->pw_name ? result->pw_name : "",
                        result->pw_dir ? result->pw_dir : ""};
}

std::vector<gid_t> groupsOf(const DesktopUser& user) {
    std::vector<gid_t> groups{user.gid};
    if (user.name.empty())
        return groups;
    int count = 64;
    for (int attempt = 0; attempt < 4; ++attempt) {
        groups.assign(static_cast<std::size_t>(count), 0);
        int found = count;
        if (getgrouplist(user.name.c_str(), user.gid, groups.data(), &found) >= 0) {
            groups.resize(static_cast<std::size_t>(found));
            return groups;
        }
        count = std::max(found, count * 2);
    }
    return {user.gid};
}

// Raw system calls: the C library's set*id wrappers would change every
// thread of the process; these change the calling thread only.
long currentFsuid() {
    return syscall(SYS_setfsuid, -1);
}
long currentFsgid() {
    return syscall(SYS_setfsgid, -1);
}

bool switchThreadIdentity(const DesktopUser& user) {
    const long oldFsgid = currentFsgid();
    const std::vector<gid_t> groups = groupsOf(user);
    // The supplementary groups first, while the thread still holds every
    // right; the user's groups replace root's for file access checks.
    syscall(SYS_setgroups, groups.size(), groups.data());
    syscall(SYS_setfsgid, user.gid);
    if (currentFsgid() != static_cast<long>(user.gid))
        return false;
    syscall(SYS_setfsuid, user.uid);
    if (currentFsuid() != static_cast<long>(user.uid)) {
        syscall(SYS_setfsgid, oldFsgid);
        return false;
    }
    return true;
}

// Users whose identity some thread took over; CurrentDesktopUser finds a
// thread's user by its file-system user id.
std::mutex gUsersMutex;
std::vector<DesktopUser>& impersonatedUsers() {
    static std::vector<DesktopUser> users;
    return users;
}

}  // namespace

bool IsDesktopSessionProcessName(std::string_view processName) {
    if (processName.empty())
        return false;
    return std::any_of(kSessionProcessNames.begin(), kSessionProcessNames.end(),
                       [&](std::string_view name) { return equalsIgnoreCase(processName, name); });
}

std::string ProcessName(const fs::path& procRoot, int pid) {
    const fs::path folder = procRoot / std::to_string(pid);
    std::error_code ec;
    const fs::path executable = fs::read_symlink(folder / "exe", ec);
    if (!ec && !executable.empty()) {
        std::string name = executable.filename().string();
        // An executable replaced while running (an update) is shown so.
        constexpr std::string_view kDeleted = " (deleted)";
        if (name.size() > kDeleted.size() && name.ends_with(kDeleted)) {
            name.resize(name.size() - kDeleted.size());
        }
        if (!name.empty())
            return name;
    }
    // Without the right to read the executable link, the command name.
    const auto command = readSmallFile(folder / "comm");
    if (!command)
        return {};
    std::string name = command->substr(0, command->find('\n'));
    return name;
}

std::optional<DesktopUser> FindDesktopUserToken(int pid, const fs::path& procRoot) {
    if (pid <= 0)
        return std::nullopt;
    const std::string name = ProcessName(procRoot, pid);
    bool matches = IsDesktopSessionProcessName(name);
    if (!matches && name.size() == kCommandNameWidth) {
        // A command name cut by the kernel: compare with the cut names.
        matches = std::any_of(kSessionProcessNames.begin(), kSessionProcessNames.end(),
                              [&](std::string_view n) {
                                  return n.size() > kCommandNameWidth &&
                                         equalsIgnoreCase(name, n.substr(0, kCommandNameWidth));
                              });
    }
    if (!matches)
        return std::nullopt;

    const fs::path folder = procRoot / std::to_string(pid);
    const auto status = readSmallFile(folder / "status");
    if (!status)
        return std::nullopt;
    const auto uids = idsFromStatus(*status, "Uid:");
    const auto gids = idsFromStatus(*status, "Gid:");
    if (!uids || !gids)
        return std::nullopt;
    // Root's own processes (a system X server, a greeter run as root) do
    // not name a desktop user.
    if (uids->real == 0 || uids->effective == 0)
        return std::nullopt;

    DesktopUser user;
    user.pid = pid;
    user.uid = static_cast<uid_t>(uids->real);
    user.gid = static_cast<gid_t>(gids->real);

    const std::string environment = readSmallFile(folder / "environ").value_or(std::string());
    const auto account = accountOf(user.uid);
    if (account)
        user.name = account->name;
    if (auto home = absoluteFolder(environmentValue(environment, "HOME"))) {
        user.home = *home;
    } else if (account) {
        if (auto accountHome = absoluteFolder(account->home))
            user.home = *accountHome;
    }
    // Without a home there is nowhere to put the user's files.
    if (user.home.empty())
        return std::nullopt;
    if (auto config = absoluteFolder(environmentValue(environment, "XDG_CONFIG_HOME"))) {
        user.configHome = *config;
    } else {
        user.configHome = user.home / ".config";
    }
    return user;
}

std::optional<DesktopUser> FindDesktopUser(const fs::path& procRoot) {
    std::vector<int> pids;
    std::error_code ec;
    for (fs::directory_iterator it(procRoot, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        int pid = 0;
        const auto [stop, err] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (err == std::errc() && stop == name.data() + name.size() && pid > 0) {
            pids.push_back(pid);
        }
    }
    std::sort(pids.begin(), pids.end());
    for (int pid : pids) {
        if (auto user = FindDesktopUserToken(pid, procRoot))
            return user;
    }
    return std::nullopt;
}

void ImpersonateDesktopUser(const fs::path& procRoot) {
    if (geteuid() != 0)
        return;
    const auto user = FindDesktopUser(procRoot);
    if (!user || !switchThreadIdentity(*user))
        return;
    std::lock_guard lock(gUsersMutex);
    auto& users = impersonatedUsers();
    users.erase(std::remove_if(users.begin(), users.end(),
                               [&](const DesktopUser& u) { return u.uid == user->uid; }),
                users.end());
    users.push_back(*user);
}

std::optional<DesktopUser> CurrentDesktopUser() {
    std::lock_guard lock(gUsersMutex);
    const auto& users = impersonatedUsers();
    if (users.empty())
        return std::nullopt;
    const long fsuid = currentFsuid();
    if (fsuid <= 0 || geteuid() != 0)
        return std::nullopt;
    for (const DesktopUser& user : users) {
        if (static_cast<long>(user.uid) == fsuid)
            return user;
    }
    return std::nullopt;
}

}  // namespace miravo
