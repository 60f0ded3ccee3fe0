#include "printmon/PrintJob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "app/DocumentKind.h"
#include "app/FileBytes.h"
#include "app/Paths.h"
#include "convert/ImageLibrary.h"
#include "convert/JobFile.h"
#include "convert/LibraryMessages.h"
#include "convert/PageConverter.h"
#include "printmon/Cancellation.h"
#include "printmon/ImagePages.h"
#include "printmon/RenderProcess.h"

namespace miravo::print {

namespace fs = std::filesystem;

namespace {

enum class InputKind { Pdf, PostScript, Image, Unsupported };

InputKind sniff(const fs::path& path, std::string& error, DocumentProblem& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = path.string() + ": cannot be read";
        problem = DocumentProblem::Unreadable;
        return InputKind::Unsupported;
    }
    struct stat info {};
    char head[kDocumentHeadBytes] = {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const std::ptrdiff_t got = regular ? ReadFully(fd, head, sizeof head) : -1;
    const int readErrno = errno;
    ::close(fd);
    if (!regular) {
        error = path.string() + ": not a file";
        problem = DocumentProblem::Unreadable;
        return InputKind::Unsupported;
    }
    if (got < 0) {  // an I/O error, not a file of the wrong kind
        error = path.string() + ": cannot be read: " + std::strerror(readErrno);
        problem = DocumentProblem::Unreadable;
        return InputKind::Unsupported;
    }
    const std::string bytes(head, got > 0 ? static_cast<std::size_t>(got) : 0);
    switch (SniffDocument(bytes)) {
        case DocumentKind::Pdf:
            return InputKind::Pdf;
        case DocumentKind::PostScript:
            return InputKind::PostScript;
        case DocumentKind::Image:
        case DocumentKind::Tiff:  // every page of it
            return InputKind::Image;
        case DocumentKind::Unknown:
            break;
    }
    error = path.string() + ": not a PDF, PostScript, PNG, JPEG or TIFF file";
    problem = DocumentProblem::UnknownKind;
    return InputKind::Unsupported;
}

// Files and folders made so far; removed again unless the job is kept.
class Made {
  public:
    ~Made() {
        if (keep_)
            return;
        std::error_code ec;
        for (auto it = files_.rbegin(); it != files_.rend(); ++it)
            fs::remove(*it, ec);
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it)
            fs::remove_all(*it, ec);
    }
    void file(const fs::path& path) { files_.push_back(path); }
    void folder(const fs::path& path) { folders_.push_back(path); }
    void keep() { keep_ = true; }

  private:
    std::vector<fs::path> files_;
    std::vector<fs::path> folders_;
    bool keep_ = false;
};

// Creates the spool folder (mode 0700) when missing. A shared parent such
// as /tmp must not hand us someone else's folder or a link.
bool prepareFolder(const fs::path& folder, Made& made, std::string& error) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        std::error_code ec;
        fs::create_directories(folder.parent_path(), ec);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = folder.string() + ": cannot be created";
            return false;
        }
        made.folder(folder);
        if (::lstat(folder.c_str(), &info) != 0) {
            error = folder.string() + ": cannot be created";
            return false;
        }
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
        error = folder.string() + ": not a folder of this user";
        return false;
    }
    return true;
}

}  // namespace

std::string JobTitle(const fs::path& input) {
    std::string title = input.stem().string();
    for (char& c : title)
        if (static_cast<unsigned char>(c) < 0x20 || c == '/')
            c = ' ';
    // Cut to 100 bytes, never inside a UTF-8 character: its lead byte goes
    // with its continuation bytes.
    if (title.size() > 100) {
        std::size_t cut = 100;
        while (cut > 97 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80)
            --cut;
        title.resize(cut);
    }
    return title.empty() ? std::string("document") : title;
}

fs::path DefaultSpoolFolder() {
    return ToFsPath(SpoolFolder());
}

