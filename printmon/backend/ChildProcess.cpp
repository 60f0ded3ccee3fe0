#include "printmon/backend/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace miravo::backend {

namespace {

constexpr std::size_t kMaxOutput = 64 * 1024;

// argv and envp for exec: pointers into the strings, which outlive them.
std::vector<char*> pointers(const std::string& first, const std::vector<std::string>& rest) {
    std::vector<char*> list;
    if (!first.empty())
        list.push_back(const_cast<char*>(first.c_str()));
    for (const std::string& item : rest)
        list.push_back(const_cast<char*>(item.c_str()));
    list.push_back(nullptr);
    return list;
}

pid_t waitFor(pid_t child, int& status) {
    pid_t done = -1;
    while ((done = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    return done;
}

}  // namespace

ProgramRun RunProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment) {
    ProgramRun run;
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, channel[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, channel[1], STDERR_FILENO);
    const std::string name = program.string();
    std::vector<char*> argv = pointers(name, arguments);
    std::vector<char*> envp = pointers({}, environment);
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, name.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(channel[1]);
    if (spawned != 0) {
        ::close(channel[0]);
        return run;
    }
    run.started = true;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(channel[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (run.output.size() < kMaxOutput)
            run.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(channel[0]);
    int status = 0;
    if (waitFor(child, status) == child && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}

bool StartDetached(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment, const std::filesystem::path& folder,
                   std::string& error) {
    // The grandchild reports a failed exec through this pipe; a successful
    // exec closes it empty.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        error = "cannot start " + program.string();
        return false;
    }
    const std::string name = program.string();
    std::vector<char*> argv = pointers(name, arguments);
    std::vector<char*> envp = pointers({}, environment);
    const pid_t middle = ::fork();
    if (middle == 0) {
        ::setsid();
        if (::fork() != 0)
            ::_exit(0);
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd)
            ::dup2(null, fd);
        if (::chdir(folder.c_str()) != 0 && ::chdir("/") != 0)
            ::_exit(127);
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        // Nothing of the print system's signal handling carries over.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int signal = 1; signal < NSIG; ++signal)
            ::signal(signal, SIG_DFL);
        ::execve(name.c_str(), argv.data(), envp.data());
        const int code = errno;
        [[maybe_unused]] const ssize_t written = ::write(report[1], &code, sizeof code);
        ::_exit(127);
    }
    ::close(report[1]);
    if (middle < 0) {
        ::close(report[0]);
        error = "cannot start " + name;
        return false;
    }
    int status = 0;
    waitFor(middle, status);
    int code = 0;
    ssize_t n = 0;
    while ((n = ::read(report[0], &code, sizeof code)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = name + " cannot be started" + (n > 0 ? std::string(": ") + std::strerror(code) : "");
        return false;
    }
    return true;
}

}  // namespace miravo::backend
