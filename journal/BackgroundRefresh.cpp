#include "journal/BackgroundRefresh.h"

#include <chrono>

namespace miravo {

class BackgroundRefresh::StopReport : public SilentWorkerReport {
  public:
    explicit StopReport(const std::atomic<bool>& stop) : stop_(stop) {}
    bool isOpen() const override { return !stop_; }

  private:
    const std::atomic<bool>& stop_;
};

BackgroundRefresh::BackgroundRefresh(const AppState& state, std::filesystem::path journal) {
    std::shared_ptr<AppState> own = RefreshState(state);
    thread_ = std::thread([this, own, journal = std::move(journal)] {
        Journal file(journal);
        if (!file.isOpen())
            return;
        StopReport report(stop_);
        SendTiming timing;
        // The pause between two requests ends early when the program ends.
        timing.sleep = [this](std::uint32_t ms) {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
        };
        result_ = RefreshUnfinished(file, *own, report, JournalNow() - kDays * 86400, timing);
    });
}

BackgroundRefresh::~BackgroundRefresh() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

const RefreshResult& BackgroundRefresh::wait() {
    if (thread_.joinable())
        thread_.join();
    return result_;
}

}  // namespace miravo
