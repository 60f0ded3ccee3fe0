#include "contacts/FileBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace miravo {

namespace {

int openRegular(const std::filesystem::path& path, struct stat& info) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

}  // namespace

FileRead ReadFileBytes(const std::filesystem::path& path, std::string& bytes) {
    struct stat info {};
    const int fd = openRegular(path, info);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Failed;
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    char block[65536];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return FileRead::Failed;
        }
        bytes.append(block, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return FileRead::Read;
}

bool MayReplaceFile(const std::filesystem::path& path) {
    struct stat info {};
    const int fd = openRegular(path, info);
    if (fd < 0)
        return errno == ENOENT;
    ::close(fd);
    return true;
}

}  // namespace miravo
