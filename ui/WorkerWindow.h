// A dialog that runs one background worker on a thread of its own. The
// worker reports through WorkerReport; every report reaches the dialog as a
// queued call on the window's thread, so the worker never waits for the
// window and never touches a widget. The dialog never blocks its own thread
// on the worker either: it learns through workerEnded() that the worker has
// returned, and only then may it end. The thread is joined before the
// dialog goes away.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "app/WorkerReport.h"

namespace miravo::ui {

class WorkerWindow : public QDialog {
    Q_OBJECT
  public:
    explicit WorkerWindow(QWidget* parent = nullptr);
    ~WorkerWindow() override;

    // Whether the worker is still running (its function has not returned).
    bool workerRunning() const { return running_; }

    // Runs `request` on the window's thread and waits for its answer, for a
    // worker that needs the user (the credentials prompt). Called on the
    // worker's thread only. `fallback` is the answer when the window is gone
    // before it could ask.
    template <class R>
    R askOnWindowThread(std::function<R()> request, R fallback);

  protected:
    // Starts the worker. `openFlag` is what WorkerReport::isOpen() reads;
    // none: the window's own flag, cleared when the window ends.
    void startWorker(std::function<void(WorkerReport&)> work,
                     const std::atomic<bool>* openFlag = nullptr);
    // False once the window has ended (done()).
    bool isWindowOpen() const { return open_; }
    // Waits for the worker thread to end (it must already have returned or
    // be about to: call after workerEnded()).
    void joinWorker();

    // The reports, on the window's thread, in the order the worker made them.
    virtual void workerTitle(const QString& text);
    // Sets a label (or group box, or button) found by its control id.
    virtual void workerLabel(int controlId, const QString& text);
    // The progress bar is control 1013.
    virtual void workerBeginProgress(int maximum);
    virtual void workerStepProgress();
    virtual void workerPolling(bool on);
    virtual void workerEnableClose() = 0;
    virtual void workerClose(int result);
    // The worker's function has returned.
    virtual void workerEnded() {}

    void done(int result) override;

  private:
    class QueuedReport;
    friend class QueuedReport;

    std::unique_ptr<QueuedReport> report_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> open_{true};
};

template <class R>
R WorkerWindow::askOnWindowThread(std::function<R()> request, R fallback) {
    auto answer = std::make_shared<std::promise<R>>();
    std::future<R> future = answer->get_future();
    const bool posted = QMetaObject::invokeMethod(
        this, [answer, request = std::move(request)]() { answer->set_value(request()); },
        Qt::QueuedConnection);
    if (!posted)
        return fallback;
    try {
        return future.get();
    } catch (const std::future_error&) {
        return fallback;  // the window went away before it could ask
    }
}

}  // namespace miravo::ui
