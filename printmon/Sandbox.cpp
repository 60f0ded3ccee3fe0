#include "printmon/Sandbox.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

// Builds with the address sanitizer: its shadow memory takes terabytes of
// address space, and its leak check at exit stops the threads through
// ptrace from a process of its own. There the address space is not capped
// and the leak check runs as the box closes.
#if defined(__SANITIZE_ADDRESS__)
#define MIRAVO_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MIRAVO_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(MIRAVO_ADDRESS_SANITIZER)
#include <sanitizer/lsan_interface.h>
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

namespace miravo::print {

namespace {

// Landlock's kernel interface, including the parts newer than the
// system's headers.
struct RulesetAttr {
    std::uint64_t handledAccessFs;
    std::uint64_t handledAccessNet;  // version 4
    std::uint64_t scoped;            // version 6
};
struct NetPortAttr {
    std::uint64_t allowedAccess;
    std::uint64_t port;
};
constexpr std::uint64_t kFsExecute = 1ULL << 0;
constexpr std::uint64_t kFsWriteFile = 1ULL << 1;
constexpr std::uint64_t kFsReadFile = 1ULL << 2;
constexpr std::uint64_t kFsReadDir = 1ULL << 3;
constexpr std::uint64_t kFsRemoveDir = 1ULL << 4;
constexpr std::uint64_t kFsRemoveFile = 1ULL << 5;
constexpr std::uint64_t kFsMakeDir = 1ULL << 7;
constexpr std::uint64_t kFsMakeReg = 1ULL << 8;
constexpr std::uint64_t kFsVersion1 = (1ULL << 13) - 1;  // execute .. make symlink
constexpr std::uint64_t kFsRefer = 1ULL << 13;           // version 2
constexpr std::uint64_t kFsTruncate = 1ULL << 14;        // version 3
constexpr std::uint64_t kFsIoctlDev = 1ULL << 15;        // version 5
constexpr std::uint64_t kNetBindTcp = 1ULL << 0;         // version 4
constexpr std::uint64_t kNetConnectTcp = 1ULL << 1;
constexpr std::uint64_t kScopeAbstractUnixSocket = 1ULL << 0;  // version 6
constexpr std::uint64_t kScopeSignal = 1ULL << 1;

// What the renderer reads besides the document: Ghostscript's resources
// and fonts, the system's fonts and their configuration, the paper size,
// the libraries' data. Paths that do not exist are skipped.
constexpr const char* kReadable[] = {
    "/usr",
    "/etc/fonts",
    "/etc/ghostscript",
    "/etc/papersize",
    "/etc/ld.so.cache",
    "/etc/localtime",
    "/var/lib/ghostscript",
    "/var/cache/fontconfig",
    "/sys/devices/system/cpu",
};

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

bool addPathRule(int ruleset, const char* path, std::uint64_t access, bool mayBeMissing,
                 std::string& error) {
    Descriptor beneath{::open(path, O_PATH | O_CLOEXEC)};
    if (beneath.fd < 0) {
        if (mayBeMissing && (errno == ENOENT || errno == EACCES))
            return true;
        error = std::string(path) + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(beneath.fd, &info) != 0) {
        error = std::string(path) + ": " + std::strerror(errno);
        return false;
    }
    // A file takes only the rights that apply to files.
    if (!S_ISDIR(info.st_mode))
        access &= kFsExecute | kFsWriteFile | kFsReadFile | kFsTruncate | kFsIoctlDev;
    landlock_path_beneath_attr rule{};
    rule.allowed_access = access;
    rule.parent_fd = beneath.fd;
    if (::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0) {
        error = std::string("Landlock refuses a rule for ") + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool applyLandlock(const SandboxPlan& plan, int abi, std::string& error) {
    std::uint64_t fs = kFsVersion1;
    if (abi >= 2)
        fs |= kFsRefer;
    if (abi >= 3)
        fs |= kFsTruncate;
    if (abi >= 5)
        fs |= kFsIoctlDev;
    RulesetAttr attributes{fs, 0, 0};
    // No TCP port is named below, so every bind and connect is refused.
    if (abi >= 4)
        attributes.handledAccessNet = kNetBindTcp | kNetConnectTcp;
    if (abi >= 6)
        attributes.scoped = kScopeAbstractUnixSocket | kScopeSignal;
    const std::size_t size = abi >= 6   ? sizeof attributes
                             : abi >= 4 ? offsetof(RulesetAttr, scoped)
                                        : offsetof(RulesetAttr, handledAccessNet);
    Descriptor ruleset{
        static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attributes, size, 0))};
    if (ruleset.fd < 0) {
        error = std::string("Landlock refuses the rule set: ") + std::strerror(errno);
        return false;
    }
    const std::uint64_t read = kFsReadFile | kFsReadDir;
    const std::uint64_t write = (read | kFsWriteFile | kFsRemoveDir | kFsRemoveFile | kFsMakeDir |
                                 kFsMakeReg | kFsRefer | kFsTruncate) &
                                fs;
    for (const char* path : kReadable) {
        if (!addPathRule(ruleset.fd, path, read, true, error))
            return false;
    }
    if (!addPathRule(ruleset.fd, "/dev/null", kFsReadFile | kFsWriteFile, true, error) ||
        !addPathRule(ruleset.fd, "/dev/urandom", kFsReadFile, true, error))
        return false;
    if (!plan.document.empty() &&
        !addPathRule(ruleset.fd, plan.document.c_str(), kFsReadFile, false, error))
        return false;
    if (!addPathRule(ruleset.fd, plan.folder.c_str(), write, false, error))
        return false;
    if (::syscall(SYS_landlock_restrict_self, ruleset.fd, 0) != 0) {
        error = std::string("Landlock cannot be applied: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// Everything allowed but what a renderer never does; the calls refused
// fail with an error, so Ghostscript reports rather than crashes.
bool applySeccomp(std::string& error) {
    scmp_filter_ctx filter = ::seccomp_init(SCMP_ACT_ALLOW);
    if (!filter) {
        error = "the system-call filter cannot be made";
        return false;
    }
    struct Release {
        scmp_filter_ctx filter;
        ~Release() { ::seccomp_release(filter); }
    } release{filter};
    // Calls of another architecture (32-bit entry points) end the process.
    ::seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS);
    int failed = 0;
    auto refuse = [&](const char* name, int errorNumber, std::initializer_list<scmp_arg_cmp> args) {
        const int number = ::seccomp_syscall_resolve_name(name);
        if (number == __NR_SCMP_ERROR)
            return;  // not a call of this architecture
        if (::seccomp_rule_add_array(filter, SCMP_ACT_ERRNO(errorNumber), number,
                                     static_cast<unsigned>(args.size()), args.begin()) != 0)
            ++failed;
    };
    // No program start, no other process, no socket of any family.
    for (const char* name :
         {"execve", "execveat", "fork", "vfork", "ptrace", "process_vm_readv", "process_vm_writev",
          "kcmp", "pidfd_open", "pidfd_getfd", "pidfd_send_signal", "tkill", "socket", "socketpair",
          "io_uring_setup", "io_uring_enter", "io_uring_register",
          // no mount, namespace, keyring, kernel or system changes
          "mount", "umount2", "pivot_root", "chroot", "unshare", "setns", "open_tree", "move_mount",
          "fsopen", "fsconfig", "fsmount", "fspick", "mount_setattr", "keyctl", "add_key",
          "request_key", "bpf", "perf_event_open", "userfaultfd", "kexec_load", "kexec_file_load",
          "init_module", "finit_module", "delete_module", "reboot", "swapon", "swapoff", "acct",
          "quotactl", "syslog", "open_by_handle_at", "name_to_handle_at", "iopl", "ioperm"})
        refuse(name, EPERM, {});
    // clone3 hides its flags from the filter: the C library falls back to
    // clone, whose flags are seen. Threads only, in no new namespace.
    refuse("clone3", ENOSYS, {});
    refuse("clone", EPERM, {SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)});
    for (const unsigned long flag : {CLONE_NEWNS, CLONE_NEWUTS, CLONE_NEWIPC, CLONE_NEWUSER,
                                     CLONE_NEWPID, CLONE_NEWNET, CLONE_NEWCGROUP})
        refuse("clone", EPERM, {SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)});
    // Signals go to this process only.
    const auto self = static_cast<scmp_datum_t>(::getpid());
    for (const char* name : {"kill", "tgkill", "rt_sigqueueinfo", "rt_tgsigqueueinfo"})
        refuse(name, EPERM, {SCMP_A0(SCMP_CMP_NE, self)});
    // Nothing typed into the terminal it may have inherited.
    for (const unsigned long request : {TIOCSTI, TIOCLINUX})
        refuse("ioctl", EPERM, {SCMP_A1(SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, request)});
    if (failed > 0) {
        error = "the system-call filter cannot be made";
        return false;
    }
    if (const int code = ::seccomp_load(filter); code != 0) {
        error = std::string("the system-call filter cannot be applied: ") + std::strerror(-code);
        return false;
    }
    return true;
}

bool limit(int resource, rlim_t soft, rlim_t hard, const char* what, std::string& error) {
    const rlimit value{soft, hard};
    if (::setrlimit(resource, &value) != 0) {
        error = std::string("the ") + what + " limit cannot be set: " + std::strerror(errno);
        return false;
    }
    return true;
}

// The box's own status, opened before the box closes /proc to it.
int statusFd = -1;
std::uint64_t memoryLimit = 0;

// A number of this process's status ("VmPeak:", "Threads:"); 0 when
// unknown.
std::uint64_t statusValue(const char* field) {
    char text[4096];
    const ssize_t n = statusFd < 0 ? -1 : ::pread(statusFd, text, sizeof text - 1, 0);
    if (n <= 0)
        return 0;
    text[n] = '\0';
    const char* at = std::strstr(text, field);
    return at ? std::strtoull(at + std::strlen(field), nullptr, 10) : 0;
}

bool confine(const SandboxPlan& plan, std::string& error) {
    if (statusFd < 0)
        statusFd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    memoryLimit = kAddressSanitizer ? 0 : plan.maxMemory;
    // Landlock binds the calling thread alone: a thread started before
    // would stay outside.
    if (statusValue("Threads:") != 1) {
        error = "the renderer must enter its box before it starts a thread";
        return false;
    }
#if defined(MIRAVO_ADDRESS_SANITIZER)
    __lsan_do_leak_check();  // it reads /proc and traces: not from inside
#endif
    // Nothing of a document's memory ever lands in a core file.
    if (!limit(RLIMIT_CORE, 0, 0, "core file", error) ||
        !limit(RLIMIT_NOFILE, 256, 256, "open file", error))
        return false;
    if (memoryLimit > 0 && !limit(RLIMIT_AS, memoryLimit, memoryLimit, "memory", error))
        return false;
    if (plan.maxFileBytes > 0 &&
        !limit(RLIMIT_FSIZE, plan.maxFileBytes, plan.maxFileBytes, "file size", error))
        return false;
    // Past the soft limit SIGXCPU ends the process, past the hard one SIGKILL.
    if (plan.maxCpuSeconds > 0 &&
        !limit(RLIMIT_CPU, static_cast<rlim_t>(plan.maxCpuSeconds),
               static_cast<rlim_t>(plan.maxCpuSeconds) + 5, "processor time", error))
        return false;
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        error = std::string("no-new-privileges cannot be set: ") + std::strerror(errno);
        return false;
    }
    if (const int abi = LandlockAbi(); abi > 0 && !applyLandlock(plan, abi, error))
        return false;
    return applySeccomp(error);
}

}  // namespace

bool NearMemoryLimit() {
    const std::uint64_t bytes = statusValue("VmPeak:") * 1024;
    return memoryLimit > 0 && bytes + (std::uint64_t{32} << 20) >= memoryLimit;
}

bool EnterSandbox(const SandboxPlan& plan, std::string& error) {
    if (!plan.document.empty()) {
        const int document = ::open(plan.document.c_str(), O_PATH | O_CLOEXEC);
        if (document < 0) {
            error = plan.document.string() + ": cannot be opened";
            return false;
        }
        ::close(document);
    }
    if (!confine(plan, error)) {
        error = "the renderer cannot be confined: " + error;
        return false;
    }
    return true;
}

}  // namespace miravo::print
