// Running a program of ours under a failing disk: with file calls failed by
// libfiu's fiu-run (unmodified programs), as an ordinary user (root passes
// every permission check), with a time limit, its output collected.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

extern char** environ;

namespace miravo::test {

inline constexpr uid_t kNobody = 65534;
inline constexpr gid_t kNoGroup = 65534;

inline std::string programPath(const std::string& name) {
    return std::string(MIRAVO_BINARY_DIR) + "/bin/" + name;
}

inline bool haveFiu() {
    return ::access("/usr/bin/fiu-run", X_OK) == 0;
}

// Whether the programs under test can take the fault library at all: in an
// address-sanitizer build its wrappers and the sanitizer's own interceptors
// of the same calls crash the program before it starts, so the injected
// faults are judged in the release build only.
inline bool faultLibraryFits() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return true;
#endif
}

struct RunOptions {
    std::map<std::string, std::string> environment;  // set on top of ours
    std::vector<std::string>
        faults;        // fiu-run commands, e.g. "enable name=posix/io/rw/read,failinfo=5"
    std::string seed;  // FIU_PRNG_SEED for random faults
    bool asNobody = false;
    std::chrono::seconds limit{30};
};

struct RunResult {
    int status = -1;  // exit status; 128 + signal when killed
    bool timedOut = false;
    std::string output;  // standard output and error together
};

inline RunResult RunProgram(std::vector<std::string> argv, const RunOptions& options = {}) {
    if (!options.faults.empty()) {
        std::vector<std::string> wrapped = {"/usr/bin/fiu-run", "-x", "-f", ""};
        for (const std::string& f : options.faults) {
            wrapped.push_back("-c");
            wrapped.push_back(f);
        }
        argv.insert(argv.begin(), wrapped.begin(), wrapped.end());
    }
    // Everything the child needs is made here: after fork() only calls safe
    // in a process with threads.
    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string e = *entry;
        const std::size_t eq = e.find('=');
        if (eq != std::string::npos)
            environment[e.substr(0, eq)] = e.substr(eq + 1);
    }
    for (const auto& [name, value] : options.environment)
        environment[name] = value;
    // In a sanitizer build the fault library comes before the sanitizer's
    // runtime, and what leaks on a path only an injected fault takes is not
    // what these runs judge.
    std::string& asan = environment["ASAN_OPTIONS"];
    asan += (asan.empty() ? "" : ":") + std::string("verify_asan_link_order=0:detect_leaks=0");
    if (!options.seed.empty())
        environment["FIU_PRNG_SEED"] = options.seed;
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment)
        entries.push_back(name + "=" + value);
    std::vector<char*> envp, args;
    for (std::string& e : entries)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);

    int fds[2];
    RunResult result;
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return result;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        DieWithParent(parent);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        if (options.asNobody &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(kNoGroup, kNoGroup, kNoGroup) != 0 ||
             ::setresuid(kNobody, kNobody, kNobody) != 0))
            ::_exit(126);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    const auto deadline = std::chrono::steady_clock::now() + options.limit;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    if (result.timedOut)
        ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// Text a library prints by itself, which tells the user nothing of what
// failed in their terms.
inline bool holdsLibraryNoise(const std::string& output) {
    for (const char* noise :
         {"TIFFRead", "TIFFAppend", "TIFFWrite", "TIFFFetch", "TIFFFill", "Cannot read TIFF header",
          "Segmentation", "terminate called", "what():"})
        if (output.find(noise) != std::string::npos)
            return true;
    return false;
}

}  // namespace miravo::test
