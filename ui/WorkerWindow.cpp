#include "ui/WorkerWindow.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>

#include "ui/DialogControls.h"
#include "ui/ControlIds.h"

namespace miravo::ui {


// Turns every report into a queued call on the window. A call still queued
// when the window is destroyed is dropped with it.
class WorkerWindow::QueuedReport final : public WorkerReport {
  public:
    QueuedReport(WorkerWindow* window, const std::atomic<bool>* openFlag)
        : window_(window), openFlag_(openFlag) {}

    void setTitle(const std::u16string& text) override {
        post([text](WorkerWindow* w) { w->workerTitle(qstr(text)); });
    }
    void setLabel(int controlId, const std::u16string& text) override {
        post([controlId, text](WorkerWindow* w) { w->workerLabel(controlId, qstr(text)); });
    }
    void beginProgress(int maximum) override {
        post([maximum](WorkerWindow* w) { w->workerBeginProgress(maximum); });
    }
    void stepProgress() override {
        post([](WorkerWindow* w) { w->workerStepProgress(); });
    }
    void setPolling(bool on) override {
        post([on](WorkerWindow* w) { w->workerPolling(on); });
    }
    void enableClose() override {
        post([](WorkerWindow* w) { w->workerEnableClose(); });
    }
    void close(int result) override {
        post([result](WorkerWindow* w) { w->workerClose(result); });
    }
    bool isOpen() const override { return openFlag_->load(); }

    void post(std::function<void(WorkerWindow*)> call) {
        WorkerWindow* window = window_;
        QMetaObject::invokeMethod(
            window, [window, call = std::move(call)]() { call(window); }, Qt::QueuedConnection);
    }

  private:
    WorkerWindow* window_;
    const std::atomic<bool>* openFlag_;
};

WorkerWindow::WorkerWindow(QWidget* parent) : QDialog(parent) {}

WorkerWindow::~WorkerWindow() {
    open_ = false;
    // A worker waiting for an answer from this window gets its fallback
    // once the queued question is dropped; only then can it be joined.
    QCoreApplication::removePostedEvents(this);
    joinWorker();
}

void WorkerWindow::startWorker(std::function<void(WorkerReport&)> work,
                               const std::atomic<bool>* openFlag) {
    joinWorker();
    open_ = true;
    report_ = std::make_unique<QueuedReport>(this, openFlag ? openFlag : &open_);
    running_ = true;
    QueuedReport* report = report_.get();
    thread_ = std::thread([this, report, work = std::move(work)]() {
        try {
            work(*report);
        } catch (...) {
            // A worker that fails must still let its window end.
        }
        report->post([](WorkerWindow* w) {
            w->running_ = false;
            w->workerEnded();
        });
    });
}

void WorkerWindow::joinWorker() {
    if (thread_.joinable())
        thread_.join();
}

void WorkerWindow::workerTitle(const QString& text) {
    setWindowTitle(text);
}

void WorkerWindow::workerLabel(int controlId, const QString& text) {
    setControlText(control(this, controlId), text);
}

void WorkerWindow::workerBeginProgress(int maximum) {
    if (auto* bar = control<QProgressBar>(this, controlid::kProgressBar)) {
        bar->setRange(0, maximum > 0 ? maximum : 0);
        bar->setValue(0);
        bar->show();
    }
}

void WorkerWindow::workerStepProgress() {
    if (auto* bar = control<QProgressBar>(this, controlid::kProgressBar)) {
        // Stepping past the end starts again from the bottom.
        const int next = bar->value() + 1;
        bar->setValue(next > bar->maximum() ? bar->minimum() : next);
    }
}

void WorkerWindow::workerPolling(bool) {}

void WorkerWindow::workerClose(int result) {
    done(result);
}

void WorkerWindow::done(int result) {
    open_ = false;
    QDialog::done(result);
}

}  // namespace miravo::ui
