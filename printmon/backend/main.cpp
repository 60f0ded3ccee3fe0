// miravo: the print system's backend of the Miravo printer (device
// "miravo:/").
//
// Without arguments it names its device, as every backend does. With the
// print system's arguments (job id, user, title, copies, options [, file])
// it hands the PDF it is given to the job's user: only when the print
// system vouches that this user sent it (AUTH_UID) and the account is a
// login account. As that user, never as root, the document becomes page
// files and a job file in the user's spool, handed to Miravo in the
// user's session through the session bus. One copy is sent, whatever the
// copies asked for: a fax goes to each number once.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "printmon/backend/ChildProcess.h"
#include "printmon/PageRanges.h"
#include "printmon/backend/DocumentTitle.h"
#include "printmon/backend/JobOptions.h"
#include "printmon/backend/JobAccess.h"
#include "printmon/backend/JobUser.h"
#include "printmon/backend/StatusLine.h"
#include "printmon/backend/UserJob.h"
#include "printmon/backend/UserSide.h"

namespace fs = std::filesystem;
using namespace miravo::backend;

namespace {

int fail(int code, const std::string& text) {
    ReportError(text);
    return code;
}

// A root-owned setting of the print system (cupsd.conf's SetEnv) may name
// the folder that holds the users' runtime folders; /run/user otherwise.
std::filesystem::path runtimeRoot() {
    const char* configured = std::getenv("MIRAVO_RUNTIME_ROOT");
    if (configured && configured[0] == '/' && !HoldsControlCharacters(configured))
        return configured;
    return "/run/user";
}

// The print system's language, when it is a plain locale name.
std::string language() {
    const char* lang = std::getenv("LANG");
    if (!lang || std::strlen(lang) > 64)
        return {};
    for (const char* c = lang; *c; ++c)
        if (!std::isalnum(static_cast<unsigned char>(*c)) && !std::strchr("_.-@", *c))
            return {};
    return lang;
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
    // The print system's back and side channels stay with this process:
    // nothing started from here inherits them.
    ::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    HandleTermination();
    std::string error;
    // The printer's state message is shown to every user: it names neither
    // the job's user nor its document.
    WithholdInStatus(argv[2], "the job's user");
    WithholdInStatus(argv[3], "the document");
    const auto user = LookUpJobUser(argv[2], error);
    if (!user)
        return fail(kBackendCancelJob, error);
    WithholdInStatus(user->home, "the home of the job's user");
    WithholdInStatus(SafeDocumentTitle(argv[3]), "the document");
    if (const auto refusal =
            JobRefusal(*user, std::getenv("AUTH_UID"), LoginUidMin(), LoginUidMax()))
        return fail(kBackendCancelJob, *refusal);
    if (std::atol(argv[4]) > 1)
        ReportInfo(std::string("Copies are ignored: a fax is sent once (") + StatusValue(argv[4]) +
                   " were asked for)");
    // A PDF reaches this backend as it was printed, past the print system's
    // own handling of pages: the pages asked for are rendered by
    // miravo-print, checked here first.
    std::string pages;
    if (const auto ranges = JobOption(argv[5], "page-ranges")) {
        const auto list = miravo::print::PageListOf(*ranges, error);
        if (!list)
            return fail(kBackendCancelJob, "the pages asked for (page-ranges=" +
                                               StatusValue(*ranges) +
                                               ") cannot be printed: " + StatusValue(error));
        pages = *list;
    }
    for (const std::string& ignored : IgnoredPageOptions(argv[5]))
        ReportInfo(StatusValue(ignored) + " is ignored: a fax page holds one page, upright and "
                                          "fitted to it");
    const uid_t self = ::geteuid();
    if (self != 0 && self != user->uid)
        return fail(kBackendCancelJob, "the backend must run as root to act for the job's user (install it with mode "
                         "0700)");

    const InstalledPrograms programs = installedPrograms();
    for (const fs::path& program : {programs.print, programs.miravo}) {
        if (::access(program.c_str(), X_OK) != 0)
            return fail(kBackendFailed, program.string() + " is missing");
    }
    // The print system's copy of the document is not readable by the user:
    // it is opened here and read after the rights are given up.
    const int document =
        argc == 7 ? ::open(argv[6], O_RDONLY | O_CLOEXEC | O_NOFOLLOW) : STDIN_FILENO;
    if (document < 0)
        return fail(kBackendCancelJob,
                    std::string("the document cannot be opened: ") + std::strerror(errno));

    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return fail(kBackendFailed, "cannot fork");
    if (child == 0) {
        // A process group of its own, which the root side can end whole.
        ::setpgid(0, 0);
        // Only the document stays open for the user's side of the job.
        if (document > STDERR_FILENO + 1)
            ::close_range(STDERR_FILENO + 1, static_cast<unsigned>(document) - 1, 0);
        ::close_range(static_cast<unsigned>(std::max(document, STDERR_FILENO)) + 1, ~0U, 0);
        if (self == 0 && !BecomeUser(*user, error)) {
            ReportError(error);
            ::_exit(kBackendCancelJob);
        }
        ::umask(077);
        UserJobRequest request{*user,      document,      SafeDocumentTitle(argv[3]), programs,
                               language(), runtimeRoot(), pages};
        const int code = RunUserJob(request);
        std::fflush(nullptr);
        ::_exit(code);
    }
    ::setpgid(child, child);  // before the root side may signal the group
    ::close(document);
    // The user side can be stopped by its user: the deadline is kept here.
    // A cancel reaches the user's side, which removes what it made.
    const auto deadline = UserSideDeadline();
    const UserSideEnd end = SuperviseUserSide(child, deadline);
    switch (end.kind) {
        case UserSideEnd::Exited:
            return end.exitCode;
        case UserSideEnd::Cancelled:
            ReportInfo("The job was cancelled");
            return kBackendCancelJob;
        case UserSideEnd::TimedOut:
            return fail(kBackendCancelJob, "handling the job took longer than " +
                                               std::to_string(deadline.count()) +
                                               " s: it was stopped");
        case UserSideEnd::Crashed:
            break;
    }
    return fail(kBackendCancelJob, "handling the job for the job's user stopped unexpectedly");
}
