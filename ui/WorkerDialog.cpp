#include "ui/WorkerDialog.h"

#include <QProgressBar>
#include <QPushButton>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "ui/DialogControls.h"
#include "ui/TextIds.h"
#include "ui_WorkerDialog.h"

namespace miravo::ui {


WorkerDialog::WorkerDialog(AppPaths& paths, QWidget* parent, int statusText)
    : WorkerWindow(parent), paths_(paths), ui_(std::make_unique<Ui::WorkerDialog>()) {
    ui_->setupUi(this);
    const LanguageTable& language = paths_.state->language;
    ui_->id1029->setEnabled(false);
    if (const auto text = GetText(language, text::kClose); !text.empty())
        ui_->id1029->setText(qstr(text));
    if (const auto text = GetText(language, text::kCancel); !text.empty())
        ui_->id2->setText(qstr(text));
    ui_->id1051->setText(qstr(GetText(language, statusText)));
    ui_->id1013->setRange(0, 100);
    ui_->id1013->setValue(0);
    connect(ui_->id1029, &QPushButton::clicked, this, [this] { done(kWorkerDialogClosed); });
    connect(ui_->id2, &QPushButton::clicked, this, [this] { cancel(); });
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
    ui_->id2->setEnabled(false);
    if (cancelling_)
        return;
    ui_->id1029->setEnabled(true);
    ui_->id1029->setDefault(true);
    ui_->id1029->setFocus();
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
    ui_->id2->setEnabled(false);
    if (cancelling_ && isWindowOpen())
        done(kWorkerDialogCancelled);
}

void WorkerDialog::cancel() {
    if (cancelling_ || !ui_->id2->isEnabled())
        return;
    cancelling_ = true;
    taskOpen_ = false;
    ui_->id2->setEnabled(false);
    if (!workerRunning())
        done(kWorkerDialogCancelled);
}

void WorkerDialog::reject() {
    // Escape and the close box cancel a running task and close the dialog
    // once the task has ended (Close is enabled only then).
    if (ui_->id1029->isEnabled())
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
