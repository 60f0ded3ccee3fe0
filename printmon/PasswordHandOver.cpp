#include "printmon/PasswordHandOver.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "app/FileBytes.h"

namespace miravo::print {

PasswordPipe::PasswordPipe(const std::string& password) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return;
    // The pipe's buffer (64 KiB) takes the whole password at once, so the
    // writing end can be closed before the renderer starts reading.
    const std::size_t length = std::min(password.size(), kMaxPasswordBytes);
    const bool written = WriteAll(ends[1], password.data(), length);
    ::close(ends[1]);
    if (!written) {
        ::close(ends[0]);
        return;
    }
    readEnd_ = ends[0];
}

PasswordPipe::~PasswordPipe() {
    if (readEnd_ >= 0)
        ::close(readEnd_);
}

std::string ReadHandedPassword(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode))
        return {};
    char buffer[kMaxPasswordBytes];
    std::size_t got = 0;
    while (got < sizeof buffer) {
        const ssize_t n = ::read(fd, buffer + got, sizeof buffer - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    std::string password(buffer, got);
    ::explicit_bzero(buffer, sizeof buffer);
    return password;
}

void WipeSecret(std::string& secret) {
    ::explicit_bzero(secret.data(), secret.size());
    secret.clear();
}

}  // namespace miravo::print
