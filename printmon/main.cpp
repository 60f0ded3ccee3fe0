// miravo-print [--out DIR] [--no-launch [--keep-protected]] [--pages LIST] FILE...
// miravo-print --discard JOBFILE
// miravo-print --help | --version
//
// Stands in for the print monitor: renders the files (PDF, PostScript) or
// takes them as they are (PNG, JPEG) into page files, writes the job file,
// prints its path and starts miravo with it; a PDF that needs a password
// is handed to miravo as it is, which asks for it (with --no-launch and
// --keep-protected, a copy of it is kept in the spool and its path printed
// in place of a job file's, for whoever hands jobs on). SIGTERM cancels: what
// was made so far is removed. --discard removes a job it wrote.
#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ConversionSettings.h"
#include "convert/LibraryMessages.h"
#include "printmon/Cancellation.h"
#include "printmon/PageRanges.h"
#include "printmon/PrintJob.h"
#include "printmon/WaitingJobs.h"

namespace {

void usage(std::FILE* to) {
    std::fputs(
        "usage: miravo-print [--out DIR] [--no-launch [--keep-protected]] [--pages LIST] FILE...\n"
        "  Renders PDF and PostScript files (and every page of PNG, JPEG, TIFF and\n"
        "  other images, upright and at its size) into\n"
        "  fax page files and a job file, prints the job file's path and starts\n"
        "  miravo with it.\n"
        "  --out DIR     where the files go (no '_' in the folder)\n"
        "  --no-launch   do not start miravo\n"
        "  --keep-protected  a PDF that needs a password is copied into the spool\n"
        "                and its path printed, for miravo to ask for the password\n"
        "  --pages LIST  only these pages of each PDF or PostScript file, as in\n"
        "                \"1-3,5,8-\" (pages count from 1)\n"
        "usage: miravo-print --discard JOBFILE\n"
        "  Removes a job file and the page files it lists beside it.\n"
        "usage: miravo-print --help | --version\n"
        "  -h, --help    show this help and exit\n"
        "  --version     show the version and exit\n",
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
    std::string endOfOptions = "--";  // the job file is never read as an option
    char* arguments[] = {name.data(), endOfOptions.data(), only.data(), nullptr};
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
    // libtiff's words about a damaged file are details, not terminal output.
    miravo::KeepLibraryMessages();
    miravo::CommandLine line("miravo-print");
    std::string outFolder, discard, pages;
    std::vector<std::string> inputs;
    bool noLaunch = false;
    bool keepProtected = false;
    CLI::Option* out = line.app.add_option("--out", outFolder);
    CLI::Option* noLaunchFlag = line.app.add_flag("--no-launch", noLaunch);
    CLI::Option* keepFlag =
        line.app.add_flag("--keep-protected", keepProtected)->needs(noLaunchFlag);
    CLI::Option* pagesOption = line.app.add_option("--pages", pages);
    CLI::Option* files = line.app.add_option("FILE", inputs);
    files->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    line.app.add_option("--discard", discard)->excludes(out, noLaunchFlag, keepFlag, pagesOption,
                                                     files);
    std::string error;
    if (!line.parse({argv + 1, argv + argc}, error)) {
        std::fprintf(stderr, "miravo-print: %s\n", error.c_str());
        usage(stderr);
        return 2;
    }
    if (line.help) {
        usage(stdout);
        return 0;
    }
    if (line.version) {
        miravo::PrintVersion(stdout, "miravo-print");
        return 0;
    }
    if (line.app.count("--discard") > 0) {
        miravo::print::DiscardWaitingJob({discard, {}, 0, 0});
        return 0;
    }
    if (inputs.empty()) {
        usage(stderr);
        return 2;
    }
    miravo::print::PrintOptions options;
    options.outFolder = outFolder;
    options.launch = !noLaunch;
    options.inputs.assign(inputs.begin(), inputs.end());
    if (line.app.count("--pages") > 0) {
        const auto list = miravo::print::PageListOf(pages, error);
        if (!list) {
            std::fprintf(stderr, "miravo-print: the pages asked for cannot be printed: %s\n",
                         error.c_str());
            return 2;
        }
        options.pages = *list;
    }
    // The job is converted by the method of the user's settings: the
    // renderer applies it to grey pages as they are drawn.
    options.method = miravo::MethodOf(miravo::ReadConversionSettings());

    const std::filesystem::path miravo = programFolder() / "miravo";
    if (options.launch && ::access(miravo.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "miravo-print: %s cannot be started\n", miravo.c_str());
        return 1;
    }
    const miravo::print::PrintResult result = miravo::print::WritePrintJob(options);
    if (!result.ok) {
        // A protected PDF goes to miravo as it is: it asks for the password.
        std::error_code ec;
        if (options.launch && miravo::IsPasswordProblem(result.problem) &&
            options.inputs.size() == 1 &&
            startDetached(miravo, std::filesystem::absolute(options.inputs.front(), ec).string()))
            return 0;
        if (keepProtected && result.problem == miravo::DocumentProblem::NeedsPassword &&
            options.inputs.size() == 1) {
            std::string why;
            const std::filesystem::path kept = miravo::print::KeepProtectedDocument(
                options.inputs.front(),
                options.outFolder.empty() ? miravo::print::DefaultSpoolFolder()
                                          : std::filesystem::absolute(options.outFolder, ec),
                why);
            if (!kept.empty()) {
                std::printf("%s\n", kept.c_str());
                return 0;
            }
            std::fprintf(stderr, "miravo-print: %s: %s\n", result.error.c_str(), why.c_str());
            return 1;
        }
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
