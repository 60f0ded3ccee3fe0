// The renderer's box, seen from outside: hostile documents are each
// stopped by their limit with a message and leave nothing behind, the box
// holds while it renders, and --check-sandbox tells what it refused, on
// this kernel and on one without Landlock.
#include "printmon/Sandbox.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "printmon/RenderLimits.h"
#include "printmon/RenderProcess.h"
#include "tests/convert/ConvertTestSupport.h"

namespace miravo::print {
namespace {

using test::TempDir;

const std::string kBin = std::string(MIRAVO_BINARY_DIR) + "/bin/";
const std::string kSample = std::string(MIRAVO_SOURCE_DIR) + "/data/sample.pdf";

// "NoNewPrivs: 1 Seccomp: 2" of a miravo-render this process started,
// or empty while there is none.
std::string boxOfRenderer() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string status = test::readBytes(entry.path() / "status");
        if (status.rfind("Name:\tmiravo-render\n", 0) != 0 ||
            status.find("\nPPid:\t" + std::to_string(::getpid()) + "\n") == std::string::npos)
            continue;
        std::string seen;
        for (const char* field : {"NoNewPrivs:", "Seccomp:"}) {
            const std::size_t at = status.find(std::string("\n") + field);
            if (at != std::string::npos)
                seen += status.substr(at + 1, status.find('\n', at + 1) - at - 1) + " ";
        }
        return seen;
    }
    return {};
}

struct Hostile {
    const char* what;
    const char* limits;  // MIRAVO_RENDER_LIMITS
    int seconds;         // before a second per page
    const char* postscript;
    const char* stoppedBecause;
};

const Hostile kHostile[] = {
    {"one temp file without end", "bytes=20971520", 20,
     "%!PS\n/s 65536 string def /f null (w) .tempfile exch pop def\n{ f s writestring } loop\n",
     "temporary files take more than 20 MiB"},
    {"temp files of 1 MiB without end", "bytes=20971520", 20,
     "%!PS\n/s 65536 string def\n{ null (w) .tempfile exch pop /f exch def\n"
     "  16 { f s writestring } repeat f closefile } loop\n",
     "temporary files take more than 20 MiB"},
    {"memory without end", "memory=314572800", 20,
     "%!PS\n/a [] def\n{ /a [ a 1000000 string ] def } loop\n", "more than 300 MiB of memory"},
    // Each page would move the time limit on by a second, for ever.
    {"a page every 0.7 s", "seconds=5", 3,
     "%!PS\n/Helvetica findfont 40 scalefont setfont\n"
     "1 1 999 { 72 700 moveto 10 string cvs show showpage\n"
     "  realtime 700 add { dup realtime le { exit } if } loop pop } for\n",
     "longer than 5 s in all"},
};

TEST(RendererBox, EveryHostileDocumentIsStoppedByItsLimitAndLeavesNothing) {
    for (const Hostile& hostile : kHostile) {
        SCOPED_TRACE(hostile.what);
#if defined(__SANITIZE_ADDRESS__)
        // The sanitizer's shadow memory leaves no address space to cap.
        if (std::string(hostile.limits).rfind("memory", 0) == 0)
            continue;
#endif
        TempDir dir;
        std::filesystem::create_directory(dir / "spool");
        test::writeBytes(dir / "hostile.ps", hostile.postscript);
        ::setenv("MIRAVO_RENDER_LIMITS", hostile.limits, 1);
        const auto start = std::chrono::steady_clock::now();
        auto rendering = std::async(std::launch::async, [&] {
            return RenderPageFiles(dir / "hostile.ps", (dir / "spool/job_1").string(), 1,
                                   hostile.seconds);
        });
        std::string box;  // as last seen while it rendered
        while (rendering.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
            if (std::string seen = boxOfRenderer(); !seen.empty())
                box = seen;
        }
        const RenderOutcome outcome = rendering.get();
        ::unsetenv("MIRAVO_RENDER_LIMITS");
        EXPECT_FALSE(outcome.ok);
        EXPECT_NE(outcome.error.find(hostile.stoppedBecause), std::string::npos) << outcome.error;
        EXPECT_NE(outcome.error.find("the Miravo printer stops there"), std::string::npos);
        EXPECT_TRUE(test::folderNames(dir / "spool").empty());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        // The slow one renders long enough to be seen in its box.
        if (std::string(hostile.limits).rfind("seconds", 0) == 0) {
            EXPECT_EQ(box, "NoNewPrivs:\t1 Seccomp:\t2 ");
        }
    }
}

