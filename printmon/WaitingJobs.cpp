#include "printmon/WaitingJobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "app/Paths.h"
#include "convert/JobFile.h"
#include "printmon/PrintJob.h"

namespace miravo::print {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kTitleEnd = "__ps__";

// A regular file of this user, seen without following a link.
bool ownRegularFile(const fs::path& path, struct stat& info) {
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::getuid();
}
bool ownRegularFile(const fs::path& path) {
    struct stat info {};
    return ownRegularFile(path, info);
}

std::optional<std::vector<JobEntry>> entriesOf(const fs::path& jobFile) {
    const std::u16string path = FromFsPath(jobFile);
    if (!CheckJobFile(path))
        return std::nullopt;
    const auto text = ReadJobFileText(path);
    if (!text)
        return std::nullopt;
    return ParseJobEntries(*text);
}

}  // namespace

std::vector<fs::path> WaitingJobFolders() {
    std::vector<fs::path> folders;
    const auto add = [&](const fs::path& folder) {
        if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    };
    add(DefaultSpoolFolder());
    add(ToFsPath(LastingSpoolFolder()));
    // The print backend knows only the account's home, not the session's
    // XDG_CACHE_HOME: its jobs wait in the home's default cache.
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        add(fs::path(home) / ".cache" / "Miravo" / "spool");
    return folders;
}

std::vector<WaitingJob> ListWaitingJobs(const std::vector<fs::path>& folders) {
    std::vector<WaitingJob> jobs;
    for (const fs::path& folder : folders) {
        std::error_code ec;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
            const std::string name = entry.path().filename().string();
            const std::size_t end = name.find(kTitleEnd);
            struct stat info {};
            if (end == std::string::npos || !ownRegularFile(entry.path(), info))
                continue;
            WaitingJob job{entry.path(), name.substr(0, end), 0, info.st_mtime};
            // A protected PDF kept for its password: its pages are known
            // only once it is opened.
            if (IsSpooledDocument(FromFsPath(entry.path()))) {
                jobs.push_back(std::move(job));
                continue;
            }
            const auto entries = entriesOf(entry.path());
            if (!entries)
                continue;
            for (const JobEntry& page : *entries)
                job.pages += std::max<int>(1, static_cast<int>(page.pageCount));
            jobs.push_back(std::move(job));
        }
    }
    std::sort(jobs.begin(), jobs.end(),
              [](const WaitingJob& a, const WaitingJob& b) { return a.printed < b.printed; });
    return jobs;
}

void DiscardWaitingJob(const WaitingJob& job) {
    const fs::path folder = job.jobFile.parent_path();
    if (const auto entries = entriesOf(job.jobFile)) {
        for (const JobEntry& page : *entries) {
            const fs::path file = ToFsPath(page.pageFilePath).lexically_normal();
            if (file.parent_path() == folder && ownRegularFile(file))
                ::unlink(file.c_str());
        }
    }
    ::unlink(job.jobFile.c_str());
}

}  // namespace miravo::print
