// Acting as the desktop user. When Miravo runs as root (for instance started
// by a print service), the files it reads and writes (settings, contact book,
// the documents it makes) belong to the user sitting at the desktop. The
// calling thread then takes over that user's file-system identity (fsuid,
// fsgid and supplementary groups, which Linux keeps per thread) and the
// program resolves HOME and XDG_CONFIG_HOME for that user. Without root,
// or when no graphical session is found, nothing changes.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace miravo {

// The user of a graphical session, as found through one of its processes.
struct DesktopUser {
    int pid = 0;  // the session process the user was found by
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;                  // login name; empty when the user database has none
    std::filesystem::path home;        // the session's HOME (absolute)
    std::filesystem::path configHome;  // the session's XDG_CONFIG_HOME, else home/.config
};

// Whether a process name (the executable's file name) is one of the
// processes that run a desktop user's graphical session: shells,
// compositors, session managers, X servers. ASCII case is ignored.
bool IsDesktopSessionProcessName(std::string_view processName);

// The name a process is known by: the file name of its executable, or,
// when that cannot be read, its command name. Empty when neither exists.
std::string ProcessName(const std::filesystem::path& procRoot, int pid);

// The desktop user behind process `pid`, when that process belongs to a
// graphical session and is not owned by root; none otherwise.
std::optional<DesktopUser> FindDesktopUserToken(int pid,
                                                const std::filesystem::path& procRoot = "/proc");

// The first such user in process-id order under `procRoot`.
std::optional<DesktopUser> FindDesktopUser(const std::filesystem::path& procRoot = "/proc");

// When the process runs as root: makes the calling thread use the file-system
// identity of the first desktop user found, and remembers that user. Silent
// when not root or nothing is found; the thread then keeps its own identity.
// Threads started afterwards by the calling thread inherit the identity.
void ImpersonateDesktopUser(const std::filesystem::path& procRoot = "/proc");

// The desktop user whose file-system identity the calling thread uses (taken
// over by ImpersonateDesktopUser on this thread or inherited from the thread
// that started it); none when the thread acts as itself. Folder lookups
// (home, application data, documents) consult it before the environment.
std::optional<DesktopUser> CurrentDesktopUser();

}  // namespace miravo