TEST(RendererBox, TheEnvironmentLowersTheLimitsAndNeverRaisesThem) {
    struct Case {
        const char* list;
        std::uint64_t bytes;
        std::uint64_t memory;
        int seconds;
    };
    const Case cases[] = {
        {"bytes=5000,memory=300000000,seconds=5", 5000, 300000000, 5},
        {"seconds=7", kMaxPageFileBytes, kMaxRenderMemory, 7},
        {"bytes=99999999999999,memory=99999999999999,seconds=99999", kMaxPageFileBytes,
         kMaxRenderMemory, kRenderMaxSeconds},
        {"bytes=0,memory=-5,seconds=5s,bytes", kMaxPageFileBytes, kMaxRenderMemory,
         kRenderMaxSeconds},
        {"bytes=99999999999999999999999", kMaxPageFileBytes, kMaxRenderMemory, kRenderMaxSeconds},
        {"xbytes=5,bytes=6", 6, kMaxRenderMemory, kRenderMaxSeconds},
    };
    for (const Case& c : cases) {
        ::setenv("MIRAVO_RENDER_LIMITS", c.list, 1);
        const RenderLimits limits = CurrentRenderLimits();
        EXPECT_EQ(limits.maxBytes, c.bytes) << c.list;
        EXPECT_EQ(limits.maxMemory, c.memory) << c.list;
        EXPECT_EQ(limits.maxSeconds, c.seconds) << c.list;
    }
    ::unsetenv("MIRAVO_RENDER_LIMITS");
}

TEST(RendererBox, PagesNeverReplaceAFileAlreadyAtTheirPlace) {
    TempDir dir;
    test::writeBytes(dir / "job_1_2", "not the job's");
    const RenderOutcome outcome = RenderPageFiles(kSample, (dir / "job_1").string(), 1, 30);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(test::readBytes(dir / "job_1_2"), "not the job's");
    EXPECT_EQ(test::folderNames(dir.path()), std::vector<std::string>{"job_1_2"});
}

TEST(RendererBox, CheckSandboxSaysWhatTheBoxRefused) {
    TempDir dir;
    std::filesystem::create_directory(dir / "home");
    test::writeBytes(dir / "home/secret", "the user's own");
    const std::string secret = (dir / "home/secret").string();
    struct Run {
        std::string prefix;  // how miravo-render is started
        bool landlock;
    };
    const Run runs[] = {{"", LandlockAbi() > 0}, {kBin + "miravo-test-without-landlock ", false}};
    for (const Run& run : runs) {
        SCOPED_TRACE(run.prefix);
        const test::ToolRun check =
            test::runTool("HOME=" + (dir / "home").string() + " TMPDIR=" + dir.path().string() +
                          " " + run.prefix + kBin + "miravo-render --check-sandbox");
        const std::string files = run.landlock ? ": refused (" : ": ALLOWED";
        EXPECT_NE(check.output.find("read " + secret + files), std::string::npos) << check.output;
        EXPECT_NE(check.output.find("/outside" + files), std::string::npos) << check.output;
        // No socket and no program start, with Landlock or without.
        EXPECT_NE(check.output.find(": refused (Operation not permitted)\nstart /bin/sh: refused"),
                  std::string::npos)
            << check.output;
        EXPECT_EQ(check.output.find("Landlock: not in this kernel") == std::string::npos,
                  run.landlock);
        EXPECT_EQ(check.status == 0, run.landlock) << check.output;
        EXPECT_EQ(test::readBytes(secret), "the user's own");
        EXPECT_EQ(test::folderNames(dir.path()), std::vector<std::string>{"home"});
    }
}

TEST(RendererBox, WithoutLandlockTheRestStillRendersAndTheJobSaysSoOnce) {
    TempDir dir;
    const test::ToolRun run = test::runTool(
        kBin + "miravo-test-without-landlock " + kBin + "miravo-print --no-launch --out " +
        (dir / "spool").string() + " " + kSample + " " + kSample);
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string note = "this kernel has no Landlock";
    const std::size_t first = run.output.find(note);
    EXPECT_NE(first, std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(note, first + 1), std::string::npos) << run.output;
    EXPECT_EQ(test::folderNames(dir / "spool").size(), 7u);  // six pages and the job file
}

// A box that cannot be set up is told as such, never as a damaged
// document, by every program that renders; nothing reaches the spool.
TEST(RendererBox, ABoxThatCannotBeSetUpIsToldAsSuch) {
    TempDir dir;
    const std::string home =
        "HOME=" + (dir / "home").string() + " XDG_RUNTIME_DIR=" + (dir / "spool").string() + " ";
    const struct {
        const char* program;
        std::string command;
    } runs[] = {
        {"miravo-print", "miravo-print --no-launch " + kSample},
        {"miravo-send", "miravo-send --to +4930111 " + kSample},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.program);
        const test::ToolRun ran =
            test::runTool(home + kBin + "miravo-test-without-box " + kBin + run.command);
        EXPECT_EQ(WEXITSTATUS(ran.status), 1) << ran.output;
        EXPECT_NE(ran.output.find("protection of the renderer could not be set up"),
                  std::string::npos)
            << ran.output;
        EXPECT_EQ(ran.output.find("damaged"), std::string::npos) << ran.output;
        EXPECT_TRUE(!std::filesystem::exists(dir / "spool/miravo") ||
                    test::folderNames(dir / "spool/miravo").empty());
    }
}

}  // namespace
}  // namespace miravo::print
