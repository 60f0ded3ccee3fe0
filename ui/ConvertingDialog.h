// The "Converting" dialog (108): the conversion worker converts the job's
// page files on its own thread while a bar moves. Escape asks the worker
// to stop after the page it is on; the dialog stays until the worker has
// ended, so the next dialog never opens while the job is still written.
#pragma once

#include <QTimer>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "printmon/DocumentConversion.h"

#include "ui/WorkerWindow.h"

class QLabel;
class QProgressBar;

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
    // Instead of the job: renders `document` (a protected PDF opened with
    // `password`) into page files and a job file as printing it does, and
    // converts that job; `converted` receives the outcome, to be read once
    // the dialog is gone.
    void convertDocument(const std::filesystem::path& document, const std::string& password,
                         print::DocumentConversion* converted);
    // Whether Escape asked the worker to stop.
    bool cancelRequested() const { return cancel_; }
    // Why the conversion made no document (empty: it made one, or it was
    // stopped). Call once exec() has returned; waits for the worker's end.
    std::string failure();

  protected:
    void workerEnableClose() override {}
    void workerClose(int result) override;
    void workerEnded() override;
    void reject() override;

  private:
    QProgressBar* progressBar() const;
    QLabel* statusLine() const;

    AppPaths& paths_;
    std::unique_ptr<Ui::ConvertingDialog> ui_;
    QTimer timer_;
    std::atomic<bool> cancel_{false};
    std::filesystem::path document_;
    std::string password_;  // wiped when the dialog goes
    print::DocumentConversion* converted_ = nullptr;
    std::string failure_;  // written by the worker before it ends
};

// The conversion run with its dialog: nothing when there is no record or
// jobFilePath names no job file; otherwise runs dialog 108 modally and
// returns when it has closed, after telling the user why a conversion
// that was not stopped made no document.
void RunConversionDialog(AppPaths& paths, QWidget* owner = nullptr);

// A document the user chose, dropped or printed (PDF, PostScript or an
// image) through the same print-and-convert path as a printed one, behind
// dialog 108. A protected PDF's password is asked for (again when it was
// wrong) until it opens or the user gives up (problem Cancelled). On
// success documentPath names the converted fax and jobArgument the job
// file; otherwise the outcome says why (printed.ok false, nothing kept).
print::DocumentConversion ConvertDocumentFile(AppPaths& paths, QWidget* owner,
                                              const std::filesystem::path& document);

}  // namespace miravo::ui
