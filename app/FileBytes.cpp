#include "app/FileBytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace miravo {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

std::ptrdiff_t ReadFully(int fd, void* data, std::size_t size) {
    auto* bytes = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::ptrdiff_t>(done);
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int OpenRegularFile(const std::filesystem::path& path, struct stat& info) {
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

bool ReadAllBytes(int fd, std::string& bytes) {
    char block[65536];
    try {
        for (;;) {
            const ssize_t n = ::read(fd, block, sizeof block);
            if (n == 0)
                return true;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            bytes.append(block, static_cast<std::size_t>(n));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
}

FileRead ReadFileBytes(const std::filesystem::path& path, std::string& bytes) {
    struct stat info {};
    const int fd = OpenRegularFile(path, info);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Failed;
    bytes.clear();
    const bool read = ReadAllBytes(fd, bytes);
    ::close(fd);
    return read ? FileRead::Read : FileRead::Failed;
}

bool MayReplaceFile(const std::filesystem::path& path) {
    struct stat info {};
    const int fd = OpenRegularFile(path, info);
    if (fd < 0)
        return errno == ENOENT;
    ::close(fd);
    return true;
}

}  // namespace miravo
