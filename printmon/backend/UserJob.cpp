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
#include "printmon/backend/GraphicalSession.h"

namespace miravo::backend {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPdfMagic = "%PDF-";

void status(const char* level, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", level, text.c_str());
    std::fflush(stderr);
}

// The environment of the programs started for the user: nothing of the
// print system's, the account's own basics, and the session's variables.
// Without a session there is no runtime folder either: a job that waits
// must outlive a login that may end before anyone opens a desktop.
std::vector<std::string> userEnvironment(const JobUser& user, const SessionVariables& session) {
    std::vector<std::string> environment = {"PATH=/usr/local/bin:/usr/bin:/bin",
                                            "USER=" + user.name, "LOGNAME=" + user.name};
    bool home = false;
    for (const auto& [name, value] : session) {
        environment.push_back(name + "=" + value);
        home = home || name == "HOME";
    }
    if (!home)
        environment.push_back("HOME=" + user.home);
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
        const int out = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
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
                head.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), kPdfMagic.size()));
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
            error = "the document is not PDF; the Miravo printer takes PDF only (print it without the raw option)";
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
    const std::optional<GraphicalSession> session =
        FindGraphicalSession(request.user.uid, request.procRoot);
    const std::vector<std::string> environment =
        userEnvironment(request.user, session ? session->variables : SessionVariables{});

    std::string error;
    PrivateCopy copy;
    if (!copy.make(request.document, request.title, error)) {
        status("ERROR", error);
        return kBackendCancelJob;
    }
    status("INFO", "Rendering the pages for " + request.user.name);
    // Ghostscript lets documents write into the temporary folder even in
    // its safe mode: that folder is the private one, removed afterwards.
    std::vector<std::string> renderEnvironment = environment;
    renderEnvironment.push_back("TMPDIR=" + copy.folder());
    const ProgramRun rendered =
        RunProgram(request.programs.print, {"--no-launch", "--", copy.file()}, renderEnvironment);
    if (!rendered.started) {
        status("ERROR", request.programs.print.string() + " cannot be started");
        return kBackendCancelJob;
    }
    if (rendered.exitCode != 0) {
        const std::string why = lastLine(rendered.output, [](const std::string& line) {
            return line.rfind("miravo-print: ", 0) == 0;
        });
        status("ERROR", "the document cannot be rendered: " + (why.empty() ? "the renderer failed" : why));
        return kBackendCancelJob;
    }
    const std::string jobFile = lastLine(rendered.output, [](const std::string& line) {
        return line.front() == '/' && line.find("__ps__") != std::string::npos;
    });
    if (jobFile.empty()) {
        status("ERROR", "the renderer named no job file");
        return kBackendCancelJob;
    }
    const std::string spool = fs::path(jobFile).parent_path().string();
    if (!session) {
        status("INFO", "Nobody is logged in on a desktop: the job waits in " + spool +
                           " until Miravo starts next");
        return kBackendOk;
    }
    if (!StartDetached(request.programs.miravo, {jobFile}, environment,
                       SessionValue(session->variables, "HOME").empty()
                           ? request.user.home
                           : SessionValue(session->variables, "HOME"),
                       error)) {
        status("INFO", error + "; the job waits in " + spool + " until Miravo starts next");
        return kBackendOk;
    }
    const std::string display = SessionValue(session->variables, "WAYLAND_DISPLAY").empty()
                                    ? SessionValue(session->variables, "DISPLAY")
                                    : SessionValue(session->variables, "WAYLAND_DISPLAY");
    status("INFO", "Miravo opened on display " + display + " for " + request.user.name);
    return kBackendOk;
}

}  // namespace miravo::backend
