#include "convert/OrderedFaxDocument.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace miravo {

namespace {

std::string systemError() {
    const int error = errno;
    return error ? std::strerror(error) : "write error";
}

}  // namespace

OrderedFaxDocument::OrderedFaxDocument(std::int64_t total, std::size_t ahead,
                                       const std::atomic<bool>* cancel)
    : total_(total), ahead_(ahead == 0 ? 1 : ahead), cancel_(cancel) {}

bool OrderedFaxDocument::open(const std::filesystem::path& path) {
    path_ = path;
    errno = 0;
    if (writer_.open(path))
        return true;
    error_ = systemError();
    stopped_ = true;
    return false;
}

OrderedFaxDocument::Put OrderedFaxDocument::put(std::int64_t index, std::vector<std::uint8_t> codes,
                                                int width, int height) {
    std::unique_lock<std::mutex> lock(mutex_);
    // The page next in line never waits, so the document always moves on;
    // a cancel is seen within a tenth of a second.
    auto cancelled = [&] { return cancel_ && cancel_->load(std::memory_order_relaxed); };
    while (!stopped_ && !cancelled() && index - written_ >= static_cast<std::int64_t>(ahead_))
        moved_.wait_for(lock, std::chrono::milliseconds(100));
    if (stopped_ || cancelled() || index < written_ || index >= total_ || waiting_.count(index))
        return Put::Refused;
    waiting_[index] = Coded{std::move(codes), width, height};
    for (auto next = waiting_.find(written_); next != waiting_.end();
         next = waiting_.find(written_)) {
        errno = 0;
        if (!writer_.addEncodedPage(next->second.codes, next->second.width, next->second.height,
                                    static_cast<int>(total_))) {
            error_ = systemError();
            stopped_ = true;
            moved_.notify_all();
            return Put::Failed;
        }
        waiting_.erase(next);
        ++written_;
    }
    moved_.notify_all();
    return Put::Taken;
}

void OrderedFaxDocument::giveUp() {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    moved_.notify_all();
}

bool OrderedFaxDocument::close() {
    const std::lock_guard<std::mutex> lock(mutex_);
    waiting_.clear();
    if (written_ != total_) {
        writer_.close();
        std::error_code ec;
        std::filesystem::remove(path_, ec);  // a document without all its pages is none
        return false;
    }
    errno = 0;
    if (!writer_.close()) {
        error_ = systemError();
        return false;
    }
    return true;
}

std::string OrderedFaxDocument::error() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

}  // namespace miravo
