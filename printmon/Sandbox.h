// The box miravo-render works in once Ghostscript's library is loaded and
// before it reads a byte of the document: resource limits, no new
// privileges, a Landlock rule set (where the kernel has Landlock) and a
// seccomp filter. Inside, the process may read the document and the
// system's fonts and resources, write only in its own folder, and neither
// start a program, open a socket, trace or signal another process, nor
// mount or enter namespaces. It cannot be left again.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace miravo::print {

struct SandboxPlan {
    std::filesystem::path document;  // readable; may be empty
    std::filesystem::path folder;    // the only place written
    std::uint64_t maxFileBytes = 0;  // per file (0: no limit)
    std::uint64_t maxMemory = 0;     // address space (0: no limit)
    int maxCpuSeconds = 0;           // (0: no limit)
};

// The Landlock version of the running kernel; 0 where it has none or has
// it switched off.
inline int LandlockAbi() {
    constexpr unsigned kVersion = 1U << 0;
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, kVersion);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

// Confines this process and every thread it starts afterwards (call it
// while it has one thread). Where the kernel lacks Landlock the rest still
// applies. False with the reason when any part cannot be applied (or the
// document cannot be opened): the caller must then stop.
bool EnterSandbox(const SandboxPlan& plan, std::string& error);

// Whether this process, once in the box, came within a few MiB of its
// memory limit: an allocation may then have failed anywhere, in
// Ghostscript or in the page writer, under any message.
bool NearMemoryLimit();

}  // namespace miravo::print
