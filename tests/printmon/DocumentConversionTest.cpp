// Documents as people send them, made here, each through the path a
// chosen, dropped or printed document takes (render, then convert): how
// many pages come out, and what the user is told when none do.
#include "printmon/DocumentConversion.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "app/WorkerReport.h"
#include "convert/FaxTiff.h"
#include "printmon/WaitingJobs.h"
#include "tests/convert/ConvertTestSupport.h"

namespace miravo::print {
namespace {

using test::TempDir;

const std::filesystem::path kSample = std::filesystem::path(MIRAVO_SOURCE_DIR) / "data/sample.pdf";
constexpr char kPassword[] = "Tr0ub4dor&3";

// Ghostscript writes the protected copies of the sample.
void protectedPdf(const std::filesystem::path& out, const std::string& userPassword) {
    std::string command = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOwnerPassword=owner ";
    if (!userPassword.empty())
        command += "-sUserPassword='" + userPassword + "' ";
    command += "-o '" + out.string() + "' '" + kSample.string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// A JPEG whose header asks for 12 bits per sample (SOF1), as medical and
// some camera raw exports are; the usual JPEG library reads 8 only.
std::string twelveBitJpeg() {
    const unsigned char bytes[] = {
        0xFF, 0xD8,                                                        // start of image
        0xFF, 0xC1, 0x00, 0x0B, 0x0C, 0x00, 0x10, 0x00, 0x10, 0x01,        // SOF1, 12 bits, 16 x 16
        0x01, 0x11, 0x00,                                                  // one component
        0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00,        // start of scan
        0x12, 0x34, 0x56, 0x78, 0xFF, 0xD9};                               // data, end of image
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// A fax TIFF of two pages whose second page is damaged.
void faxTiffDamagedOnPage2(const std::filesystem::path& out) {
    TIFF* tiff = TIFFOpen(out.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    const std::vector<std::uint8_t> white(1728 / 8, 0);
    for (int page = 1; page <= 2; ++page) {
        miravo::test::setFaxPageFields(tiff, 200);
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        if (page == 1) {
            for (std::uint32_t y = 0; y < 200; ++y)
                ASSERT_EQ(TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(white.data()), y, 0), 1);
        } else {
            miravo::test::writeNoiseStrip(tiff);
        }
        TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
}

// What the process prints on its standard error while `run` runs.
template <class F>
std::string stderrOf(const F& run, const std::filesystem::path& file) {
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int to = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(to, STDERR_FILENO);
    ::close(to);
    run();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    return test::readBytes(file);
}

// Every file under `folder` that holds `secret`.
std::vector<std::string> filesHolding(const std::filesystem::path& folder, const std::string& secret) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec))
        if (entry.is_regular_file() && test::readBytes(entry.path()).find(secret) != std::string::npos)
            found.push_back(entry.path().string());
    return found;
}

TEST(ConvertDocument, TellsPagesOrWhyNoneCameByTheDocumentsName) {
    TempDir dir;
    std::filesystem::create_directories(dir / "in");
    const std::string sample = test::readBytes(kSample);
    // As a mail gateway delivers it: a header before the PDF.
    test::writeBytes(dir / "in/Forwarded.pdf",
                     "Content-Type: application/pdf\r\nContent-Length: 4597\r\n\r\n" + sample);
    // The marker must start within the first 1,024 bytes.
    test::writeBytes(dir / "in/Far.pdf", std::string(1100, '#') + sample);
    protectedPdf(dir / "in/Locked.pdf", kPassword);
    protectedPdf(dir / "in/Owner only.pdf", "");
    test::writeBytes(dir / "in/Deep.jpg", twelveBitJpeg());
    test::writeDamagedFaxTiff(dir / "in/Damaged fax.tif");
    faxTiffDamagedOnPage2(dir / "in/Two pages.tif");

    LanguageTable english;
    ASSERT_EQ(LoadLanguage(english, u"" MIRAVO_SOURCE_DIR "/data/lang.ini", u"en"), 1);

    struct Case {
        const char* file;
        std::string password;
        int pages;
        DocumentProblem problem;
        const char* says;  // in the message, beside the document's name
        int failedPage;    // of an image, from 1
    };
    const Case cases[] = {
        {"Forwarded.pdf", "", 3, DocumentProblem::None, "", 0},
        {"Far.pdf", "", 0, DocumentProblem::UnknownKind, "Documents that can be sent", 0},
        {"Locked.pdf", kPassword, 3, DocumentProblem::None, "", 0},
        {"Locked.pdf", "guess", 0, DocumentProblem::WrongPassword, "password does not open", 0},
        {"Locked.pdf", "", 0, DocumentProblem::NeedsPassword, "the PDF needs a password", 0},
        {"Owner only.pdf", "", 3, DocumentProblem::None, "", 0},
        {"Deep.jpg", "", 0, DocumentProblem::ImageUnreadable, "12-bit JPEG", 0},
        {"Damaged fax.tif", "", 0, DocumentProblem::ImageUnreadable, "damaged", 0},
        {"Two pages.tif", "", 0, DocumentProblem::ImageUnreadable, "page 2 cannot be read", 2},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " with password \"" + c.password + "\"");
        const std::filesystem::path spool = dir / ("spool" + std::to_string(++run));
        AppState state;
        SilentWorkerReport report;
        ConversionControl control;
        control.documentBase = FromFsPath(dir / ("out" + std::to_string(run)) / "tosend");
        std::filesystem::create_directories(dir / ("out" + std::to_string(run)));
        DocumentConversion converted;
        const std::string printed = stderrOf(
            [&] {
                converted = ConvertDocument(state, dir / "in" / c.file, c.password, report,
                                            control, spool);
            },
            dir / "stderr");
        EXPECT_EQ(converted.pages, c.pages);
        EXPECT_EQ(converted.problem, c.problem);
        EXPECT_EQ(converted.failedPage, c.failedPage);
        EXPECT_EQ(converted.printed.ok, c.pages > 0);
        // Nothing a library says reaches the terminal.
        EXPECT_EQ(printed, "");
        if (c.pages > 0) {
            EXPECT_EQ(CountTiffPages(ToFsPath(state.job.documentPath)), c.pages);
            continue;
        }
        EXPECT_EQ(state.job.documentPath, u"");
        // Nothing of a failed document stays in the spool.
        EXPECT_TRUE(!std::filesystem::exists(spool) || test::folderNames(spool).empty());
        const std::string message = toUtf8(
            DocumentProblemText(english, c.problem, fromUtf8(c.file), converted.failedPage));
        EXPECT_NE(message.find(c.file), std::string::npos) << message;
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        for (const std::string& never : {dir.path().string(), std::string("Fax3"),
                                         std::string("precision"), std::string("****")})
            EXPECT_EQ(message.find(never), std::string::npos) << message;
        EXPECT_EQ(converted.details.find(spool.string()), std::string::npos) << converted.details;
        // The library's words about this document, not about another file.
        if (std::string(c.file) == "Damaged fax.tif") {
            EXPECT_EQ(converted.details.rfind("Fax3Decode", 0), 0u) << converted.details;
        }
    }
    // The password went to the renderer only: no file made on the way holds it.
    EXPECT_EQ(filesHolding(dir.path() , kPassword), std::vector<std::string>{});
}

// Printed where nobody can be asked (the print backend), a PDF that needs a
// password is kept in the spool as it is, for the desktop program to ask;
// only then, and only such a PDF. The copy waits like a job and goes with it.
TEST(KeepProtected, APdfThatNeedsAPasswordWaitsInTheSpoolAsItIs) {
    TempDir dir;
    std::filesystem::create_directories(dir / "in");
    protectedPdf(dir / "in/Locked.pdf", kPassword);
    protectedPdf(dir / "in/Owner only.pdf", "");
    test::writeBytes(dir / "in/Damaged.pdf", "%PDF-1.4\n1 0 obj <<");
    const std::filesystem::path spool = dir / "run/miravo";
    const struct {
        const char* file;
        const char* options;
        int status;
        const char* printed;  // in the path printed, "" when none
    } cases[] = {
        {"Locked.pdf", "--no-launch --keep-protected", 0, "/Locked__ps__pdf_"},
        {"Locked.pdf", "--no-launch", 1, ""},
        {"Owner only.pdf", "--no-launch --keep-protected", 0, "/Owner only__ps__job_"},
        {"Damaged.pdf", "--no-launch --keep-protected", 1, ""},
        {"Locked.pdf", "--keep-protected", 2, ""},  // only where nothing is launched
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.options);
        std::filesystem::remove_all(dir / "run");
        std::filesystem::create_directories(dir / "run");
        const test::ToolRun run = test::runTool(
            "HOME=" + dir.path().string() + " XDG_RUNTIME_DIR=" + (dir / "run").string() + " " +
            MIRAVO_BINARY_DIR + "/bin/miravo-print " + c.options + " '" +
            (dir / "in" / c.file).string() + "'");
        EXPECT_EQ(WEXITSTATUS(run.status), c.status) << run.output;
        if (!*c.printed) {
            EXPECT_TRUE(!std::filesystem::exists(spool) || test::folderNames(spool).empty());
            continue;
        }
        EXPECT_NE(run.output.find(spool.string() + c.printed), std::string::npos) << run.output;
    }
    // The kept copy: the document's bytes, for this user only, seen as a
    // waiting job of the spool, and never taken for one elsewhere.
    const test::ToolRun kept =
        test::runTool("HOME=" + dir.path().string() + " XDG_RUNTIME_DIR=" + (dir / "run").string() +
                      " " + MIRAVO_BINARY_DIR + "/bin/miravo-print --no-launch --keep-protected '" +
                      (dir / "in/Locked.pdf").string() + "'");
    const std::filesystem::path copy = kept.output.substr(0, kept.output.find('\n'));
    EXPECT_EQ(test::readBytes(copy), test::readBytes(dir / "in/Locked.pdf"));
    EXPECT_EQ(std::filesystem::status(copy).permissions(), std::filesystem::perms(0600));
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = runtime ? runtime : "";
    ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    EXPECT_TRUE(IsSpooledDocument(FromFsPath(copy)));
    const std::vector<WaitingJob> waiting = ListWaitingJobs({spool});
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].title, "Locked");
    std::filesystem::copy_file(copy, dir / "in" / copy.filename());
    EXPECT_FALSE(IsSpooledDocument(FromFsPath(dir / "in" / copy.filename())));
    DiscardWaitingJob(waiting[0]);
    EXPECT_FALSE(std::filesystem::exists(copy));
    if (runtime)
        ::setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

// Every reason is worded, with the document's name, in every language.
TEST(DocumentProblemText, NamesTheDocumentInEveryLanguage) {
    for (const char16_t* code : {u"en", u"de", u"ru"}) {
        LanguageTable language;
        ASSERT_EQ(LoadLanguage(language, u"" MIRAVO_SOURCE_DIR "/data/lang.ini", code), 1);
        for (int p = static_cast<int>(DocumentProblem::Unreadable);
             p <= static_cast<int>(DocumentProblem::Unprotected); ++p) {
            const auto problem = static_cast<DocumentProblem>(p);
            const std::u16string text = DocumentProblemText(language, problem, u"Brief.pdf");
            if (problem == DocumentProblem::Cancelled) {
                EXPECT_EQ(text, u"");
                continue;
            }
            EXPECT_NE(text.find(u"Brief.pdf"), std::u16string::npos) << toUtf8(code) << " " << p;
            EXPECT_EQ(text.find(u"%"), std::u16string::npos) << toUtf8(text);
        }
    }
}

}  // namespace
}  // namespace miravo::print
