// The refresh at program start: the faxes of the last days that are not
// final are asked about once, on a thread of their own, while the program
// goes on. Ending the object stops the refresh before its next request
// and waits for the request under way.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/AppState.h"
#include "journal/JournalRefresh.h"

namespace miravo {

class BackgroundRefresh {
  public:
    static constexpr std::int64_t kDays = 7;

    // Starts at once with the settings and language of `state`.
    explicit BackgroundRefresh(const AppState& state,
                               std::filesystem::path journal = Journal::DefaultPath());
    ~BackgroundRefresh();
    BackgroundRefresh(const BackgroundRefresh&) = delete;
    BackgroundRefresh& operator=(const BackgroundRefresh&) = delete;

    // Waits for the end; the result.
    const RefreshResult& wait();

  private:
    class StopReport;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stop_{false};
    RefreshResult result_;
    std::thread thread_;
};

}  // namespace miravo
