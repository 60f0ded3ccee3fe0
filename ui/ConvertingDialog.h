// The "Converting" dialog (108): the conversion worker converts the job's
// page files on its own thread while a bar moves. Escape asks the worker
// to stop after the page it is on; the dialog stays until the worker has
// ended, so the next dialog never opens while the job is still written.
#pragma once

#include <QTimer>
#include <atomic>
#include <memory>

#include "ui/WorkerWindow.h"

namespace Ui {
class ConvertingDialog;
}

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

inline constexpr int kConvertingTimerMs = 300;

class ConvertingDialog : public WorkerWindow {
    Q_OBJECT
  public:
    ConvertingDialog(AppPaths& paths, QWidget* parent = nullptr);
    ~ConvertingDialog() override;

    int exec() override;
    // Whether Escape asked the worker to stop.
    bool cancelRequested() const { return cancel_; }

  protected:
    void workerEnableClose() override {}
    void workerClose(int result) override;
    void workerEnded() override;
    void reject() override;

  private:
    AppPaths& paths_;
    std::unique_ptr<Ui::ConvertingDialog> ui_;
    QTimer timer_;
    std::atomic<bool> cancel_{false};
};

// The conversion run with its dialog: nothing when there is no record or
// jobFilePath names no job file; otherwise runs dialog 108 modally and
// returns when it has closed.
void RunConversionDialog(AppPaths& paths, QWidget* owner = nullptr);

}  // namespace miravo::ui
