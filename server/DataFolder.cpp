#include "server/DataFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace miravo::server {

namespace {

// Why this entry cannot be trusted, or empty when it can.
std::string distrust(const std::filesystem::path& path, const struct stat& st) {
    if (S_ISLNK(st.st_mode))
        return path.string() + " is a symbolic link";
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
        return path.string() + " is neither a file nor a folder";
    if (st.st_uid != ::geteuid())
        return path.string() + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return path.string() + " is writable by other users";
    return {};
}

bool checkEntry(const std::filesystem::path& path, std::string& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        error = "cannot examine " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    error = distrust(path, st);
    if (!error.empty())
        return false;
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), st.st_mode & 0700) != 0) {
        error = "cannot restrict " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool preparePrivateFolder(const std::filesystem::path& folder, std::string& error) {
    std::error_code ec;
    // A folder made here is 0700 from the start; one that exists is judged
    // as it is.
    if (::mkdir(folder.c_str(), 0700) != 0 && errno == ENOENT) {
        std::filesystem::create_directories(folder.parent_path(), ec);
        ::mkdir(folder.c_str(), 0700);
    }
    if (!checkEntry(folder, error))
        return false;
    std::filesystem::recursive_directory_iterator it(
        folder, std::filesystem::directory_options::none, ec);
    for (; !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!checkEntry(it->path(), error))
            return false;
    }
    if (ec) {
        error = "cannot read " + folder.string() + ": " + ec.message();
        return false;
    }
    return true;
}

FolderLock::~FolderLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FolderLock::acquire(const std::filesystem::path& folder, std::string& error) {
    const std::filesystem::path file = folder / "miravo-server.lock";
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        error = "cannot open " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK
                    ? "another miravo-server is using the data folder " + folder.string()
                    : "cannot lock " + file.string() + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

}  // namespace miravo::server
