#include "printmon/SandboxCheck.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/FileBytes.h"
#include "printmon/RenderLimits.h"
#include "printmon/Sandbox.h"

namespace miravo::print {

namespace {

namespace fs = std::filesystem;

// A regular file in the user's home that this process can read now; made
// (and later removed) when the home holds none.
struct HomeFile {
    fs::path path;
    bool made = false;
    ~HomeFile() {
        if (made)
            ::unlink(path.c_str());
    }
};

bool findHomeFile(HomeFile& file) {
    const char* home = std::getenv("HOME");
    if (!home || *home != '/')
        return false;
    if (DIR* folder = ::opendir(home)) {
        while (const dirent* entry = ::readdir(folder)) {
            const fs::path candidate = fs::path(home) / entry->d_name;
            struct stat info {};
            if (::lstat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
                continue;
            const int fd = ::open(candidate.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            if (fd >= 0) {
                ::close(fd);
                file.path = candidate;
                break;
            }
        }
        ::closedir(folder);
    }
    if (!file.path.empty())
        return true;
    std::string name = std::string(home) + "/.miravo-sandbox-check-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return false;
    ::close(fd);
    file.path = name;
    file.made = true;
    return true;
}

// "refused (why)" or "ALLOWED"; counts what was allowed. `why` is the
// errno of the refusal.
void report(std::FILE* out, const std::string& attempt, bool refused, int why, int& allowed) {
    if (refused) {
        std::fprintf(out, "%s: refused (%s)\n", attempt.c_str(), std::strerror(why));
    } else {
        std::fprintf(out, "%s: ALLOWED\n", attempt.c_str());
        ++allowed;
    }
    std::fflush(out);
}

// Runs in the child: enters the box and makes every attempt. Starting a
// program comes last: if it is allowed, the program says so and fails.
[[noreturn]] void attempt(std::FILE* out, const fs::path& own, const fs::path& outside,
                          const fs::path& homeFile, int port) {
    const RenderLimits limits = CurrentRenderLimits();
    SandboxPlan plan;
    plan.folder = own;
    plan.maxFileBytes = limits.maxBytes;
    plan.maxMemory = limits.maxMemory;
    plan.maxCpuSeconds = limits.maxSeconds;
    std::string error;
    if (!EnterSandbox(plan, error)) {
        std::fprintf(out, "the box cannot be entered: %s\n", error.c_str());
        std::fflush(out);
        ::_exit(1);
    }
    int allowed = 0;
    const int mine = ::open((own / "page").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (mine < 0) {
        std::fprintf(out, "write in its own folder: refused (%s): nothing could render\n",
                     std::strerror(errno));
        ++allowed;
    } else {
        ::close(mine);
    }

    int fd = ::open(homeFile.c_str(), O_RDONLY | O_CLOEXEC);
    int why = errno;
    report(out, "read " + homeFile.string(), fd < 0, why, allowed);
    if (fd >= 0)
        ::close(fd);

    fd = ::open(outside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    why = errno;
    report(out, "write " + outside.string(), fd < 0, why, allowed);
    if (fd >= 0)
        ::close(fd);

    const std::string where = "connect to 127.0.0.1:" + std::to_string(port);
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    why = errno;
    if (fd < 0) {
        report(out, where, true, why, allowed);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool refused =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0;
        why = errno;
        report(out, where, refused, why, allowed);
        ::close(fd);
    }

    const char* shell = "/bin/sh";
    const std::string line = std::string("echo 'start ") + shell + ": ALLOWED'; exit 1";
    char* arguments[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                         const_cast<char*>(line.c_str()), nullptr};
    std::fflush(out);
    ::execve(shell, arguments, environ);
    why = errno;
    report(out, std::string("start ") + shell, true, why, allowed);
    ::_exit(allowed == 0 ? 0 : 1);
}

}  // namespace

int CheckSandbox(std::FILE* out) {
    const int abi = LandlockAbi();
    if (abi > 0)
        std::fprintf(out, "Landlock: version %d\n", abi);
    else
        std::fprintf(out, "Landlock: not in this kernel; its file and network rules are missing\n");
    HomeFile homeFile;
    if (!findHomeFile(homeFile)) {
        std::fprintf(out, "no file of the user's home to try: HOME is unusable\n");
        return 1;
    }
    const char* tmp = std::getenv("TMPDIR");
    const PrivateFolder folder(tmp && *tmp == '/' ? tmp : "/tmp", "miravo-check");
    std::error_code ec;
    if (folder.path().empty() || !fs::create_directory(folder.path() / "own", ec)) {
        std::fprintf(out, "no folder to try in\n");
        return 1;
    }
    // A port that listens, so that a connect refused is the box's doing.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fprintf(out, "no loopback port to try\n");
        if (listener >= 0)
            ::close(listener);
        return 1;
    }
    std::fflush(out);
    const pid_t child = ::fork();
    if (child == 0)
        attempt(out, folder.path() / "own", folder.path() / "outside", homeFile.path,
                ntohs(address.sin_port));
    ::close(listener);
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

}  // namespace miravo::print
