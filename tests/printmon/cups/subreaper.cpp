// miravo-test-subreaper COMMAND [ARG...]
//
// Runs COMMAND as a child subreaper, so that every process it leaves
// behind, double-forked or not, stays below this one. On SIGTERM it kills
// them all, as a service manager stops a service's control group, and
// exits once none is left. The print tests run the print service under it.
#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace {

volatile sig_atomic_t stopping = 0;

void onTerminate(int) {
    stopping = 1;
}

// The processes whose parent is this process (orphans included).
std::set<pid_t> children() {
    std::set<pid_t> found;
    DIR* proc = ::opendir("/proc");
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
        const pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
            parent == ::getpid())
            found.insert(pid);
    }
    if (proc)
        ::closedir(proc);
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: miravo-test-subreaper COMMAND [ARG...]\n", stderr);
        return 2;
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    const pid_t command = ::fork();
    if (command == 0) {
        ::signal(SIGTERM, SIG_DFL);
        ::execvp(argv[1], argv + 1);
        ::_exit(127);
    }
    int status = 0;
    // Orphans are reaped as they end; the command's own end ends nothing.
    while (!stopping) {
        const pid_t done = ::waitpid(-1, &status, 0);
        if (done < 0 && errno == ECHILD)
            ::pause();
    }
    // Everything below, killed until nothing is left: killing a process
    // may hand its own children to us.
    for (std::set<pid_t> left = children(); !left.empty(); left = children()) {
        for (const pid_t pid : left)
            ::kill(pid, SIGKILL);
        while (::waitpid(-1, &status, WNOHANG) > 0) {
        }
        ::usleep(20000);
    }
    return 0;
}
