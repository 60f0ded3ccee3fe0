// Finds where a user is logged in graphically: a process of that user
// whose environment names a display. Its environment tells how to start a
// program on that desktop.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace miravo::backend {

// The variables a desktop program needs from the session, in this order
// when present: DISPLAY, WAYLAND_DISPLAY, XAUTHORITY, XDG_RUNTIME_DIR,
// DBUS_SESSION_BUS_ADDRESS, HOME.
using SessionVariables = std::vector<std::pair<std::string, std::string>>;

struct GraphicalSession {
    pid_t pid = 0;  // the process the variables were taken from
    SessionVariables variables;
};

// The first process under `procRoot` (in process-id order) owned by `uid`
// whose environment holds a non-empty DISPLAY or WAYLAND_DISPLAY. Processes
// that cannot be read are passed over.
std::optional<GraphicalSession> FindGraphicalSession(uid_t uid,
                                                     const std::filesystem::path& procRoot = "/proc");

// The value of `name` in `variables`, or empty.
std::string SessionValue(const SessionVariables& variables, const std::string& name);

}  // namespace miravo::backend
