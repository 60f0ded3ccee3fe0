// The worker dialog (110): runs the task in FaxJob::workerTask on a thread
// of its own behind a moving bar. Success closes it with 1; on failure it
// stays open with the task's message in its status line and the user
// closes it (1029). While the task runs, Cancel (or Escape) tells the task
// its window is gone, which abandons the task's exchange within a second;
// the dialog still ends only once the task has returned, since the task
// works on the shared record, which the caller may only read after it.
#pragma once

#include <QTimer>
#include <atomic>
#include <memory>

#include "ui/TextIds.h"
#include "ui/WorkerWindow.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace Ui {
class WorkerDialog;
}

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

inline constexpr int kWorkerDialogSucceeded = 1;
inline constexpr int kWorkerDialogClosed = 1029;
inline constexpr int kWorkerDialogEscaped = 2;
// Cancelled while the task ran, whatever the task made of it.
inline constexpr int kWorkerDialogCancelled = 2;
inline constexpr int kWorkerTimerMs = 50;

class WorkerDialog : public WorkerWindow {
    Q_OBJECT
  public:
    // `statusText` is the language text the status line shows until the
    // task writes its own.
    WorkerDialog(AppPaths& paths, QWidget* parent = nullptr, int statusText = text::kSyncingContacts);
    ~WorkerDialog() override;

    // Starts the task when the dialog is shown; exec() as usual.
    int exec() override;

  protected:
    void workerEnableClose() override;
    void workerClose(int result) override;
    void workerEnded() override;
    void reject() override;
    void done(int result) override;

  private:
    QProgressBar* progressBar() const;
    QPushButton* closeButton() const;
    QLabel* statusLine() const;
    QPushButton* cancelButton() const;

    void cancel();

    AppPaths& paths_;
    std::unique_ptr<Ui::WorkerDialog> ui_;
    QTimer timer_;
    std::atomic<bool> taskOpen_{true};  // what the task reads as "window open"
    bool cancelling_ = false;
};

// Opens the worker dialog for the task in paths.state->job.workerTask and
// returns its result: 1 after success, 1029 after the user closed it
// following a failure, 2 after Escape following a failure or after Cancel
// while the task ran; 0 when the
// task closed the dialog itself. Returns 0 without a dialog when there is
// no record or no task.
int RunWorkerDialog(AppPaths& paths, QWidget* owner, int statusText = text::kSyncingContacts);

}  // namespace miravo::ui
