// Measures how long the window thread's event loop goes without turning:
// a timer that should fire every few milliseconds notes the longest gap
// between two of its ticks.
#pragma once

#include <QElapsedTimer>
#include <QTimer>

namespace miravo::ui::test {

class StallWatchdog {
  public:
    StallWatchdog() {
        timer_.setInterval(kTickMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, clock_.restart());
        });
        clock_.start();
        timer_.start();
    }

    // The longest time between two ticks so far, in milliseconds.
    qint64 longestGapMs() const { return longest_; }

  private:
    static constexpr int kTickMs = 5;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

}  // namespace miravo::ui::test
