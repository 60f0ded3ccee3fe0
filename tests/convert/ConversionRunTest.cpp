#include "convert/ConversionRun.h"

#include <algorithm>
#include <map>
#include <thread>

#include "app/Paths.h"
#include "app/Startup.h"
#include "convert/FaxTiff.h"
#include "convert/JobFile.h"
#include "tests/convert/ConvertTestSupport.h"

namespace miravo {
namespace {

using test::TempDir;

// Records what the worker tells its window.
class RecordingReport : public WorkerReport {
  public:
    void setTitle(const std::u16string& text) override { title = text; }
    void setLabel(int id, const std::u16string& text) override { labels[id] = text; }
    void beginProgress(int maximum) override { progressMaximum = maximum; }
    void stepProgress() override {
        ++steps;
        if (cancelOnStep)
            cancelOnStep->store(true);
    }
    void setPolling(bool) override {}
    void enableClose() override {}
    void close(int result) override { closes.push_back(result); }
    bool isOpen() const override { return closes.empty(); }

    std::u16string title;
    std::map<int, std::u16string> labels;
    int progressMaximum = -1;
    int steps = 0;
    std::vector<int> closes;
    std::atomic<bool>* cancelOnStep = nullptr;  // the user cancels once a page file is done
};

struct Job {
    TempDir dir;
    AppState state;
    ConversionControl control;
    std::u16string jobFile;

