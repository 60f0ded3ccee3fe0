#include "ui/WorkerDialog.h"

#include <QProgressBar>
#include <QPushButton>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "ui/DialogControls.h"
#include "ui/TextIds.h"
#include "ui_WorkerDialog.h"

namespace miravo::ui {

QProgressBar* WorkerDialog::progressBar() const { return ui_->id1013; }
QPushButton* WorkerDialog::closeButton() const { return ui_->id1029; }
QLabel* WorkerDialog::statusLine() const { return ui_->id1051; }
QPushButton* WorkerDialog::cancelButton() const { return ui_->id2; }

WorkerDialog::WorkerDialog(AppPaths& paths, QWidget* parent, int statusText)
    : WorkerWindow(parent), paths_(paths), ui_(std::make_unique<Ui::WorkerDialog>()) {
    ui_->setupUi(this);
    const LanguageTable& language = paths_.state->language;
    closeButton()->setEnabled(false);
    if (const auto text = GetText(language, text::kClose); !text.empty())
        closeButton()->setText(qstr(text));
    if (const auto text = GetText(language, text::kCancel); !text.empty())
        cancelButton()->setText(qstr(text));
    statusLine()->setText(qstr(GetText(language, statusText)));
    progressBar()->setRange(0, 100);
    progressBar()->setValue(0);
    connect(closeButton(), &QPushButton::clicked, this, [this] { done(kWorkerDialogClosed); });
    connect(cancelButton(), &QPushButton::clicked, this, [this] { cancel(); });
    timer_.setInterval(kWorkerTimerMs);
    connect(&timer_, &QTimer::timeout, this, [this] { workerStepProgress(); });
}

WorkerDialog::~WorkerDialog() = default;

int WorkerDialog::exec() {
    WorkerTask task = paths_.state->job.workerTask;
    AppPaths* paths = &paths_;
    taskOpen_ = true;
    startWorker(
        [paths, task](WorkerReport& report) {
            if (task(*paths, report) != 0)
                report.close(kWorkerDialogSucceeded);
            else
                report.enableClose();
        },
        &taskOpen_);
    timer_.start();
    return WorkerWindow::exec();
}

void WorkerDialog::workerEnableClose() {
    timer_.stop();
    cancelButton()->setEnabled(false);
    if (cancelling_)
        return;
    closeButton()->setEnabled(true);
    closeButton()->setDefault(true);
    closeButton()->setFocus();
}

void WorkerDialog::workerClose(int result) {
    timer_.stop();
    // A cancelled task ends the dialog as cancelled, even when it
    // finished its work meanwhile.
    if (cancelling_)
        return;
    WorkerWindow::workerClose(result);
}

void WorkerDialog::workerEnded() {
    cancelButton()->setEnabled(false);
    if (cancelling_ && isWindowOpen())
        done(kWorkerDialogCancelled);
}

void WorkerDialog::cancel() {
    if (cancelling_ || !cancelButton()->isEnabled())
        return;
    cancelling_ = true;
    taskOpen_ = false;
    cancelButton()->setEnabled(false);
    if (!workerRunning())
        done(kWorkerDialogCancelled);
}

void WorkerDialog::reject() {
    // Escape and the close box cancel a running task and close the dialog
    // once the task has ended (Close is enabled only then).
    if (closeButton()->isEnabled())
        done(kWorkerDialogEscaped);
    else
        cancel();
}

void WorkerDialog::done(int result) {
    taskOpen_ = false;
    WorkerWindow::done(result);
}

int RunWorkerDialog(AppPaths& paths, QWidget* owner, int statusText) {
    if (!paths.state || !paths.state->job.workerTask)
        return 0;
    WorkerDialog dialog(paths, owner, statusText);
    return dialog.exec();
}

}  // namespace miravo::ui
