// The root side of a job keeps the time. The job's user side (everything
// done with the user's rights, in a process group of its own) can be
// stopped or slowed by that user; the root side waits for it only until
// its deadline or a cancel, then kills the whole group and ends, so that
// no user can hold up the queue shared by everyone. It never touches a
// file: what the user side leaves in the user's folders stays theirs.
#pragma once

#include <sys/types.h>

#include <chrono>

namespace miravo::backend {

// The longest one job may take on the user's side: the renderer's own time
// limit for the most pages a document may have, the wait for the session
// bus, and a margin.
std::chrono::seconds UserSideDeadline();

// After a cancel the user side gets this long to remove what it made.
inline constexpr std::chrono::milliseconds kCancelGrace{2000};

struct UserSideEnd {
    enum Kind { Exited, Crashed, TimedOut, Cancelled } kind = Crashed;
    int exitCode = -1;  // for Exited
};

// Waits for `child`, the leader of the user side's process group. It ends
// when the child exits, when `deadline` has passed, or at once when a
// termination was requested (HandleTermination): a cancel is passed to the
// group, which is woken if stopped and given `grace` to end. Whatever way
// it ends, every process left in the group is killed and the child reaped.
UserSideEnd SuperviseUserSide(pid_t child, std::chrono::milliseconds deadline,
                              std::chrono::milliseconds grace = kCancelGrace);

}  // namespace miravo::backend
