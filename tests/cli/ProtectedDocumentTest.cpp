// miravo-send and a PDF that opens only with a password: asked for on a
// terminal, read from --password-file, and otherwise a clear refusal. The
// password is never on a command line and never in a file we write.
#include <sys/wait.h>
#include <unistd.h>

#include "tests/convert/ConvertTestSupport.h"

namespace miravo {
namespace {

using test::TempDir;

const std::string kBin = std::string(MIRAVO_BINARY_DIR) + "/bin/";
const std::string kSample = std::string(MIRAVO_SOURCE_DIR) + "/data/sample.pdf";

TEST(ProtectedDocument, PasswordFromFileOrARefusalNamingTheDocument) {
    TempDir dir;
    std::filesystem::create_directories(dir / "home");
    const std::string env = "HOME=" + (dir / "home").string() +
                            " XDG_CONFIG_HOME=" + (dir / "home/config").string() +
                            " XDG_CACHE_HOME=" + (dir / "cache").string() +
                            " XDG_RUNTIME_DIR=" + (dir / "run").string() + " TMPDIR=" +
                            (dir / "tmp").string() + " ";
    std::filesystem::create_directories(dir / "tmp");
    const std::string password = "Zebra-Umbrella-42";
    ASSERT_EQ(test::runTool("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite "
                            "-sOwnerPassword=owner -sUserPassword=" + password + " -o " +
                            (dir / "Locked.pdf").string() + " " + kSample)
                  .status,
              0);
    test::writeBytes(dir / "wrong", "zebra-umbrella-42\n");
    test::writeBytes(dir / "right", password + "\n");
    const std::string send = env + kBin + "miravo-send --to +4930123456 --retries 0 ";

    struct Case {
        std::string options;
        int status;                // exit status
        std::string says;          // in the output
    };
    const Case cases[] = {
        // No terminal to ask on: the run ends before anything is sent.
        {"", 1, "\"Locked.pdf\": the PDF needs a password"},
        {"--password-file " + (dir / "wrong").string(), 1,
         "\"Locked.pdf\": the password does not open the PDF"},
        {"--password-file " + (dir / "missing").string(), 1, "\"missing\" cannot be read"},
        // The document is made; the send then stops for want of credentials.
        {"--password-file " + (dir / "right").string(), 3,
         "document: " + (dir / "Locked.pdf").string() + " (3 pages)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const test::ToolRun run =
            test::runTool(send + c.options + " " + (dir / "Locked.pdf").string() + " </dev/null");
        ASSERT_TRUE(WIFEXITED(run.status));
        EXPECT_EQ(WEXITSTATUS(run.status), c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        // Neither a program of ours nor the spool is named, nor Ghostscript's words.
        for (const char* never : {"miravo-print", "miravo-render", "spool", "****"})
            EXPECT_EQ(run.output.find(never), std::string::npos) << run.output;
    }
    // Nothing written on the way holds the password (the file given aside).
    std::filesystem::remove(dir / "right");
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path(), ec)) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(test::readBytes(entry.path()).find(password), std::string::npos)
                << entry.path();
        }
    }
}

// Printed with miravo-print, a protected PDF goes to miravo as it is (miravo
// asks for the password); without miravo to start, a clear refusal.
TEST(ProtectedDocument, PrintingHandsItToMiravoAsItIs) {
    TempDir dir;
    std::filesystem::create_directories(dir / "bin");
    for (const char* program : {"miravo-print", "miravo-render"})
        std::filesystem::copy_file(kBin + program, dir / "bin" / program);
    // miravo as a script that notes what it was started with.
    test::writeBytes(dir / "bin/miravo",
                     "#!/bin/sh\nprintf '%s|' \"$@\" > \"$(dirname \"$0\")/started.tmp\"\n"
                     "mv \"$(dirname \"$0\")/started.tmp\" \"$(dirname \"$0\")/started\"\n");
    std::filesystem::permissions(dir / "bin/miravo", std::filesystem::perms::owner_all);
    ASSERT_EQ(test::runTool("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite "
                            "-sOwnerPassword=owner -sUserPassword=Quartz9 -o " +
                            (dir / "Locked.pdf").string() + " " + kSample)
                  .status,
              0);
    const std::string print = (dir / "bin/miravo-print").string() + " --out " +
                              (dir / "spool").string() + " ";

    const test::ToolRun refused =
        test::runTool(print + "--no-launch " + (dir / "Locked.pdf").string());
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("Locked.pdf: the PDF needs a password"), std::string::npos)
        << refused.output;

    const test::ToolRun handed = test::runTool(print + (dir / "Locked.pdf").string());
    EXPECT_EQ(handed.status, 0) << handed.output;
    // The document after the end of options: never read as an option.
    const std::string expected = "--|" + (dir / "Locked.pdf").string() + "|";
    for (int i = 0; i < 500 && test::readBytes(dir / "bin/started").size() < expected.size(); ++i)
        ::usleep(10000);
    EXPECT_EQ(test::readBytes(dir / "bin/started"), expected);
    // No page file or job file was left for it.
    EXPECT_TRUE(!std::filesystem::exists(dir / "spool") || test::folderNames(dir / "spool").empty());
}

}  // namespace
}  // namespace miravo
