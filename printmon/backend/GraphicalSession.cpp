#include "printmon/backend/GraphicalSession.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>

namespace miravo::backend {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 6> kSessionNames = {
    "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS", "HOME"};
constexpr std::size_t kMaxEnvironment = 1 << 20;

// The whole environment block of a process, up to a sane size.
std::string readEnvironment(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    std::string block;
    char buffer[8192];
    ssize_t n = 0;
    while (block.size() < kMaxEnvironment && (n = ::read(fd, buffer, sizeof buffer)) > 0)
        block.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return block;
}

SessionVariables sessionVariables(std::string_view block) {
    SessionVariables found;
    while (!block.empty()) {
        const std::size_t end = std::min(block.find('\0'), block.size());
        const std::string_view entry = block.substr(0, end);
        block.remove_prefix(std::min(end + 1, block.size()));
        const std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view name = entry.substr(0, equals);
        if (std::find(kSessionNames.begin(), kSessionNames.end(), name) != kSessionNames.end() &&
            SessionValue(found, std::string(name)).empty())
            found.emplace_back(name, entry.substr(equals + 1));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::find(kSessionNames.begin(), kSessionNames.end(), a.first) <
               std::find(kSessionNames.begin(), kSessionNames.end(), b.first);
    });
    return found;
}

}  // namespace

std::string SessionValue(const SessionVariables& variables, const std::string& name) {
    for (const auto& [key, value] : variables)
        if (key == name)
            return value;
    return {};
}

std::optional<GraphicalSession> FindGraphicalSession(uid_t uid, const fs::path& procRoot) {
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(procRoot, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.size() > 9 ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == uid)
            pids.push_back(static_cast<pid_t>(std::atol(name.c_str())));
    }
    std::sort(pids.begin(), pids.end());
    for (const pid_t pid : pids) {
        SessionVariables variables =
            sessionVariables(readEnvironment(procRoot / std::to_string(pid) / "environ"));
        if (!SessionValue(variables, "DISPLAY").empty() ||
            !SessionValue(variables, "WAYLAND_DISPLAY").empty())
            return GraphicalSession{pid, std::move(variables)};
    }
    return std::nullopt;
}

}  // namespace miravo::backend