std::string SpoolFolderProblem(const fs::path& folder) {
    const std::string text = folder.string();
    if (!folder.is_absolute())
        return text + ": not an absolute folder";
    if (text.find('_') != std::string::npos)
        return text + ": the folder must not hold '_'";
    if (text.size() > 600)
        return text + ": the folder name is too long";
    return {};
}

PrintResult WritePrintJob(const PrintOptions& options) {
    PrintResult result;
    Made made;
    if (options.inputs.empty()) {
        result.error = "no file to print";
        return result;
    }
    std::vector<InputKind> kinds;
    for (const fs::path& input : options.inputs) {
        result.failedInput = input;
        kinds.push_back(sniff(input, result.error, result.problem));
        if (kinds.back() == InputKind::Unsupported)
            return result;
        std::string noLibrary;
        if (kinds.back() == InputKind::Image && !PrepareImageLibrary(&noLibrary)) {
            result.error = "images cannot be read: " + noLibrary;
            result.problem = DocumentProblem::ImageUnreadable;
            result.details = noLibrary;
            return result;
        }
    }
    result.failedInput.clear();
    // Whatever fails from here on is ours, unless a document's rendering says otherwise.
    result.problem = DocumentProblem::NotWritten;
    std::error_code ec;
    fs::path folder = options.outFolder.empty() ? DefaultSpoolFolder() : options.outFolder;
    if (folder.empty()) {
        result.error = "no spool folder: neither XDG_RUNTIME_DIR nor a cache folder is usable";
        return result;
    }
    folder = fs::absolute(folder, ec).lexically_normal();
    if (folder.has_filename() == false)
        folder = folder.parent_path();
    if (std::string problem = SpoolFolderProblem(folder); !problem.empty()) {
        result.error = problem;
        return result;
    }
    if (!prepareFolder(folder, made, result.error))
        return result;

    // A job number whose first page file name is still free.
    std::mt19937 random(std::random_device{}());
    std::string base;
    for (int attempt = 0; attempt < 100 && base.empty(); ++attempt) {
        const std::string candidate =
            (folder / ("job_" + std::to_string(attempt == 0 ? ::getpid() : random() % 100000000)))
                .string();
        if (!fs::exists(candidate + "_1", ec))
            base = candidate;
    }
    if (base.empty()) {
        result.error = "no free job number in " + folder.string();
        return result;
    }

    std::vector<JobPage> pages;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        const fs::path& input = options.inputs[i];
        if (kinds[i] == InputKind::Image && !options.pages.empty()) {
            result.error = input.string() + ": pages are chosen in PDF and PostScript documents only";
            result.failedInput = input;
            return result;
        }
        if (kinds[i] == InputKind::Image) {
            // Every image of the file becomes a page, placed on the fax page.
            const std::size_t before = pages.size();
            const ImagePagesOutcome images =
                WriteImagePages(input, base, static_cast<int>(before) + 1, options.method);
            if (!images.ok) {
                result.error = images.error;
                result.failedPage = images.failedPage;
                result.problem = images.problem;
                result.failedInput = input;
                if (images.problem == DocumentProblem::ImageUnreadable)
                    result.details = TakeLibraryMessages();
                return result;
            }
            for (int k = 1; k <= images.pages; ++k) {
                const fs::path target = base + "_" + std::to_string(before + k);
                made.file(target);
                result.files.push_back(target);
                pages.push_back({FromFsPath(target), 1});
            }
            continue;
        }
        // Pages go straight into their page files, each written while
        // Ghostscript draws the next.
        const std::size_t before = pages.size();
        if (StopRequested()) {
            result.error = "the job was cancelled";
            result.problem = DocumentProblem::Cancelled;
            return result;
        }
        const RenderOutcome rendered = RenderPageFiles(
            input, base, static_cast<int>(before) + 1, options.renderSeconds, options.password,
            options.method, options.pages);
        if (!rendered.ok) {
            result.error = rendered.error;
            result.problem = rendered.problem;
            result.details = rendered.details;
            result.failedInput = input;
            // The renderer cannot tell a missing password from a wrong one.
            if (rendered.problem == DocumentProblem::NeedsPassword && !options.password.empty())
                result.problem = DocumentProblem::WrongPassword;
            return result;
        }
        for (int k = 1; k <= rendered.pages; ++k) {
            const fs::path target = base + "_" + std::to_string(before + k);
            made.file(target);
            result.files.push_back(target);
            pages.push_back({FromFsPath(target), 1});
        }
        if (pages.size() == before) {
            result.error = input.string() + ": the document has no page to print";
            result.problem = DocumentProblem::NoPage;
            result.failedInput = input;
            return result;
        }
    }

    if (StopRequested()) {
        result.error = "the job was cancelled";
        result.problem = DocumentProblem::Cancelled;
        return result;
    }
    const fs::path jobFile =
        folder / (JobTitle(options.inputs.front()) + "__ps__" + fs::path(base).filename().string());
    if (!writeFileAtomically(jobFile, JobFileBytes(pages), 0600)) {
        result.error = jobFile.string() + ": cannot be written";
        return result;
    }
    made.file(jobFile);
    result.files.push_back(jobFile);
    result.ok = true;
    result.problem = DocumentProblem::None;
    result.jobFile = jobFile;
    result.pages = static_cast<int>(pages.size());
    made.keep();
    return result;
}

