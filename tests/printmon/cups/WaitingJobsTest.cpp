// Jobs waiting in the spool: which files count as jobs, and what
// discarding one removes.
#include "printmon/WaitingJobs.h"

#include <unistd.h>

#include "app/Paths.h"
#include "convert/JobFile.h"
#include "tests/TestSupport.h"

namespace miravo::print {
namespace {

namespace fs = std::filesystem;

// A job file in `folder` listing `pages` (path, count).
fs::path writeJob(const fs::path& folder, const std::string& name,
                  const std::vector<std::pair<fs::path, std::uint32_t>>& pages) {
    std::vector<JobPage> listed;
    for (const auto& [path, count] : pages) {
        if (!fs::exists(path))
            test::writeBytes(path, "page");
        listed.push_back({FromFsPath(path), count});
    }
    test::writeBytes(folder / name, JobFileBytes(listed));
    return folder / name;
}

TEST(ListWaitingJobs, FindsTheJobFilesOldestFirst) {
    test::TempDir dir;
    const fs::path spool = dir / "spool";
    fs::create_directories(spool);
    const fs::path late = writeJob(spool, "Letter__ps__job_2", {{spool / "job_2_1", 1}});
    const fs::path early = writeJob(spool, "Report__ps__job_1",
                                    {{spool / "job_1_1", 1}, {spool / "job_1_2", 3}});
    fs::last_write_time(early, fs::last_write_time(late) - std::chrono::hours(1));
    test::writeBytes(spool / "Notes__ps__job_3", "not a job file");
    test::writeBytes(spool / "plain", "x");
    fs::create_symlink(early, spool / "Link__ps__job_4");

    const auto jobs = ListWaitingJobs({spool, dir / "missing"});
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].jobFile, early);
    EXPECT_EQ(jobs[0].title, "Report");
    EXPECT_EQ(jobs[0].pages, 4);
    EXPECT_EQ(jobs[1].title, "Letter");
    EXPECT_EQ(jobs[1].pages, 1);
}

TEST(DiscardWaitingJob, RemovesOnlyTheJobsOwnFiles) {
    test::TempDir dir;
    const fs::path spool = dir / "spool";
    fs::create_directories(spool);
    const fs::path outside = dir / "keep_1";
    test::writeBytes(dir / "target", "keep");
    fs::create_symlink(dir / "target", spool / "job_5_2");
    const fs::path job = writeJob(spool, "Doc__ps__job_5",
                                  {{spool / "job_5_1", 1}, {spool / "job_5_2", 1}, {outside, 1}});
    const fs::path other = writeJob(spool, "Other__ps__job_6", {{spool / "job_6_1", 1}});

    DiscardWaitingJob({job, "Doc", 3, 0});
    EXPECT_FALSE(fs::exists(job));
    EXPECT_FALSE(fs::exists(spool / "job_5_1"));
    EXPECT_TRUE(fs::is_symlink(spool / "job_5_2"));
    EXPECT_EQ(test::readBytes(dir / "target"), "keep");
    EXPECT_TRUE(fs::exists(outside));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::exists(spool / "job_6_1"));
}

}  // namespace
}  // namespace miravo::print
