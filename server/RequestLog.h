// What the service writes about the requests it gets: one line per request
// on standard output, and, when asked for, the exact wire bytes of every
// request in a folder (NNNNNN.headers: request line and headers as received,
// NNNNNN.body: the body bytes), numbered in order of arrival from 000001.
#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace miravo::server {

class RequestLog {
  public:
    // An empty folder records no wire bytes. quiet: no request lines.
    RequestLog(std::filesystem::path folder, bool quiet);

    bool prepare(std::string& error);
    long nextNumber() { return ++count_; }
    long count() const { return count_; }
    void record(long number, std::string_view headers, std::string_view body);
    void line(std::string_view text);

    static std::string numberText(long number);

  private:
    std::filesystem::path folder_;
    bool quiet_;
    std::atomic<long> count_{0};
    std::mutex mutex_;
};

}  // namespace miravo::server
