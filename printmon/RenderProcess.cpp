#include "printmon/RenderProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "app/FileBytes.h"
#include "printmon/Cancellation.h"
#include "printmon/PasswordHandOver.h"
#include "printmon/RenderLimits.h"
#include "printmon/RenderStatus.h"

extern char** environ;

namespace miravo::print {

namespace {

std::filesystem::path rendererPath() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "miravo-render";
}

void removePages(const std::string& base, int first) {
    for (int k = first;; ++k) {
        if (::unlink((base + "_" + std::to_string(k)).c_str()) != 0 && errno == ENOENT)
            return;
    }
}

// The renderer's environment: ours, with glibc asked to back large
// allocations with huge pages. Ghostscript allocates its memory in large
// chunks, and touching them 4 KB at a time cost a third of a short
// document's rendering in page faults. Tunables the user set are kept.
// Under -dSAFER a document may still write and delete files in
// Ghostscript's temp folder, which it takes from TMPDIR (else /tmp): it
// gets `tempFolder`, a folder of its own, as the only place it may write.
std::vector<std::string> rendererEnvironment(const std::string& tempFolder) {
    constexpr std::string_view kTunables = "GLIBC_TUNABLES=";
    std::vector<std::string> variables;
    std::string tunables;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view variable(*entry);
        if (variable.substr(0, kTunables.size()) == kTunables)
            tunables = std::string(variable.substr(kTunables.size())) + ":";
        else if (variable.substr(0, 7) != "TMPDIR=" && variable.substr(0, 5) != "TEMP=" &&
                 variable.substr(0, 4) != "TMP=")
            variables.emplace_back(variable);
    }
    variables.push_back(std::string(kTunables) + tunables + "glibc.malloc.hugetlb=1");
    for (const char* name : {"TMPDIR=", "TEMP=", "TMP="})
        variables.push_back(name + tempFolder);
    return variables;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    const std::size_t start = text.find_first_not_of("\n ");
    return start == std::string::npos ? std::string() : text.substr(start);
}

}  // namespace

RenderOutcome RenderPageFiles(const std::filesystem::path& input, const std::string& base,
                              int first, int seconds, const std::string& password) {
    RenderOutcome outcome;
    const std::string program = rendererPath().string();
    // Ghostscript's only writable place, removed with all the renderer left in it.
    const PrivateFolder temp(std::filesystem::path(base).parent_path(), "render");
    if (temp.path().empty()) {
        outcome.error = "cannot make a private folder for rendering beside " + base;
        return outcome;
    }
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        outcome.error = "cannot start rendering";
        return outcome;
    }
    const PasswordPipe passwordPipe(password);
    if (passwordPipe.readEnd() < 0) {
        ::close(channel[0]);
        ::close(channel[1]);
        outcome.error = "cannot start rendering";
        outcome.problem = DocumentProblem::NotWritten;
        return outcome;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, passwordPipe.readEnd(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, channel[1], STDOUT_FILENO);
    // Ghostscript reads an untrusted document: it gets no descriptor of ours.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    const std::string firstText = std::to_string(first);
    std::vector<char*> arguments = {
        const_cast<char*>(program.c_str()), const_cast<char*>(input.c_str()),
        const_cast<char*>(base.c_str()), const_cast<char*>(firstText.c_str()), nullptr};
    std::vector<std::string> variables = rendererEnvironment(temp.path().string());
    std::vector<char*> environment;
    for (std::string& variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, program.c_str(), &actions, nullptr, arguments.data(),
                                      environment.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(channel[1]);
    if (spawned != 0) {
        ::close(channel[0]);
        outcome.error = program + " cannot be started";
        return outcome;
    }

    // It writes a '+' for every page and its report as it ends; wait for
    // that until the time is up, which every page moves on.
    const auto start = std::chrono::steady_clock::now();
    std::string report;
    int rendered = 0;
    bool late = false;
    bool stopped = false;
    for (;;) {
        if (StopRequested()) {
            stopped = true;
            break;
        }
        const auto deadline =
            start + std::chrono::seconds(seconds + kRenderSecondsPerPage * rendered);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            late = true;
            break;
        }
        pollfd waiting{channel[0], POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(std::min<long long>(left, 60000)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        char buffer[1024];
        const ssize_t n = ::read(channel[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '+' && report.empty())
                ++rendered;
            else if (report.size() < 8192)
                report.push_back(buffer[i]);
        }
    }
    ::close(channel[0]);
    if (late || stopped)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }

    outcome.problem = DocumentProblem::Damaged;
    if (stopped) {
        outcome.error = input.string() + ": the job was cancelled";
        outcome.problem = DocumentProblem::Cancelled;
    } else if (late) {
        outcome.problem = DocumentProblem::TooSlow;
        outcome.error = input.string() + ": rendering took longer than " + std::to_string(seconds) +
                        " s and " + std::to_string(kRenderSecondsPerPage) +
                        " s per page: the Miravo printer stops there";
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == kRenderDone) {
        outcome.ok = true;
        outcome.problem = DocumentProblem::None;
        outcome.pages = std::atoi(report.c_str());
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 2 && !trimmed(report).empty()) {
        outcome.error = trimmed(report);
        outcome.problem = RenderProblem(WEXITSTATUS(status));
        outcome.details = ReportDetails(outcome.error, input.string());
    } else {
        outcome.error = input.string() + ": the renderer stopped unexpectedly";
    }
    if (!outcome.ok)
        removePages(base, first);
    return outcome;
}

}  // namespace miravo::print
