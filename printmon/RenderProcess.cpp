#include "printmon/RenderProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "printmon/GhostscriptRenderer.h"
#include "printmon/PageFileWriter.h"

namespace miravo::print {

namespace {

std::string pagePath(const std::string& base, int index) {
    return base + "_" + std::to_string(index);
}

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// The child: renders, writes the page files, reports "<pages>\n<error>" on
// the pipe and ends without running the parent's clean-up.
[[noreturn]] void renderInChild(int report, const std::filesystem::path& input,
                                const std::string& base, int first) {
    int pages = 0;
    std::string error;
    bool ok = false;
    {
        PageFileWriter writer;
        ok = RenderDocument(
            input,
            [&](const GreyView& page) {
                if (!writer.add(pagePath(base, first + pages), page))
                    return false;
                ++pages;
                return true;
            },
            error);
        std::string writeError;
        if (!writer.finish(writeError)) {
            ok = false;
            error = writeError;
        }
    }
    writeAll(report, std::to_string(pages) + "\n" + error);
    ::_exit(ok ? 0 : 1);
}

void removePages(const std::string& base, int first) {
    for (int k = first;; ++k) {
        if (::unlink(pagePath(base, k).c_str()) != 0 && errno == ENOENT)
            return;
    }
}

}  // namespace

RenderOutcome RenderPageFiles(const std::filesystem::path& input, const std::string& base,
                              int first, int seconds) {
    RenderOutcome outcome;
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        outcome.error = "cannot start rendering";
        return outcome;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(channel[0]);
        ::close(channel[1]);
        outcome.error = "cannot start rendering";
        return outcome;
    }
    if (child == 0) {
        ::close(channel[0]);
        renderInChild(channel[1], input, base, first);
    }
    ::close(channel[1]);

    // The report arrives when the child ends; wait for it until the time is up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::string report;
    bool late = false;
    for (;;) {
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
        if (report.size() < 8192)
            report.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(channel[0]);
    if (late)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }

    const std::size_t newline = report.find('\n');
    if (late) {
        outcome.error =
            input.string() + ": rendering took longer than " + std::to_string(seconds) + " s";
    } else if (newline == std::string::npos) {
        outcome.error = input.string() + ": Ghostscript stopped unexpectedly";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        outcome.error = report.substr(newline + 1);
        if (outcome.error.empty())
            outcome.error = input.string() + ": cannot be rendered";
    } else {
        outcome.ok = true;
        outcome.pages = std::atoi(report.c_str());
    }
    if (!outcome.ok)
        removePages(base, first);
    return outcome;
}

}  // namespace miravo::print
