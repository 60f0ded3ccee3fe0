// Print jobs that wait in the spool because nobody was logged in on a
// desktop when they were printed: miravo offers them at its next start.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace miravo::print {

struct WaitingJob {
    std::filesystem::path jobFile;
    std::string title;         // the job file's name up to "__ps__"
    int pages = 0;             // pages the job file lists; 0 for a protected PDF
    std::int64_t printed = 0;  // when it was written, seconds since the epoch
};

// The folders jobs may wait in: the spool of this session, the one used
// while the user has no session (no XDG_RUNTIME_DIR), and the print
// backend's ($HOME/.cache/Miravo/spool), once each.
std::vector<std::filesystem::path> WaitingJobFolders();

// The job files in `folders` (regular files of this user named
// "<title>__ps__<job>"), and the protected PDFs kept there for their
// password (IsSpooledDocument), oldest first.
std::vector<WaitingJob> ListWaitingJobs(const std::vector<std::filesystem::path>& folders);

// Removes a job: the page files it lists that are regular files of this
// user in the job's own folder, then the job file. Links and anything
// outside the job's folder are left alone.
void DiscardWaitingJob(const WaitingJob& job);

}  // namespace miravo::print
