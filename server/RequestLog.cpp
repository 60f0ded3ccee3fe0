#include "server/RequestLog.h"

#include <cstdio>
#include <fstream>

namespace miravo::server {

RequestLog::RequestLog(std::filesystem::path folder, bool quiet)
    : folder_(std::move(folder)), quiet_(quiet) {}

bool RequestLog::prepare(std::string& error) {
    if (folder_.empty())
        return true;
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) {
        error = "cannot create " + folder_.string() + ": " + ec.message();
        return false;
    }
    return true;
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
        std::ofstream out(base + suffix, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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
