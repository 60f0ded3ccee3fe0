#include "app/FileBytes.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
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
    // Room for the whole file at once; a file that grows meanwhile is still
    // read to its end.
    bool read = true;
    try {
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    } catch (const std::exception&) {
        read = false;
    }
    read = read && ReadAllBytes(fd, bytes);
    ::close(fd);
    return read ? FileRead::Read : FileRead::Failed;
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view data, unsigned mode) {
    std::error_code ec;
    std::filesystem::path target = path;
    // Replace the file a symbolic link leads to, not the link itself.
    if (std::filesystem::is_symlink(target, ec)) {
        const auto resolved = std::filesystem::weakly_canonical(target, ec);
        if (!ec)
            target = resolved;
    }
    if (target.filename().empty())
        return false;
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";

    std::string name = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, data.data(), data.size()) &&
              ::fchmod(fd, static_cast<mode_t>(mode & 07777)) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(name.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(name.c_str());
        return false;
    }
    // Make the rename itself durable.
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool MayReplaceFile(const std::filesystem::path& path) {
    struct stat info {};
    const int fd = OpenRegularFile(path, info);
    if (fd < 0)
        return errno == ENOENT;
    ::close(fd);
    return true;
}

std::string FileReadProblem(const std::filesystem::path& path) {
    struct stat info {};
    UniqueFd fd(OpenRegularFile(path, info));
    if (!fd)
        return std::strerror(errno);
    char buffer[4096];
    for (;;) {
        const std::ptrdiff_t got = ReadFully(fd.get(), buffer, sizeof buffer);
        if (got < 0)
            return std::strerror(errno);
        if (got < static_cast<std::ptrdiff_t>(sizeof buffer))
            return {};
    }
}

PrivateFolder::PrivateFolder(const std::filesystem::path& in, std::string_view prefix) {
    std::string name = (in / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(name.data()))
        path_ = name;
}

PrivateFolder::~PrivateFolder() {
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

}  // namespace miravo
