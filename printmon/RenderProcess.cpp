#include "printmon/RenderProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include "app/FileBytes.h"
#include "printmon/Cancellation.h"
#include "printmon/PasswordHandOver.h"
#include "printmon/RenderLimits.h"
#include "printmon/RenderStatus.h"
#include "printmon/Sandbox.h"

extern char** environ;

namespace miravo::print {

namespace {

std::filesystem::path rendererPath() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "miravo-render";
}

// The renderer's environment: ours, with glibc asked to back large
// allocations with huge pages. Ghostscript allocates its memory in large
// chunks, and touching them 4 KB at a time cost a third of a short
// document's rendering in page faults. Tunables the user set are kept.
// Under -dSAFER a document may still write and delete files in
// Ghostscript's temp folder, which it takes from TMPDIR (else /tmp): it
// gets `tempFolder`, inside the renderer's own folder.
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

// What a folder's files take on disk, sub-folders included; each entry
// counts at least one block, so that a flood of empty files counts too.
// Links are counted, never followed.
std::uint64_t folderBytes(int folder, int depth = 0) {
    std::uint64_t total = 0;
    DIR* listing = ::fdopendir(folder);
    if (!listing) {
        ::close(folder);
        return 0;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        if (::fstatat(::dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        total += std::max<std::uint64_t>({static_cast<std::uint64_t>(info.st_size),
                                          static_cast<std::uint64_t>(info.st_blocks) * 512, 4096});
        if (S_ISDIR(info.st_mode) && depth < 64) {
            const int inner = ::openat(::dirfd(listing), entry->d_name,
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inner >= 0)
                total += folderBytes(inner, depth + 1);
        }
    }
    ::closedir(listing);
    return total;
}

std::uint64_t folderBytes(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? 0 : folderBytes(fd);
}

// Moves the page files made in the renderer's folder to their places in
// the spool, never over a file that is there. False (the ones moved
// removed again) when one cannot be moved.
bool movePages(const std::filesystem::path& from, const std::string& base, int first, int pages) {
    const std::string name = std::filesystem::path(base).filename().string();
    for (int k = first; k < first + pages; ++k) {
        const std::string page = "_" + std::to_string(k);
        if (::renameat2(AT_FDCWD, (from / (name + page)).c_str(), AT_FDCWD, (base + page).c_str(),
                        RENAME_NOREPLACE) != 0) {
            for (int moved = first; moved < k; ++moved)
                ::unlink((base + "_" + std::to_string(moved)).c_str());
            return false;
        }
    }
    return true;
}

// Said once per process (one print job, one run of the program).
void noteMissingLandlock() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (LandlockAbi() == 0)
            std::fputs(
                "miravo-render: this kernel has no Landlock: documents are rendered "
                "without its file and network rules (the rest of the renderer's box "
                "applies)\n",
                stderr);
    });
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    const std::size_t start = text.find_first_not_of("\n ");
    return start == std::string::npos ? std::string() : text.substr(start);
}

}  // namespace

