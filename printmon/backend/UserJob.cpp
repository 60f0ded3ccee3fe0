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
#include "printmon/backend/DocumentStarts.h"
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

// A private folder for the copy of the job's documents, removed with it.
class PrivateCopy {
  public:
    ~PrivateCopy() {
        for (const std::string& file : files_)
            ::unlink(file.c_str());
        // What a document may have left beside its copy goes too; links
        // are removed, never followed.
        std::error_code ec;
        if (!folder_.empty())
            fs::remove_all(folder_, ec);
    }

    // Copies the job's documents, each into a PDF named after the title
    // (which names its job file): "<title>.pdf", then "2/<title> 2.pdf", ...
    bool make(int document, const std::string& title, std::string& error) {
        // Not the print system's TMPDIR: the user may not write there.
        std::string pattern = "/tmp/miravo-job-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            error = "no private folder for the document in " + pattern;
            return false;
        }
        folder_ = pattern;
        const std::string whole = folder_ + "/" + title + ".pdf";
        const int out =
            ::open(whole.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (out < 0) {
            error = "the document cannot be copied";
            return false;
        }
        files_.push_back(whole);
        DocumentStarts starts;
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
            starts.feed(buffer, static_cast<std::size_t>(n));
            ok = ok && ::write(out, buffer, static_cast<std::size_t>(n)) == n;
        }
        if (ok && head.rfind(kPdfMagic, 0) == 0 && starts.starts().size() > 1)
            ok = split(out, starts.starts(), title, error);
        ok = ::close(out) == 0 && ok;
        if (!ok) {
            if (error.empty())
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

    // The documents, in the job's order.
    const std::vector<std::string>& files() const { return files_; }
    const std::string& folder() const { return folder_; }

  private:
    // Cuts the copy (open as `in`) at `starts` into one file per document,
    // each in a folder of its own beside it; the whole copy goes.
    bool split(int in, const std::vector<std::uint64_t>& starts, const std::string& title,
               std::string& error) {
        if (starts.size() > kMaxDocumentsPerJob) {
            error = "the print job holds " + std::to_string(starts.size()) +
                    " documents; one fax takes at most " + std::to_string(kMaxDocumentsPerJob);
            return false;
        }
        struct stat info {};
        if (::fstat(in, &info) != 0)
            return false;
        std::vector<std::string> pieces;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const std::string number = std::to_string(i + 1);
            const std::string place = folder_ + "/" + number;
            if (::mkdir(place.c_str(), 0700) != 0)
                return false;
            const std::string name =
                place + "/" + title + (i == 0 ? std::string() : " " + number) + ".pdf";
            const int out =
                ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (out < 0)
                return false;
            files_.push_back(name);
            pieces.push_back(name);
            off_t from = static_cast<off_t>(starts[i]);
            const off_t to = i + 1 < starts.size() ? static_cast<off_t>(starts[i + 1])
                                                   : static_cast<off_t>(info.st_size);
            char buffer[1 << 16];
            bool ok = true;
            while (ok && from < to) {
                const ssize_t n = ::pread(
                    in, buffer, std::min<std::size_t>(sizeof buffer, to - from), from);
                if (n < 0 && errno == EINTR)
                    continue;
                ok = n > 0 && ::write(out, buffer, static_cast<std::size_t>(n)) == n;
                from += n > 0 ? n : 0;
            }
            if (::close(out) != 0 || !ok)
                return false;
        }
        ::unlink(files_.front().c_str());
        files_ = std::move(pieces);
        return true;
    }

    std::string folder_;
    std::vector<std::string> files_;
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
    for (const std::string& file : copy.files())
        WithholdInStatus(file, "the document");
    WithholdInStatus(copy.folder(), "the job's folder");
    ReportInfo("Rendering the pages for the job's user");
    // Each document of the job becomes a job file; when one cannot, those
    // made before it go too and the job fails whole.
    std::vector<fs::path> jobFiles;
    const auto discardJobFiles = [&] {
        for (const fs::path& jobFile : jobFiles)
            RunProgram(request.programs.print, {"--discard", jobFile.string()},
                       renderEnvironment(request, "/tmp"));
    };
    for (const std::string& file : copy.files()) {
        // Ghostscript lets documents write into the temporary folder even
        // in its safe mode: that folder is the private one, removed
        // afterwards. A PDF that needs a password is kept in the user's
        // spool as it is and handed over in place of a job file: the
        // desktop asks for the password.
        std::vector<std::string> arguments = {"--no-launch", "--keep-protected"};
        if (!request.pages.empty())
            arguments.insert(arguments.end(), {"--pages", request.pages});
        arguments.insert(arguments.end(), {"--", file});
        const ProgramRun rendered = RunProgram(request.programs.print, arguments,
                                               renderEnvironment(request, copy.folder()));
        if (TerminationRequested()) {
            discardJobFiles();
            ReportInfo("The job was cancelled");
            return kBackendCancelJob;
        }
        if (!rendered.started) {
            discardJobFiles();
            ReportError(request.programs.print.string() + " cannot be started");
            return kBackendCancelJob;
        }
        if (rendered.exitCode != 0) {
            discardJobFiles();
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
            discardJobFiles();
            ReportError("the renderer named no usable job file");
            return kBackendCancelJob;
        }
        // Its path names the user's home and the title: shown as "the
        // document".
        WithholdInStatus(jobFile, "the document");
        WithholdInStatus(FileUri(jobFile), "the document");
        // A protected PDF is kept whole: its pages are chosen in Miravo.
        if (!request.pages.empty() && jobFile.size() > 4 &&
            jobFile.compare(jobFile.size() - 4, 4, ".pdf") == 0)
            ReportInfo("The pages asked for are not chosen in a PDF that needs a password: "
                       "all its pages are handed over");
        jobFiles.push_back(jobFile);
    }
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
        discardJobFiles();
        ReportInfo("The job was cancelled");
        return kBackendCancelJob;
    }
    if (!OpenOnSessionBus(*bus, jobFiles, error))
        return waits(error);
    ReportInfo(jobFiles.size() == 1
                   ? std::string("Miravo opened the job in the session of the job's user")
                   : "Miravo opened the job's " + std::to_string(jobFiles.size()) +
                         " documents as one fax in the session of the job's user");
    return kBackendOk;
}

}  // namespace miravo::backend
