// The headless path from a PDF to the fax document: miravo-print, then
// miravo-send --convert-only, both as the user runs them.
#include "app/Paths.h"
#include "convert/JobFile.h"
#include "tests/convert/ConvertTestSupport.h"

namespace miravo {
namespace {

using test::TempDir;

const std::string kBin = std::string(MIRAVO_BINARY_DIR) + "/bin/";

TEST(ConvertOnly, PrintedPdfBecomesTheFaxDocument) {
    TempDir dir;
    std::filesystem::create_directories(dir / "home");
    const std::string env = "HOME=" + (dir / "home").string() +
                            " XDG_CONFIG_HOME=" + (dir / "home/config").string() +
                            " XDG_CACHE_HOME=" + (dir / "cache").string() + " ";
    test::ToolRun print =
        test::runTool(kBin + "miravo-print --no-launch --out " + (dir / "spool").string() + " " +
                      MIRAVO_SOURCE_DIR + "/data/sample.pdf");
    ASSERT_EQ(print.status, 0) << print.output;
    const std::string job = print.output.substr(0, print.output.find('\n'));

    const test::ToolRun send =
        test::runTool(env + kBin + "miravo-send --convert-only '" + job + "'");
    ASSERT_EQ(send.status, 0) << send.output;
    // The document lives in a private folder of its own in the cache.
    const std::size_t at = send.output.find("document: ");
    ASSERT_NE(at, std::string::npos) << send.output;
    const std::string document = send.output.substr(at + 10, send.output.find('\n', at) - at - 10);
    EXPECT_EQ(std::filesystem::path(document).filename(), "tosend_res__3.tif");
    EXPECT_EQ(std::filesystem::path(document).parent_path().parent_path(), dir / "cache/Miravo");
    EXPECT_NE(send.output.find("\npages: 3\n"), std::string::npos) << send.output;
    const auto pages = test::readTiff(document);
    ASSERT_EQ(pages.size(), 3u);
    for (const auto& page : pages) {
        EXPECT_EQ(page.width, 1728u);
        EXPECT_EQ(page.height, 2292u);
        EXPECT_EQ(page.compression, COMPRESSION_CCITTFAX3);
        EXPECT_GT(test::blackCount(page.bits, 0, 0, 1728, 2292), 1000);
    }
    test::expectToolsAccept(document);
    // The job's page files and job file are used up; the document stays.
    EXPECT_TRUE(test::folderNames(dir / "spool").empty());

    // Not a job file: a clear refusal.
    const test::ToolRun refused =
        test::runTool(env + kBin + "miravo-send --convert-only " + document);
    EXPECT_EQ(refused.status, 256);
    EXPECT_NE(refused.output.find("not a job file"), std::string::npos) << refused.output;
    EXPECT_NE(test::runTool(kBin + "miravo-send").status, 0);

    // A page file that cannot be converted: a clear failure, no document,
    // and nothing of the run left in the cache.
    test::writeBytes(dir / "job_9_1", "no image");
    test::writeBytes(dir / "Broken__ps__9", JobFileBytes({{FromFsPath(dir / "job_9_1"), 1}}));
    const test::ToolRun broken = test::runTool(env + kBin + "miravo-send --convert-only " +
                                               (dir / "Broken__ps__9").string());
    EXPECT_EQ(broken.status, 256);
    EXPECT_NE(broken.output.find("job_9_1 cannot be converted"), std::string::npos)
        << broken.output;
    EXPECT_EQ(test::folderNames(dir / "cache/Miravo").size(), 1u);  // the first run's only
    EXPECT_TRUE(std::filesystem::exists(dir / "job_9_1"));
}

// Image page files go through the image module beside the program; the
// renderer's own page files need neither it nor any Qt library.
TEST(ConvertOnly, OnlyImagesNeedTheImageModule) {
    TempDir dir;
    const std::string env = "HOME=" + dir.path().string() +
                            " XDG_CONFIG_HOME=" + (dir / "config").string() +
                            " XDG_CACHE_HOME=" + (dir / "cache").string() + " ";
    std::filesystem::create_directories(dir / "alone");
    std::filesystem::copy_file(kBin + "miravo-send", dir / "alone/miravo-send");
    const auto job = [&](const std::string& name, const std::filesystem::path& page) {
        std::filesystem::copy_file(page, dir / ("job_" + name + "_1"));
        test::writeBytes(dir / (name + "__ps__1"),
                         JobFileBytes({{FromFsPath(dir / ("job_" + name + "_1")), 1}}));
        return (dir / (name + "__ps__1")).string();
    };
    const std::string image = job("7", MIRAVO_SOURCE_DIR "/data/icons/miravo-48.png");
    const test::ToolRun withModule =
        test::runTool(env + kBin + "miravo-send --convert-only " + image);
    EXPECT_EQ(withModule.status, 0) << withModule.output;
    EXPECT_NE(withModule.output.find("\npages: 1\n"), std::string::npos) << withModule.output;

    const test::ToolRun noModule =
        test::runTool(env + (dir / "alone/miravo-send").string() + " --convert-only " +
                      job("8", MIRAVO_SOURCE_DIR "/data/icons/miravo-48.png"));
    EXPECT_EQ(noModule.status, 256);
    EXPECT_NE(noModule.output.find("images cannot be read"), std::string::npos) << noModule.output;

    test::writeBytes(dir / "page.pbm", "P4\n1728 2292\n" + std::string(216 * 2292, '\0'));
    const test::ToolRun pbm = test::runTool(env + (dir / "alone/miravo-send").string() +
                                            " --convert-only " + job("9", dir / "page.pbm"));
    EXPECT_EQ(pbm.status, 0) << pbm.output;

    // Neither does the program load Qt or the phone-number library, whose
    // start costs more than a page takes to convert.
    const test::ToolRun loaded = test::runTool("LD_TRACE_LOADED_OBJECTS=1 " + kBin + "miravo-send");
    for (const char* library : {"libQt6", "libphonenumber"})
        EXPECT_EQ(loaded.output.find(library), std::string::npos) << loaded.output;
}

}  // namespace
}  // namespace miravo
