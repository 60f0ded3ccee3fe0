// without-landlock PROGRAM [ARG...]: runs PROGRAM as on a kernel that has
// no Landlock (its calls fail with ENOSYS), to see the renderer's box
// there.
#include <seccomp.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    for (const char* name :
         {"landlock_create_ruleset", "landlock_add_rule", "landlock_restrict_self"})
        seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), seccomp_syscall_resolve_name(name), 0);
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || seccomp_load(filter) != 0) {
        std::perror("without-landlock");
        return 2;
    }
    execv(argv[1], argv + 1);
    std::perror(argv[1]);
    return 2;
}
