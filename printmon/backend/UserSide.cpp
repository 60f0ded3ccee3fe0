#include "printmon/backend/UserSide.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

#include "printmon/RenderLimits.h"
#include "printmon/backend/ChildProcess.h"
#include "printmon/backend/SessionBus.h"

namespace miravo::backend {

namespace {

using Clock = std::chrono::steady_clock;

// Copying the document in and writing the job file out, beside rendering.
constexpr std::chrono::seconds kMargin{60};

void pause() {
    const timespec step{0, 20 * 1000 * 1000};
    ::nanosleep(&step, nullptr);  // a cancel cuts it short
}

// Whether the child has ended, without reaping it: as long as it is not
// reaped its id cannot name another process or group.
bool ended(pid_t child) {
    siginfo_t info{};
    info.si_pid = 0;
    while (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != EINTR)
            return true;  // nothing to wait for any more
    }
    return info.si_pid == child;
}

// Kills what is left of the group and reaps the child.
UserSideEnd finish(pid_t child, UserSideEnd end) {
    ::kill(-child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (end.kind == UserSideEnd::Exited && !WIFEXITED(status))
        end.kind = UserSideEnd::Crashed;
    if (end.kind == UserSideEnd::Exited)
        end.exitCode = WEXITSTATUS(status);
    return end;
}

}  // namespace

std::chrono::seconds UserSideDeadline() {
    using std::chrono::seconds;
    // The renderer's absolute ceiling, whatever the page count.
    const seconds render(std::min(print::kRenderMaxSeconds,
                                  print::kRenderBaseSeconds +
                                      print::kMaxPages * print::kRenderSecondsPerPage));
    const seconds bus(kOpenCallMilliseconds / 1000 + 1);
    return render + bus + kMargin;
}

UserSideEnd SuperviseUserSide(pid_t child, std::chrono::milliseconds deadline,
                              std::chrono::milliseconds grace) {
    const Clock::time_point end = Clock::now() + deadline;
    while (!ended(child)) {
        if (TerminationRequested()) {
            ::kill(-child, SIGTERM);
            ::kill(-child, SIGCONT);  // a stopped side cannot act on the cancel
            const Clock::time_point last = Clock::now() + grace;
            while (!ended(child) && Clock::now() < last)
                pause();
            return finish(child, {UserSideEnd::Cancelled});
        }
        if (Clock::now() >= end)
            return finish(child, {UserSideEnd::TimedOut});
        pause();
    }
    return finish(child, {UserSideEnd::Exited});
}

}  // namespace miravo::backend
