#include "printmon/PrintJob.h"

#include <sys/wait.h>

#include <QImage>
#include <algorithm>
#include <chrono>
#include <thread>

#include "app/Paths.h"
#include "app/Text.h"
#include "convert/JobFile.h"
#include "convert/PageConverter.h"
#include "printmon/RenderProcess.h"
#include "tests/convert/ConvertTestSupport.h"

namespace miravo::print {
namespace {

using test::TempDir;

const std::filesystem::path kSample = std::filesystem::path(MIRAVO_SOURCE_DIR) / "data/sample.pdf";
const std::filesystem::path kIcon =
    std::filesystem::path(MIRAVO_SOURCE_DIR) / "data/icons/miravo-48.png";
const std::string kPrint = std::string(MIRAVO_BINARY_DIR) + "/bin/miravo-print";

PrintOptions optionsFor(const TempDir& dir, std::vector<std::filesystem::path> inputs) {
    PrintOptions options;
    options.outFolder = dir / "spool";
    options.launch = false;
    options.inputs = std::move(inputs);
    return options;
}

TEST(WritePrintJob, RendersThePdfIntoPageFilesAndAJobFile) {
    TempDir dir;
    const PrintResult result = WritePrintJob(optionsFor(dir, {kSample}));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.pages, 3);
    const std::string jobName = result.jobFile.filename().string();
    EXPECT_EQ(jobName.rfind("sample__ps__", 0), 0u) << jobName;
    // UTF-16LE without a byte-order mark, beginning with the product word.
    const std::string bytes = test::readBytes(result.jobFile);
    EXPECT_EQ(bytes.substr(0, 12), test::utf16le(u"miravo", false));
    ASSERT_TRUE(CheckJobFile(FromFsPath(result.jobFile)));
    const auto entries = ParseJobEntries(*ReadJobFileText(FromFsPath(result.jobFile)));
    ASSERT_EQ(entries.size(), 3u);
    const std::u16string base = PageBaseName(entries[0].pageFilePath);
    ASSERT_FALSE(base.empty());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].pageFilePath, base + u"_" + toU16(static_cast<long>(i + 1)));
        EXPECT_EQ(entries[i].pageCount, 1u);
        const auto image = DecodePageFile(test::pathOf(entries[i].pageFilePath));
        ASSERT_TRUE(image.has_value()) << i;
        // Rendered onto the fax page itself, the landscape third page too.
        EXPECT_EQ(image->width, kFaxWidth) << i;
        EXPECT_EQ(image->height, kFaxHeight) << i;
        // The third page's table rules run across the landscape page, so
        // once turned upright they run down it: some column holds a long
        // dark line, which no column of the portrait letter does.
        int longest = 0;
        for (int x = 0; x < image->width; ++x) {
            int run = 0;
            for (int y = 0; y < image->height; ++y) {
                run = image->at(x, y) < 128 ? run + 1 : 0;
                longest = std::max(longest, run);
            }
        }
        if (i == 2) {
            EXPECT_GT(longest, 1000);
        } else if (i == 0) {
            EXPECT_LT(longest, 500);
        }
    }
    // One '_' in the base name's file part, none in the folders.
    const std::u16string folder = base.substr(0, base.rfind(u'/'));
    EXPECT_EQ(folder.find(u'_'), std::u16string::npos);
    EXPECT_EQ(std::count(base.begin(), base.end(), u'_'), 1);
    EXPECT_EQ(result.files.size(), 4u);
}

TEST(WritePrintJob, TakesImagesAsTheyAre) {
    TempDir dir;
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    const auto png = dir / "scan.png";
    ASSERT_TRUE(image.save(QString::fromStdString(png.string()), "PNG"));
    const PrintResult result = WritePrintJob(optionsFor(dir, {png, kSample}));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.pages, 4);
    EXPECT_EQ(result.jobFile.filename().string().rfind("scan__ps__", 0), 0u);
    // The image's page file is its fax page: white, as the image is.
    const auto page = DecodePageFile(result.files.front());
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(page->width, kFaxWidth);
    EXPECT_EQ(page->height, kFaxHeight);
    EXPECT_EQ(*std::min_element(page->pixels.begin(), page->pixels.end()), 255);
    EXPECT_TRUE(std::filesystem::exists(png));  // the original is the user's
}

