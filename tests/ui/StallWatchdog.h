// Measures how long the window thread's event loop goes without turning:
// a timer that should fire every few milliseconds notes the longest gap
// between two of its ticks.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <QTimer>

namespace miravo::ui::test {

class StallWatchdog {
  public:
    StallWatchdog() {
        timer_.setInterval(kTickMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 gap = clock_.restart();
            if (gap > longest_) {
                longest_ = gap;
                const QWidget* modal = QApplication::activeModalWidget();
                where_ = modal ? modal->objectName() : QStringLiteral("no dialog");
            }
        });
        clock_.start();
        timer_.start();
    }

    // The longest time between two ticks so far, in milliseconds.
    qint64 longestGapMs() const { return longest_; }
    // The dialog in front when the longest gap ended.
    const QString& longestGapWhere() const { return where_; }

  private:
    static constexpr int kTickMs = 5;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
    QString where_;
};

}  // namespace miravo::ui::test
