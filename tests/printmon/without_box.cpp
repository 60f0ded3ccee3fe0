// without-box PROGRAM [ARG...]: runs PROGRAM where no process may install
// a system-call filter of its own (as under a container that forbids it),
// to see what the renderer says when its box cannot be set up.
#include <linux/seccomp.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), seccomp_syscall_resolve_name("seccomp"), 0);
    seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), seccomp_syscall_resolve_name("prctl"), 1,
                     SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP));
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || seccomp_load(filter) != 0) {
        std::perror("without-box");
        return 2;
    }
    execv(argv[1], argv + 1);
    std::perror(argv[1]);
    return 2;
}