TEST(WritePrintJob, FailuresLeaveNothingBehind) {
    TempDir dir;
    test::writeBytes(dir / "notes.txt", "just text\n");
    test::writeBytes(dir / "broken.pdf", "%PDF-1.4\nthis is not a PDF at all\n");
    test::writeBytes(dir / "broken.png", "\x89PNG\r\n\x1a\nnothing more");
    for (const char* bad : {"missing.pdf", "notes.txt", "broken.pdf", "broken.png"}) {
        // The good document first: its pages must go again.
        const PrintResult result = WritePrintJob(optionsFor(dir, {kSample, dir / bad}));
        EXPECT_FALSE(result.ok) << bad;
        EXPECT_NE(result.error.find(bad), std::string::npos) << result.error;
        EXPECT_FALSE(std::filesystem::exists(dir / "spool")) << bad;
    }
    // Pages are chosen in rendered documents only: an image fails the job.
    PrintOptions ranged = optionsFor(dir, {kSample, kIcon});
    ranged.pages = "1";
    const PrintResult image = WritePrintJob(ranged);
    EXPECT_FALSE(image.ok);
    EXPECT_NE(image.error.find("pages are chosen in PDF and PostScript documents only"),
              std::string::npos)
        << image.error;
    EXPECT_FALSE(std::filesystem::exists(dir / "spool"));
    std::filesystem::create_directory(dir / "spool");
    EXPECT_FALSE(WritePrintJob(optionsFor(dir, {kSample, dir / "broken.pdf"})).ok);
    EXPECT_TRUE(test::folderNames(dir / "spool").empty());
}

TEST(WritePrintJob, ADocumentThatDrawsForEverIsStoppedInTime) {
    TempDir dir;
    // One page, then a loop that never ends.
    test::writeBytes(dir / "endless.ps", "%!PS\nshowpage\n{ 1 pop } loop\n");
    PrintOptions options = optionsFor(dir, {kSample, dir / "endless.ps"});
    options.renderSeconds = 2;
    const auto start = std::chrono::steady_clock::now();
    const PrintResult result = WritePrintJob(options);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("longer than 2 s"), std::string::npos) << result.error;
    EXPECT_FALSE(std::filesystem::exists(dir / "spool"));
}

TEST(RenderPageFiles, AJobStopsBeyondItsThousandthPageAndLeavesNoPageFile) {
    TempDir dir;
    const std::string base = (dir / "job_1").string();
    // The three pages of the sample as pages 998 to 1000 of a job fit; as
    // pages 999 to 1001 they do not.
    const RenderOutcome fits = RenderPageFiles(kSample, base, 998, kRenderBaseSeconds);
    ASSERT_TRUE(fits.ok) << fits.error;
    EXPECT_EQ(fits.pages, 3);
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directories(dir.path());
    const RenderOutcome beyond = RenderPageFiles(kSample, base, 999, kRenderBaseSeconds);
    EXPECT_FALSE(beyond.ok);
    EXPECT_NE(beyond.error.find("more than 1000 pages"), std::string::npos) << beyond.error;
    EXPECT_TRUE(test::folderNames(dir.path()).empty());
}

TEST(WritePrintJob, ADocumentCanNeitherWriteNorDeleteOutsideItsOwnTempFolder) {
    TempDir dir;
    test::writeBytes(dir / "victim", "the user's file");
    const std::string folder = dir.path().string();
    test::writeBytes(
        dir / "hostile.ps",
        "%!PS\n{ (" + folder +
            "/victim) deletefile } stopped pop\n"
            "{ (" +
            folder +
            "/written) (w) file closefile } stopped pop\n"
            "/Helvetica findfont 40 scalefont setfont 72 700 moveto (page) show showpage\n");
    const PrintResult result = WritePrintJob(optionsFor(dir, {dir / "hostile.ps"}));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.pages, 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "victim"));
    EXPECT_FALSE(std::filesystem::exists(dir / "written"));
    EXPECT_EQ(test::folderNames(dir / "spool").size(), 2u);  // the page file and the job file
}

TEST(WritePrintJob, NamesThatAreNotCleanUtf8StayJobs) {
    TempDir dir;
    const std::string latin1 = "r\xE9sum\xE9.pdf";  // another encoding than UTF-8
    const std::string longUtf8 = std::string(99, 'a') + "\xC3\xA9" + "tail.pdf";  // é across 100
    for (const std::string& name : {latin1, longUtf8}) {
        std::filesystem::copy_file(kSample, dir / name);
        const PrintResult result = WritePrintJob(optionsFor(dir, {dir / name}));
        ASSERT_TRUE(result.ok) << result.error;
        const std::string jobName = result.jobFile.filename().string();
        const std::string title = jobName.substr(0, jobName.find("__ps__"));
        EXPECT_EQ(title, name == latin1 ? "r\xE9sum\xE9" : std::string(99, 'a'));
        // The program, handed the name as its argument, finds the same file.
        const std::u16string job = FromFsPath(result.jobFile);
        ASSERT_TRUE(CheckJobFile(job)) << jobName;
        EXPECT_EQ(ParseJobEntries(*ReadJobFileText(job)).size(), 3u);
        RemovePrintJob(result);
    }
}