void RemovePrintJob(const PrintResult& result) {
    std::error_code ec;
    for (const fs::path& file : result.files)
        fs::remove(file, ec);
}

fs::path KeepProtectedDocument(const fs::path& input, const fs::path& folder, std::string& error) {
    struct stat info {};
    const UniqueFd in(OpenRegularFile(input, info));
    if (!in) {
        error = input.string() + ": cannot be read";
        return {};
    }
    if (static_cast<std::uint64_t>(info.st_size) > kMaxPageFileBytes) {
        error = input.string() + ": the document is larger than " + SizeText(kMaxPageFileBytes);
        return {};
    }
    Made made;
    if (std::string problem = SpoolFolderProblem(folder); !problem.empty()) {
        error = problem;
        return {};
    }
    if (!prepareFolder(folder, made, error))
        return {};
    std::mt19937 random(std::random_device{}());
    const std::string title = JobTitle(input);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path kept =
            folder / (title + "__ps__pdf_" +
                      std::to_string(attempt == 0 ? ::getpid() : random() % 100000000) + ".pdf");
        const UniqueFd out(
            ::open(kept.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out && errno == EEXIST)
            continue;
        if (!out) {
            error = kept.string() + ": cannot be written: " + std::strerror(errno);
            return {};
        }
        made.file(kept);
        // Copied as it is: its password stays with the user, never in a file of ours.
        std::vector<char> buffer(1 << 16);
        std::uint64_t copied = 0;
        for (;;) {
            const std::ptrdiff_t got = ReadFully(in.get(), buffer.data(), buffer.size());
            if (got < 0) {
                error = input.string() + ": cannot be read: " + std::strerror(errno);
                return {};
            }
            copied += static_cast<std::uint64_t>(got);
            if (copied > kMaxPageFileBytes) {  // it grew while it was copied
                error =
                    input.string() + ": the document is larger than " + SizeText(kMaxPageFileBytes);
                return {};
            }
            if (got > 0 && !WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(got))) {
                error = kept.string() + ": cannot be written: " + std::strerror(errno);
                return {};
            }
            if (got < static_cast<std::ptrdiff_t>(buffer.size()))
                break;
        }
        if (::fsync(out.get()) != 0) {
            error = kept.string() + ": cannot be written: " + std::strerror(errno);
            return {};
        }
        made.keep();
        return kept;
    }
    error = "no free job number in " + folder.string();
    return {};
}

}  // namespace miravo::print
