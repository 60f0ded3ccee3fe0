#include "server/BodySpool.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace miravo::server {

BodySpool::~BodySpool() {
    if (map_)
        ::munmap(map_, size_);
    if (fd_ >= 0)
        ::close(fd_);
}

bool BodySpool::open(const std::filesystem::path& folder) {
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0)
        return true;
    // A file system without unnamed files: a named one, removed at once.
    std::string name = (folder / "spool-XXXXXX").string();
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0)
        return false;
    ::unlink(name.c_str());
    return true;
}

bool BodySpool::append(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
        size_ += static_cast<std::size_t>(n);
    }
    return true;
}

bool BodySpool::map() {
    if (size_ == 0)
        return true;
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
    if (p == MAP_FAILED)
        return false;
    map_ = p;
    return true;
}

}  // namespace miravo::server
