// miravo: the print system's backend of the Miravo printer (device
// "miravo:/").
//
// Without arguments it names its device, as every backend does. With the
// print system's arguments (job id, user, title, copies, options [, file])
// it hands the PDF it is given to the job's user: as that user, never as
// root, the document becomes page files and a job file in the user's
// spool, and miravo opens with it on the user's desktop.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "printmon/backend/DocumentTitle.h"
#include "printmon/backend/JobUser.h"
#include "printmon/backend/UserJob.h"

namespace fs = std::filesystem;
using namespace miravo::backend;

namespace {

int fail(int code, const std::string& text) {
    std::fprintf(stderr, "ERROR: %s\n", text.c_str());
    return code;
}

// The programs are installed in PREFIX/bin, this backend in
// PREFIX/lib/cups/backend (the build tree has the same shape).
InstalledPrograms installedPrograms() {
    std::error_code ec;
    const fs::path self = fs::canonical("/proc/self/exe", ec);
    const fs::path bin = (self.parent_path() / "../../../bin").lexically_normal();
    return {bin / "miravo-print", bin / "miravo"};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        std::puts("direct miravo \"Miravo Fax\" \"Miravo\" \"MFG:Miravo;MDL:Fax;CMD:PDF;\" \"\"");
        return kBackendOk;
    }
    if (argc < 6 || argc > 7) {
        std::fputs("usage: miravo job-id user title copies options [file]\n", stderr);
        return kBackendFailed;
    }
    std::string error;
    const auto user = LookUpJobUser(argv[2], error);
    if (!user)
        return fail(kBackendCancelJob, error);
    const uid_t self = ::geteuid();
    if (self != 0 && self != user->uid)
        return fail(kBackendCancelJob, "the backend must run as root to act for " + user->name +
                                           " (install it with mode 0700)");

    const InstalledPrograms programs = installedPrograms();
    for (const fs::path& program : {programs.print, programs.miravo}) {
        if (::access(program.c_str(), X_OK) != 0)
            return fail(kBackendFailed, program.string() + " is missing");
    }
    // The print system's copy of the document is not readable by the user:
    // it is opened here and read after the rights are given up.
    const int document = argc == 7 ? ::open(argv[6], O_RDONLY | O_CLOEXEC | O_NOFOLLOW) : STDIN_FILENO;
    if (document < 0)
        return fail(kBackendCancelJob, std::string("the document cannot be opened: ") + std::strerror(errno));

    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return fail(kBackendFailed, "cannot fork");
    if (child == 0) {
        if (self == 0 && !BecomeUser(*user, error)) {
            std::fprintf(stderr, "ERROR: %s\n", error.c_str());
            std::fflush(stderr);
            ::_exit(kBackendCancelJob);
        }
        ::umask(077);
        UserJobRequest request{*user, document, SafeDocumentTitle(argv[3]), programs};
        const int code = RunUserJob(request);
        std::fflush(nullptr);
        ::_exit(code);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return fail(kBackendCancelJob, "handling the job for " + user->name + " stopped unexpectedly");
}
