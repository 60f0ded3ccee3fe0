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

volatile sig_atomic_t terminationRequested = 0;
volatile pid_t passTerminationTo = 0;

void onTerminate(int) {
    terminationRequested = 1;
    if (passTerminationTo > 0)
        ::kill(passTerminationTo, SIGTERM);
}

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

void HandleTermination() {
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
}

void PassTerminationTo(pid_t process) {
    passTerminationTo = process;
    if (process > 0 && terminationRequested)
        ::kill(process, SIGTERM);
}

bool TerminationRequested() {
    return terminationRequested != 0;
}

ProgramRun RunProgram(const std::filesystem::path& program,
                      const std::vector<std::string>& arguments,
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
    // Whatever the print system left open (its back and side channels)
    // stays here.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    const std::string name = program.string();
    std::vector<char*> argv = pointers(name, arguments);
    std::vector<char*> envp = pointers({}, environment);
    pid_t child = -1;
    const int spawned =
        ::posix_spawn(&child, name.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(channel[1]);
    if (spawned != 0) {
        ::close(channel[0]);
        return run;
    }
    run.started = true;
    PassTerminationTo(child);
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
    PassTerminationTo(0);
    return run;
}

}  // namespace miravo::backend
