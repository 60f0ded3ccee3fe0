// Runs miravo-send as a user does: the settings file in `dir`, standard
// input from /dev/null, output and errors collected together.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/TestSupport.h"

namespace miravo::test {

struct CommandRun {
    int status = -1;
    std::string out;
    // From the SIGINT to the end of the program; negative when not interrupted.
    std::chrono::milliseconds afterInterrupt{-1};
};

// `interrupt`: SIGINT once the output holds that text and `delay` has passed.
inline CommandRun RunSendCommand(const std::filesystem::path& dir, std::vector<std::string> args,
                                 const std::string& interrupt = {},
                                 std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
    std::filesystem::create_directories(dir / "home");
    std::vector<std::string> argv = {std::string(MIRAVO_BINARY_DIR) + "/bin/miravo-send",
                                     "--settings", (dir / "settings.ini").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        test::DieWithParent(parent);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        setenv("HOME", (dir / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir / "home/config").c_str(), 1);
        std::vector<char*> v;
        for (auto& a : argv)
            v.push_back(a.data());
        v.push_back(nullptr);
        execv(v[0], v.data());
        _exit(127);
    }
    close(fds[1]);
    CommandRun run;
    std::chrono::steady_clock::time_point interruptedAt;
    bool interrupted = false;
    char buffer[4096];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0)
            break;
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        run.out.append(buffer, static_cast<std::size_t>(n));
        if (!interrupt.empty() && !interrupted && run.out.find(interrupt) != std::string::npos) {
            std::this_thread::sleep_for(delay);
            kill(pid, SIGINT);
            interruptedAt = std::chrono::steady_clock::now();
            interrupted = true;
        }
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (interrupted)
        run.afterInterrupt = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - interruptedAt);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace miravo::test
