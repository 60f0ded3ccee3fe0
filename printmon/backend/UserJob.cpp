#include "printmon/backend/UserJob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "printmon/backend/ChildProcess.h"
#include "printmon/backend/SessionBus.h"
#include "printmon/backend/StatusLine.h"

namespace miravo::backend {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPdfMagic = "%PDF-";

// The environment of miravo-print: nothing of the print system's or of any
// session's, only the account's basics (its spool follows from HOME).
std::vector<std::string> renderEnvironment(const UserJobRequest& request, const std::string& temp) {
    std::vector<std::string> environment = {
        "PATH=/usr/local/bin:/usr/bin:/bin", "HOME=" + request.user.home,
        "USER=" + request.user.name, "LOGNAME=" + request.user.name, "TMPDIR=" + temp};
    if (!request.language.empty())
        environment.push_back("LANG=" + request.language);
    return environment;
}

// A private folder for the copy of the document, removed with it.
class PrivateCopy {
  public:
    ~PrivateCopy() {
        if (!file_.empty())
            ::unlink(file_.c_str());
        // What a document may have left beside its copy goes too; links
        // are removed, never followed.
        std::error_code ec;
        if (!folder_.empty())
            fs::remove_all(folder_, ec);
    }

    // Copies the document into "<title>.pdf"; the title names the job file.
    bool make(int document, const std::string& title, std::string& error) {
        // Not the print system's TMPDIR: the user may not write there.
        std::string pattern = "/tmp/miravo-job-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            error = "no private folder for the document in " + pattern;
            return false;
        }
        folder_ = pattern;
        file_ = folder_ + "/" + title + ".pdf";
        const int out =
            ::open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (out < 0) {
            file_.clear();
            error = "the document cannot be copied";
            return false;
        }
        char buffer[1 << 16];
        std::string head;
        bool ok = true;
        for (;;) {
            const ssize_t n = ::read(document, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ok = ok && n == 0;
                break;
            }
            if (head.size() < kPdfMagic.size())
                head.append(buffer,
                            std::min<std::size_t>(static_cast<std::size_t>(n), kPdfMagic.size()));
            ok = ok && ::write(out, buffer, static_cast<std::size_t>(n)) == n;
        }
        ok = ::close(out) == 0 && ok;
        if (!ok) {
            error = "the document cannot be copied";
            return false;
        }
        if (head.empty()) {
            error = "the print job holds no page";
            return false;
        }
        if (head.compare(0, kPdfMagic.size(), kPdfMagic) != 0) {
            error =
                "the document is not PDF; the Miravo printer takes PDF only (print it without the "
                "raw option)";
            return false;
        }
        return true;
    }

    const std::string& file() const { return file_; }
    const std::string& folder() const { return folder_; }

  private:
    std::string folder_;
    std::string file_;
};

// The last line of miravo-print's output that `wanted` accepts: its job
// file's path on success, its complaint otherwise (other lines may be
// warnings of the libraries it uses).
template <typename Wanted>
std::string lastLine(const std::string& output, Wanted wanted) {
    std::string found;
    std::size_t start = 0;
    while (start < output.size()) {
        const std::size_t end = std::min(output.find('\n', start), output.size());
        const std::string line = output.substr(start, end - start);
        if (!line.empty() && wanted(line))
            found = line;
        start = end + 1;
    }
    return found;
}

}  // namespace

int RunUserJob(const UserJobRequest& request) {
    // Every user may read the printer's state message: it names no one.
    WithholdInStatus(request.user.name, "the job's user");
    WithholdInStatus(request.user.home, "the home of the job's user");
    WithholdInStatus(request.title, "the document");
    std::string error;
    PrivateCopy copy;
    if (!copy.make(request.document, request.title, error)) {
        ReportError(error);
        return kBackendCancelJob;
    }
    WithholdInStatus(copy.file(), "the document");
    WithholdInStatus(copy.folder(), "the job's folder");
    ReportInfo("Rendering the pages for the job's user");
    // Ghostscript lets documents write into the temporary folder even in
    // its safe mode: that folder is the private one, removed afterwards.
    // A PDF that needs a password is kept in the user's spool as it is and
    // handed over in place of a job file: the desktop asks for the password.
    const ProgramRun rendered =
        RunProgram(request.programs.print, {"--no-launch", "--keep-protected", "--", copy.file()},
                   renderEnvironment(request, copy.folder()));
    if (TerminationRequested()) {
        ReportInfo("The job was cancelled");
        return kBackendCancelJob;
    }
    if (!rendered.started) {
        ReportError(request.programs.print.string() + " cannot be started");
        return kBackendCancelJob;
    }
    if (rendered.exitCode != 0) {
        const std::string why = lastLine(rendered.output, [](const std::string& line) {
            return line.rfind("miravo-print: ", 0) == 0;
        });
        ReportError("the document cannot be rendered: " +
                    (why.empty() ? std::string("the renderer failed") : StatusValue(why)));
        return kBackendCancelJob;
    }
    const std::string jobFile = lastLine(rendered.output, [](const std::string& line) {
        return line.front() == '/' && line.find("__ps__") != std::string::npos;
    });
    if (jobFile.empty() || HoldsControlCharacters(jobFile)) {
        ReportError("the renderer named no usable job file");
        return kBackendCancelJob;
    }
    // Its path names the user's home and the title: shown as "the document".
    WithholdInStatus(jobFile, "the document");
    WithholdInStatus(FileUri(jobFile), "the document");
    const auto waits = [&](const std::string& why) {
        ReportInfo(why + "; the job waits in the spool of the job's user and is offered at the "
                         "next login");
        return kBackendOk;
    };
    std::string reason;
    const std::optional<fs::path> bus =
        UserBusSocket(request.user.uid, request.runtimeRoot, reason);
    if (!bus)
        return waits(reason);
    if (TerminationRequested()) {
        RunProgram(request.programs.print, {"--discard", jobFile},
                   renderEnvironment(request, "/tmp"));
        ReportInfo("The job was cancelled");
        return kBackendCancelJob;
    }
    if (!OpenOnSessionBus(*bus, jobFile, error))
        return waits(error);
    ReportInfo("Miravo opened the job in the session of the job's user");
    return kBackendOk;
}

}  // namespace miravo::backend