RenderOutcome RenderPageFiles(const std::filesystem::path& input, const std::string& base,
                              int first, int seconds, const std::string& password,
                              std::optional<ConversionMethod> method, const std::string& pages) {
    RenderOutcome outcome;
    const std::string program = rendererPath().string();
    const RenderLimits limits = CurrentRenderLimits();
    noteMissingLandlock();
    // The renderer's own folder, the only place it may write: its page
    // files and Ghostscript's temp folder ("tmp") are made there and
    // counted together; removed with all the renderer left in it.
    const PrivateFolder own(std::filesystem::path(base).parent_path(), "render");
    std::error_code ec;
    if (own.path().empty() || !std::filesystem::create_directory(own.path() / "tmp", ec)) {
        outcome.error = "cannot make a private folder for rendering beside " + base;
        return outcome;
    }
    const std::string ownBase = (own.path() / std::filesystem::path(base).filename()).string();
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
        const_cast<char*>(ownBase.c_str()), const_cast<char*>(firstText.c_str())};
    std::string noMethod = "-";
    if (method || !pages.empty())
        arguments.push_back(method ? const_cast<char*>(MethodArgument(*method)) : noMethod.data());
    if (!pages.empty())
        arguments.push_back(const_cast<char*>(pages.c_str()));
    arguments.push_back(nullptr);
    std::vector<std::string> variables = rendererEnvironment((own.path() / "tmp").string());
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
    // that until the time is up, which every page moves on up to the
    // ceiling, and look at what its folder holds as it goes.
    const auto start = std::chrono::steady_clock::now();
    const auto ceiling = start + std::chrono::seconds(limits.maxSeconds);
    std::string report;
    int rendered = 0;
    bool late = false;
    bool tooLate = false;
    bool tooBig = false;
    bool stopped = false;
    for (;;) {
        if (StopRequested()) {
            stopped = true;
            break;
        }
        if (folderBytes(own.path()) > limits.maxBytes) {
            tooBig = true;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        const auto deadline =
            start + std::chrono::seconds(seconds + kRenderSecondsPerPage * rendered);
        if (now >= ceiling) {
            tooLate = true;
            break;
        }
        if (now >= deadline) {
            late = true;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::min(deadline, ceiling) - now)
                .count();
        pollfd waiting{channel[0], POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(std::min<long long>(left, 100)));
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
    if (late || tooLate || tooBig || stopped)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // Written in its last moments, after the report.
    if (!tooBig && !stopped && folderBytes(own.path()) > limits.maxBytes)
        tooBig = true;

    outcome.problem = DocumentProblem::Damaged;
    const bool signalled = WIFSIGNALED(status);
    const std::string stopsThere = ": the Miravo printer stops there";
    if (stopped) {
        outcome.error = input.string() + ": the job was cancelled";
        outcome.problem = DocumentProblem::Cancelled;
    } else if (tooBig || (signalled && WTERMSIG(status) == SIGXFSZ)) {
        outcome.problem = DocumentProblem::TooLarge;
        outcome.error = input.string() +
                        ": the document's pages and temporary files take more than " +
                        SizeText(limits.maxBytes) + stopsThere;
    } else if (tooLate) {
        outcome.problem = DocumentProblem::TooSlow;
        outcome.error = input.string() + ": rendering took longer than " +
                        std::to_string(limits.maxSeconds) + " s in all" + stopsThere;
    } else if (signalled && WTERMSIG(status) == SIGXCPU) {
        outcome.problem = DocumentProblem::TooSlow;
        outcome.error = input.string() + ": rendering used more processor time than " +
                        std::to_string(limits.maxSeconds) + " s allow" + stopsThere;
    } else if (late) {
        outcome.problem = DocumentProblem::TooSlow;
        outcome.error = input.string() + ": rendering took longer than " + std::to_string(seconds) +
                        " s and " + std::to_string(kRenderSecondsPerPage) + " s per page" +
                        stopsThere;
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == kRenderDone) {
        outcome.pages = std::atoi(report.c_str());
        outcome.ok = movePages(own.path(), base, first, outcome.pages);
        if (outcome.ok) {
            outcome.problem = DocumentProblem::None;
        } else {
            outcome.error = input.string() + ": the pages cannot be moved beside " + base;
            outcome.problem = DocumentProblem::NotWritten;
        }
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 2 && !trimmed(report).empty()) {
        outcome.error = trimmed(report);
        outcome.problem = RenderProblem(WEXITSTATUS(status));
        outcome.details = ReportDetails(outcome.error, input.string());
    } else {
        outcome.error = input.string() + ": the renderer stopped unexpectedly";
    }
    // Nothing of a failed rendering reached the spool: its own folder goes
    // with all it holds, and a file already at a page's place is not ours.
    return outcome;
}

}  // namespace miravo::print
