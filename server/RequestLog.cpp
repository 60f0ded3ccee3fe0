#include "server/RequestLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "server/DataFolder.h"

namespace miravo::server {

RequestLog::RequestLog(std::filesystem::path folder, bool quiet)
    : folder_(std::move(folder)), quiet_(quiet) {}

bool RequestLog::prepare(std::string& error) {
    if (folder_.empty())
        return true;
    return preparePrivateFolder(folder_, error);
}

std::string RequestLog::numberText(long number) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%06ld", number);
    return buffer;
}

void RequestLog::record(long number, std::string_view headers, std::string_view body) {
    if (folder_.empty())
        return;
    const std::string base = (folder_ / numberText(number)).string();
    for (const auto& [suffix, bytes] : {std::pair{".headers", headers}, std::pair{".body", body}}) {
        // The bodies hold passwords in clear: this user's alone.
        const int fd = ::open((base + suffix).c_str(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            continue;
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
    }
}

void RequestLog::line(std::string_view text) {
    if (quiet_)
        return;
    std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace miravo::server
