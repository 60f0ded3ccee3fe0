#include "app/ExitCleanup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "app/Paths.h"
#include "app/Text.h"

namespace miravo {

namespace {

// Deletes one file, or the link itself when the name is a symbolic link.
// unlink() never removes a folder, whatever the name has become meanwhile.
void deleteFile(const std::u16string& name) {
    if (name.empty())
        return;
    const std::filesystem::path path = ToFsPath(name);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return;
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode))
        return;
    ::unlink(path.c_str());
}

// Deletes the print monitor's page files of the job: only regular files of
// this user that sit in the job file's own folder, named as the job listed
// them or as "<base>_<K>" for K up to the job's page-file count. The
// rebuilt names are trusted only when the job's first page file is
// "<base>_1", that is when the job follows the monitor's naming. Names are
// looked up in the folder itself, so no link is ever followed out of it.
void deletePageFiles(const FaxJob& job, const std::u16string& jobFile) {
    if (jobFile.empty() || !IsAbsolutePath(jobFile))
        return;
    const std::filesystem::path folder = ToFsPath(jobFile).lexically_normal().parent_path();
    std::vector<std::string> names;
    auto take = [&](const std::u16string& path) {
        if (path.empty() || path.find(u'\0') != std::u16string::npos)
            return;
        const std::filesystem::path file = ToFsPath(path).lexically_normal();
        if (file.parent_path() == folder && file.has_filename())
            names.push_back(file.filename().string());
    };
    for (const std::u16string& listed : job.pageFiles)
        take(listed);
    const std::u16string& base = job.pageBaseName;
    if (!base.empty() && (job.pageFiles.empty() || job.pageFiles.front() == base + u"_1")) {
        for (std::int32_t i = 1; i <= job.pageFileCount; ++i)
            take(base + u"_" + toU16(i));
    }
    if (names.empty())
        return;
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return;
    const uid_t owner = ::geteuid();  // only files of the user the program runs as
    for (const std::string& name : names) {
        struct stat info {};
        if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && info.st_uid == owner)
            ::unlinkat(dir, name.c_str(), 0);
    }
    ::close(dir);
}

}  // namespace

void DeleteTemporaryFiles(const AppState& state, const std::u16string& jobFileArgument) {
    const FaxJob& job = state.job;
    deleteFile(job.coverDocumentPath);
    // The conversion's own folder holds nothing but its document.
    if (!job.runFolder.empty())
        RemoveRunFolder(job.runFolder);
    if (!job.pageBaseRecorded)
        return;
    deletePageFiles(job, jobFileArgument);
    deleteFile(job.documentPath);
    deleteFile(job.coverDocumentPath);
    deleteFile(jobFileArgument);
}

}  // namespace miravo
