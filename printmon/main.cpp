// miravo-print [--out DIR] [--no-launch] FILE...
// miravo-print --discard JOBFILE
//
// Stands in for the print monitor: renders the files (PDF, PostScript) or
// takes them as they are (PNG, JPEG) into page files, writes the job file,
// prints its path and starts miravo with it. SIGTERM cancels: what was
// made so far is removed. --discard removes a job it wrote.
#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "printmon/Cancellation.h"
#include "printmon/PrintJob.h"
#include "printmon/WaitingJobs.h"

namespace {

void usage(std::FILE* to) {
    std::fputs(
        "usage: miravo-print [--out DIR] [--no-launch] FILE...\n"
        "  Renders PDF and PostScript files (or takes PNG and JPEG images) into\n"
        "  fax page files and a job file, prints the job file's path and starts\n"
        "  miravo with it.\n"
        "  --out DIR     where the files go (no '_' in the folder)\n"
        "  --no-launch   do not start miravo\n"
        "usage: miravo-print --discard JOBFILE\n"
        "  Removes a job file and the page files it lists beside it.\n",
        to);
}

// Starts `program` with `argument` in a session of its own, so that it
// outlives this process and any terminal or job control it ran under.
bool startDetached(const std::filesystem::path& program, const std::string& argument) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string name = program.string();
    std::string only = argument;
    char* arguments[] = {name.data(), only.data(), nullptr};
    pid_t child = 0;
    const int failed =
        ::posix_spawn(&child, name.c_str(), nullptr, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    return failed == 0;
}

std::filesystem::path programFolder() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
}

}  // namespace

int main(int argc, char** argv) {
    miravo::print::StopOnTermination();
    if (argc == 3 && std::string(argv[1]) == "--discard") {
        miravo::print::DiscardWaitingJob({argv[2], {}, 0, 0});
        return 0;
    }
    miravo::print::PrintOptions options;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && (arg == "--help" || arg == "-h")) {
            usage(stdout);
            return 0;
        } else if (!optionsEnd && arg == "--no-launch") {
            options.launch = false;
        } else if (!optionsEnd && arg == "--out") {
            if (++i >= argc) {
                usage(stderr);
                return 2;
            }
            options.outFolder = argv[i];
        } else if (!optionsEnd && arg.rfind("--out=", 0) == 0) {
            options.outFolder = arg.substr(6);
        } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "miravo-print: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        } else {
            options.inputs.emplace_back(arg);
        }
    }
    if (options.inputs.empty()) {
        usage(stderr);
        return 2;
    }

    const std::filesystem::path miravo = programFolder() / "miravo";
    if (options.launch && ::access(miravo.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "miravo-print: %s cannot be started\n", miravo.c_str());
        return 1;
    }
    const miravo::print::PrintResult result = miravo::print::WritePrintJob(options);
    if (!result.ok) {
        std::fprintf(stderr, "miravo-print: %s\n", result.error.c_str());
        return 1;
    }
    std::printf("%s\n", result.jobFile.c_str());
    std::fflush(stdout);
    if (options.launch && !startDetached(miravo, result.jobFile.string())) {
        std::fprintf(stderr, "miravo-print: %s cannot be started\n", miravo.c_str());
        miravo::print::RemovePrintJob(result);
        return 1;
    }
    return 0;
}