TEST(SpoolFolderProblem, FoldersThatWouldBreakTheNames) {
    EXPECT_EQ(SpoolFolderProblem("/tmp/miravo-spool-1000"), "");
    EXPECT_NE(SpoolFolderProblem("/tmp/my_spool"), "");
    EXPECT_EQ(SpoolFolderProblem("/home/john.doe/.cache/Miravo/spool"), "");
    EXPECT_NE(SpoolFolderProblem("relative/spool"), "");
    EXPECT_EQ(SpoolFolderProblem(DefaultSpoolFolder()), "");
    TempDir dir;
    PrintOptions options = optionsFor(dir, {kSample});
    options.outFolder = dir / "a_b";
    const PrintResult result = WritePrintJob(options);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(std::filesystem::exists(dir / "a_b"));
}

TEST(MiravoPrintCommand, PrintsTheJobFileOrAClearError) {
    TempDir dir;
    const std::string out = (dir / "spool").string();
    test::ToolRun run =
        test::runTool(kPrint + " --out " + out + " --no-launch " + kSample.string());
    EXPECT_EQ(run.status, 0) << run.output;
    ASSERT_FALSE(run.output.empty());
    const std::string job = run.output.substr(0, run.output.find('\n'));
    EXPECT_TRUE(CheckJobFile(FromFsPath(job))) << job;

    run = test::runTool(kPrint + " --out " + out + " --no-launch " + (dir / "nope.pdf").string());
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("nope.pdf"), std::string::npos) << run.output;
    run = test::runTool(kPrint);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("usage"), std::string::npos);
    // Only the pages asked for; ranges that are not page numbers are refused.
    run = test::runTool(kPrint + " --out " + out + " --no-launch --pages 2-3,9- " +
                        kSample.string());
    ASSERT_EQ(run.status, 0) << run.output;
    std::string second = run.output.substr(0, run.output.find('\n'));
    second = second.substr(second.find("__ps__") + 6);
    EXPECT_TRUE(std::filesystem::exists(dir / "spool" / (second + "_2")));
    EXPECT_FALSE(std::filesystem::exists(dir / "spool" / (second + "_3")));
    for (const char* bad : {"0", "3-1", "1,-dNOSAFER"}) {
        run = test::runTool(kPrint + " --out " + out + " --no-launch --pages " + bad + " " +
                            kSample.string());
        EXPECT_EQ(WEXITSTATUS(run.status), 2) << bad;
        EXPECT_NE(run.output.find("the pages asked for cannot be printed"), std::string::npos)
            << run.output;
    }
}

TEST(MiravoPrintCommand, StartsMiravoBesideItWithTheJobFile) {
    // A copy of miravo-print beside a stand-in "miravo" that records how it
    // was started; and beside nothing, where printing must fail cleanly.
    TempDir dir;
    const auto bin = dir / "bin";
    std::filesystem::create_directories(bin);
    std::filesystem::copy_file(kPrint, bin / "miravo-print");
    std::filesystem::copy_file(std::filesystem::path(kPrint).parent_path() / "miravo-images.so",
                               bin / "miravo-images.so");
    const auto page = dir / "page.png";
    QImage image(200, 300, QImage::Format_Grayscale8);
    image.fill(255);
    ASSERT_TRUE(image.save(QString::fromStdString(page.string()), "PNG"));
    const std::string print = (bin / "miravo-print").string() + " --out " +
                              (dir / "spool").string() + " " + page.string();

    test::ToolRun run = test::runTool(print);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("cannot be started"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir / "spool") &&
                 !std::filesystem::is_empty(dir / "spool"));

    const auto started = dir / "started.txt";
    test::writeBytes(bin / "miravo",
                     "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + started.string() + "\n");
    std::filesystem::permissions(bin / "miravo", std::filesystem::perms::owner_all);
    run = test::runTool(print);
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string job = run.output.substr(0, run.output.find('\n'));
    // The job file after the end of options: never read as an option.
    const std::string expected = "--\n" + job + "\n";
    std::string recorded;
    for (int i = 0; i < 500 && recorded.size() < expected.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        recorded = test::readBytes(started);
    }
    EXPECT_EQ(recorded, expected);
    EXPECT_TRUE(CheckJobFile(FromFsPath(job)));
}

}  // namespace
}  // namespace miravo::print