    Job() { control.documentBase = FromFsPath(dir / "tosend"); }
    std::u16string page(const std::string& name, int pagesStacked, std::uint8_t grey = 0) {
        GreyImage image(400, 500 * pagesStacked, 255);
        for (int k = 0; k < pagesStacked; ++k)
            test::fillRect(image, 50, 500 * k + 50, 100, 100, grey);
        test::writePgm(dir / name, image);
        return FromFsPath(dir / name);
    }
    void writeJob(const std::string& bytes) {
        jobFile = FromFsPath(dir / "Letter__ps__1");
        test::writeBytes(dir / "Letter__ps__1", bytes);
        state.job.jobFilePath = jobFile;
    }
    std::u16string document(int pages) { return DocumentName(control.documentBase, pages); }
    std::vector<std::string> leftovers() {
        std::vector<std::string> found;
        for (const auto& name : test::folderNames(dir.path()))
            if (name.find("_res_") != std::string::npos && name.find("_res__") == std::string::npos)
                found.push_back(name);
        return found;
    }
};

TEST(ConvertJob, JoinsAllPageFilesIntoOneNamedDocument) {
    Job job;
    const auto p1 = job.page("job_17_1", 3);
    const auto p2 = job.page("job_17_2", 2);
    job.writeJob(JobFileBytes({{p1, 3}, {p2, 2}}));
    RecordingReport report;
    const ConversionSummary summary = ConvertJob(job.state, report, job.control);
    EXPECT_EQ(job.state.job.documentPath, job.document(5));
    EXPECT_EQ(PageCountFromName(job.state.job.documentPath), 5);
    EXPECT_EQ(job.state.job.jobFilePath, job.jobFile);
    EXPECT_EQ(job.state.job.documentBase, job.control.documentBase);
    EXPECT_EQ(job.state.job.pageFileCount, 2);
    EXPECT_TRUE(job.state.job.pageBaseRecorded);
    EXPECT_EQ(job.state.job.pageBaseName, FromFsPath(job.dir / "job_17"));
    EXPECT_EQ(summary.writtenPages, 5);
    EXPECT_EQ(summary.failedFiles, 0);
    EXPECT_EQ(report.closes, std::vector<int>{0});
    EXPECT_EQ(report.progressMaximum, 2);
    EXPECT_EQ(report.steps, 2);
    const auto pages = test::readTiff(test::pathOf(job.document(5)));
    ASSERT_EQ(pages.size(), 5u);
    for (const auto& page : pages)
        EXPECT_GT(test::blackCount(page.bits, 0, 0, kFaxWidth, kFaxHeight), 10000);
    test::expectToolsAccept(test::pathOf(job.document(5)));
    EXPECT_TRUE(job.leftovers().empty());
    EXPECT_TRUE(std::filesystem::exists(test::pathOf(p1)));  // deleted at exit, not here

    // Again (as after switching dithering): the count grows, the base stays.
    job.state.job.pageBaseName = u"kept";
    RecordingReport again;
    ConvertJob(job.state, again, job.control);
    EXPECT_EQ(job.state.job.pageFileCount, 4);
    EXPECT_EQ(job.state.job.pageBaseName, u"kept");
    EXPECT_EQ(job.state.job.documentPath, job.document(5));
    EXPECT_EQ(test::readTiff(test::pathOf(job.document(5))).size(), 5u);
}

TEST(ConvertJob, CarriageReturnsAndDotsInTheCount) {
    Job job;
    const auto p1 = job.page("job_2_1", 2);
    job.writeJob(test::utf16le(u"MIRAVO\r\n" + p1 + u"__page_numbers__2\r\n", false));
    RecordingReport report;
    ConvertJob(job.state, report, job.control);
    EXPECT_EQ(job.state.job.documentPath, job.document(2));
    EXPECT_EQ(test::readTiff(test::pathOf(job.document(2))).size(), 2u);

    // A '.' in the folder: the count reads 0, one page is made, and the
    // name counts the page that is in the document.
    std::filesystem::create_directory(job.dir / "a.b");
    const auto dotted = job.page("a.b/job_3_1", 1);
    job.writeJob(JobFileBytes({{dotted, 1}}));
    ConvertJob(job.state, report, job.control);
    EXPECT_EQ(job.state.job.documentPath, job.document(1));
    EXPECT_EQ(test::readTiff(test::pathOf(job.document(1))).size(), 1u);
}

TEST(ConvertJob, ABrokenPageFileFailsTheRunAndStaleFilesNeverEnter) {
    Job job;
    const auto good = job.page("job_4_1", 1);
    // What an earlier run of another job left under the names of this one.
    const BitPage foreign(kFaxWidth, kFaxHeight);
    for (const std::string name : {"tosend_res_2.tif", "tosend_res_1.tif"}) {
        FaxTiffWriter stale;
        ASSERT_TRUE(stale.open(job.dir / name));
        for (int k = 0; k < 3; ++k)
            ASSERT_TRUE(stale.addPage(foreign));
        ASSERT_TRUE(stale.close());
    }
    test::writeBytes(job.dir / "job_4_2", "no image");
    job.writeJob(JobFileBytes({{good, 1}, {FromFsPath(job.dir / "job_4_2"), 1}}));
    RecordingReport report;
    ConversionSummary summary = ConvertJob(job.state, report, job.control);
    EXPECT_EQ(summary.failedFiles, 1);
    EXPECT_FALSE(summary.documentWritten);
    EXPECT_NE(summary.error.find("job_4_2"), std::string::npos) << summary.error;
    EXPECT_NE(summary.error.find("(page 2)"), std::string::npos) << summary.error;
    EXPECT_EQ(job.state.job.documentPath, u"");
    EXPECT_EQ(report.closes, std::vector<int>{0});
    for (int pages : {1, 2, 4, 7})
        EXPECT_FALSE(std::filesystem::exists(test::pathOf(job.document(pages))));

    // Both page files good: exactly their two pages, none of the stale ones.
    job.page("job_4_2", 1, 100);
    job.writeJob(JobFileBytes({{good, 1}, {FromFsPath(job.dir / "job_4_2"), 1}}));
    summary = ConvertJob(job.state, report, job.control);
    EXPECT_EQ(summary.writtenPages, 2);
    const auto pages = test::readTiff(test::pathOf(job.document(2)));
    ASSERT_EQ(pages.size(), 2u);
    for (const auto& page : pages)
        EXPECT_GT(test::blackCount(page.bits, 0, 0, kFaxWidth, kFaxHeight), 10000);
    EXPECT_EQ(test::folderNames(job.dir.path()).size(), 6u);  // no work folder is left
}

TEST(ConvertJob, RunsAtTheSameTimeEachKeepTheirOwnPages) {
    TempDir cache;
    const char* old = std::getenv("XDG_CACHE_HOME");
    const std::string kept = old ? old : "";
    ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    Job a, b;
    std::vector<JobPage> pagesA, pagesB;
    // Job A's pages hold a square at the top left, job B's at the bottom right.
    for (int k = 1; k <= 6; ++k) {
        GreyImage left(400, 500, 255), right(400, 500, 255);
        test::fillRect(left, 20, 20, 100, 100, 0);
        test::fillRect(right, 280, 380, 100, 100, 0);
        test::writePgm(a.dir / ("a_1_" + std::to_string(k)), left);
        test::writePgm(b.dir / ("b_2_" + std::to_string(k)), right);
        pagesA.push_back({FromFsPath(a.dir / ("a_1_" + std::to_string(k))), 1});
        pagesB.push_back({FromFsPath(b.dir / ("b_2_" + std::to_string(k))), 1});
    }
    pagesB.resize(4);
    a.writeJob(JobFileBytes(pagesA));
    b.writeJob(JobFileBytes(pagesB));
    ConversionSummary summaryA, summaryB;
    SilentWorkerReport reportA, reportB;
    std::thread other([&] { summaryB = ConvertJob(b.state, reportB, {}); });
    summaryA = ConvertJob(a.state, reportA, {});
    other.join();
    if (old)
        ::setenv("XDG_CACHE_HOME", kept.c_str(), 1);
    else
        ::unsetenv("XDG_CACHE_HOME");

    struct Case {
        Job& job;
        std::size_t pages;
        int ownX, otherX;  // where the page's own square lies, and the other's
    };
    for (const Case& c : {Case{a, 6, 0, kFaxWidth / 2}, Case{b, 4, kFaxWidth / 2, 0}}) {
        const FaxJob& job = c.job.state.job;
        EXPECT_EQ(PageCountFromName(job.documentPath), static_cast<long>(c.pages));
        EXPECT_EQ(test::pathOf(job.documentPath).parent_path(), test::pathOf(job.runFolder));
        EXPECT_EQ(test::pathOf(job.runFolder).parent_path(), cache.path() / "Miravo");
        EXPECT_EQ(std::filesystem::status(test::pathOf(job.runFolder)).permissions(),
                  std::filesystem::perms::owner_all);
        const auto pages = test::readTiff(test::pathOf(job.documentPath));
        ASSERT_EQ(pages.size(), c.pages);
        for (const auto& page : pages) {
            const int ownY = c.ownX == 0 ? 0 : kFaxHeight / 2;
            const int otherY = c.otherX == 0 ? 0 : kFaxHeight / 2;
            EXPECT_GT(test::blackCount(page.bits, c.ownX, ownY, c.ownX + kFaxWidth / 2,
                                       ownY + kFaxHeight / 2),
                      10000);
            EXPECT_EQ(test::blackCount(page.bits, c.otherX, otherY, c.otherX + kFaxWidth / 2,
                                       otherY + kFaxHeight / 2),
                      0);
        }
        EXPECT_EQ(test::folderNames(test::pathOf(job.runFolder)).size(), 1u);  // the document
    }
    // The exit clean-up removes the run's folder with its document.
    DeleteTemporaryFiles(a.state, {});
    EXPECT_FALSE(std::filesystem::exists(test::pathOf(a.state.job.runFolder)));
    EXPECT_TRUE(std::filesystem::exists(test::pathOf(b.state.job.documentPath)));
}

TEST(ConvertJob, TheExitCleanUpLeavesTheUserFilesInPlace) {
    struct Case {
        const char* what;
        bool jobBesideTheFiles;  // the job file in the user's folder, else in a spool
        bool nul;                // the entry hides a NUL after the user's file name
    };
    for (const Case c :
         {Case{"NUL entry", false, true}, Case{"NUL entry beside", true, true},
          Case{"rebuilt name", false, false}, Case{"rebuilt name beside", true, false}}) {
        SCOPED_TRACE(c.what);
        Job job;
        std::filesystem::create_directories(job.dir / "docs");
        std::filesystem::create_directories(job.dir / "spool");
        test::writeBytes(job.dir / "docs/thesis.tex", "\\documentclass{article}");
        test::writeBytes(job.dir / "docs/report_final_1", "the user's own file");
        GreyImage image(400, 500, 255);
        test::writePgm(job.dir / "docs/report_final_v2.png", image);
        const std::u16string docs = FromFsPath(job.dir / "docs");
        const std::u16string entry =
            c.nul ? docs + u"/thesis.tex" + std::u16string(1, u'\0') + u"_x_1"
                  : docs + u"/report_final_v2.png";
        const std::filesystem::path jobPath =
            job.dir / (c.jobBesideTheFiles ? "docs" : "spool") / "J__ps__1";
        test::writeBytes(jobPath, JobFileBytes({{entry, 1}}));
        job.jobFile = FromFsPath(jobPath);
        job.state.job.jobFilePath = job.jobFile;
        RecordingReport report;
        const ConversionSummary summary = ConvertJob(job.state, report, job.control);
        EXPECT_EQ(summary.refused, c.nul);
        EXPECT_EQ(summary.documentWritten, !c.nul);
        DeleteTemporaryFiles(job.state, job.jobFile);
        for (const char* kept : {"docs/thesis.tex", "docs/report_final_1"})
            EXPECT_TRUE(std::filesystem::exists(job.dir / kept)) << kept;
        // A listed page file goes only from the job file's own folder.
        EXPECT_EQ(std::filesystem::exists(job.dir / "docs/report_final_v2.png"),
                  c.nul || !c.jobBesideTheFiles);
    }
}

TEST(ConvertJob, JobsThatGiveNoDocument) {
    {  // The job file cannot be read: the bare base path remains.
        Job job;
        job.state.job.jobFilePath = FromFsPath(job.dir / "gone__ps__1");
        RecordingReport report;
        EXPECT_FALSE(ConvertJob(job.state, report, job.control).jobRead);
        EXPECT_EQ(job.state.job.documentPath, u"");
        EXPECT_EQ(report.closes, std::vector<int>{0});
    }
    {  // No entry at all: no document.
        Job job;
        job.writeJob(test::utf16le(u"miravo and nothing else", false));
        RecordingReport report;
        ConvertJob(job.state, report, job.control);
        EXPECT_EQ(job.state.job.documentPath, u"");
        EXPECT_FALSE(std::filesystem::exists(test::pathOf(job.document(0))));
        EXPECT_FALSE(job.state.job.pageBaseRecorded);
    }
    {  // An entry too long: nothing is converted, but the clean-up still
        // knows every page file.
        Job job;
        const auto p1 = job.page("job_5_1", 1);
        job.writeJob(JobFileBytes({{p1, 1}, {u"/" + std::u16string(800, u'x') + u"_5_2", 1}}));
        RecordingReport report;
        const ConversionSummary summary = ConvertJob(job.state, report, job.control);
        EXPECT_TRUE(summary.refused);
        EXPECT_EQ(job.state.job.documentPath, u"");
        EXPECT_EQ(job.state.job.pageFileCount, 2);
        EXPECT_EQ(job.state.job.pageBaseName, FromFsPath(job.dir / "job_5"));
        EXPECT_TRUE(job.leftovers().empty());
    }
    {  // A first path with one '_': converted, but no base name to delete by.
        Job job;
        const auto p1 = job.page("single_1", 1);
        job.writeJob(JobFileBytes({{p1, 1}}));
        RecordingReport report;
        ConvertJob(job.state, report, job.control);
        EXPECT_TRUE(job.state.job.pageBaseRecorded);
        EXPECT_EQ(job.state.job.pageBaseName, u"");
        EXPECT_EQ(test::readTiff(test::pathOf(job.document(1))).size(), 1u);
    }
}

TEST(ConvertJob, CancelMakesNoDocument) {
    Job job;
    std::vector<JobPage> pages;
    for (int k = 1; k <= 10; ++k)
        pages.push_back({job.page("job_6_" + std::to_string(k), 1), 1});
    job.writeJob(JobFileBytes(pages));
    std::atomic<bool> cancel{false};
    job.control.cancel = &cancel;
    RecordingReport report;
    report.cancelOnStep = &cancel;  // while the other page files are converted
    const ConversionSummary summary = ConvertJob(job.state, report, job.control);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_LT(report.steps, 10);
    EXPECT_EQ(report.closes, std::vector<int>{kConversionCancelled});
    EXPECT_EQ(job.state.job.documentPath, u"");
    EXPECT_EQ(job.state.job.pageFileCount, 10);  // the clean-up still knows every page file
    EXPECT_FALSE(std::filesystem::exists(test::pathOf(job.document(10))));
    EXPECT_TRUE(job.leftovers().empty());
}

TEST(ConvertJob, AFailedRerunDropsTheEarlierDocument) {
    Job job;
    const auto p1 = job.page("job_7_1", 1);
    job.writeJob(JobFileBytes({{p1, 1}}));
    RecordingReport report;
    ConvertJob(job.state, report, job.control);
    ASSERT_TRUE(std::filesystem::exists(test::pathOf(job.document(1))));
    std::filesystem::remove(test::pathOf(p1));
    ConvertJob(job.state, report, job.control);
    EXPECT_EQ(job.state.job.documentPath, u"");
    EXPECT_FALSE(std::filesystem::exists(test::pathOf(job.document(1))));
}

// The pages of one page file are shared out among the workers: the
// document is the same, byte for byte, however many workers convert it, and
// a page file that cannot be read is named by its first page either way.
TEST(ConvertJob, ThePagesOfOnePageFileShareTheWorkers) {
    if (std::thread::hardware_concurrency() < 2)
        GTEST_SKIP() << "one core gives one worker";
    for (const bool broken : {false, true}) {
        std::map<unsigned, std::string> documents;
        for (const unsigned workers : {1u, 2u, 3u}) {
            Job job;
            job.state.settings.conversionWorkers = workers;
            // Grey pages, each with its square elsewhere, so that pages out
            // of order show.
            GreyImage grey(400, 500 * 7, 255);
            for (int k = 0; k < 7; ++k)
                test::fillRect(grey, 20 + 40 * k, 500 * k + 30 + 50 * k, 60, 60, 0);
            test::writePgm(job.dir / "job_9_1", grey);
            // Fax pages in black and white, taken as they are.
            const int rowBytes = kFaxWidth / 8;
            std::string pbm =
                "P4\n" + std::to_string(kFaxWidth) + " " + std::to_string(kFaxHeight * 3) + "\n";
            std::string bits(static_cast<std::size_t>(rowBytes) * kFaxHeight * 3, '\0');
            for (int k = 0; k < 3; ++k)
                std::fill_n(bits.begin() + rowBytes * (kFaxHeight * k + 200 + 300 * k),
                            rowBytes * 40, '\xff');
            test::writeBytes(job.dir / "job_9_2", pbm + (broken ? bits.substr(0, 1000) : bits));
            const auto single = job.page("job_9_3", 1);
            job.writeJob(JobFileBytes({{FromFsPath(job.dir / "job_9_1"), 7},
                                       {FromFsPath(job.dir / "job_9_2"), 3},
                                       {single, 1}}));
            RecordingReport report;
            const ConversionSummary summary = ConvertJob(job.state, report, job.control);
            EXPECT_TRUE(job.leftovers().empty()) << workers;
            if (broken) {
                EXPECT_FALSE(summary.documentWritten) << workers;
                EXPECT_EQ(summary.failedFiles, 1) << workers;
                EXPECT_NE(summary.error.find("job_9_2 cannot be converted (page 8)"),
                          std::string::npos)
                    << workers << ": " << summary.error;
                EXPECT_FALSE(std::filesystem::exists(test::pathOf(job.document(11))));
                continue;
            }
            EXPECT_EQ(summary.writtenPages, 11) << workers;
            EXPECT_EQ(report.steps, 3) << workers;  // a step per page file
            documents[workers] = test::readBytes(test::pathOf(job.document(11)));
        }
        if (broken)
            continue;
        ASSERT_FALSE(documents[1].empty());
        EXPECT_TRUE(documents[2] == documents[1]);
        EXPECT_TRUE(documents[3] == documents[1]);
    }
}

TEST(RunConversion, ChecksTheJobFileFirst) {
    Job job;
    const auto p1 = job.page("job_8_1", 1);
    job.writeJob(test::utf16le(u"miravo\n" + p1 + u"__page_numbers__1\n", true));  // with a BOM
    AppPaths paths;
    RecordingReport report;
    RunConversion(paths, report, job.control);  // no state: nothing
    paths.state = &job.state;
    RunConversion(paths, report, job.control);
    EXPECT_TRUE(report.closes.empty());
    EXPECT_EQ(job.state.job.documentPath, u"");
    job.writeJob(JobFileBytes({{p1, 1}}));
    const ConversionSummary summary = RunConversion(paths, report, job.control);
    EXPECT_EQ(summary.writtenPages, 1);
    EXPECT_EQ(report.closes, std::vector<int>{0});
    EXPECT_EQ(job.state.job.documentPath, job.document(1));
}

}  // namespace
}  // namespace miravo
