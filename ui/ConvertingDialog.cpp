#include "ui/ConvertingDialog.h"

#include <QMessageBox>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "convert/ConversionRun.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "convert/JobFile.h"
#include "ui/DialogControls.h"
#include "ui/TextIds.h"
#include "ui_ConvertingDialog.h"
#include "app/TextIds.h"

namespace miravo::ui {

QProgressBar* ConvertingDialog::progressBar() const { return ui_->id1013; }
QLabel* ConvertingDialog::statusLine() const { return ui_->id1051; }

ConvertingDialog::ConvertingDialog(AppPaths& paths, QWidget* parent)
    : WorkerWindow(parent), paths_(paths), ui_(std::make_unique<Ui::ConvertingDialog>()) {
    ui_->setupUi(this);
    const LanguageTable& language = paths_.state->language;
    if (const auto title = GetText(language, text::kConvertingTitle); !title.empty())
        setWindowTitle(qstr(title));
    statusLine()->setText(qstr(GetText(language, text::kConvertingStatus)));
    progressBar()->setRange(0, 100);
    progressBar()->setValue(0);
    timer_.setInterval(kConvertingTimerMs);
    connect(&timer_, &QTimer::timeout, this, [this] { workerStepProgress(); });
}

ConvertingDialog::~ConvertingDialog() = default;

int ConvertingDialog::exec() {
    AppState* state = paths_.state;
    std::atomic<bool>* cancel = &cancel_;
    std::string* failure = &failure_;
    startWorker([state, cancel, failure, input = printInput_,
                 printed = printed_](WorkerReport& report) {
        if (printed) {
            print::PrintOptions options;
            options.launch = false;
            options.inputs = {input};
            *printed = print::WritePrintJob(options);
            if (!printed->ok)
                return;
            state->job.jobFilePath = FromFsPath(printed->jobFile);
            state->job.jobArgument = state->job.jobFilePath;
        }
        ConversionControl control;
        control.cancel = cancel;
        const ConversionSummary summary = ConvertJob(*state, report, control);
        if (!summary.documentWritten && !summary.cancelled && !*cancel)
            *failure = summary.error.empty() ? std::string("no page could be read") : summary.error;
    });
    timer_.start();
    activateWindow();
    raise();
    return WorkerWindow::exec();
}

void ConvertingDialog::printFirst(const std::filesystem::path& document,
                                  print::PrintResult* printed) {
    printInput_ = document;
    printed_ = printed;
}

std::string ConvertingDialog::failure() {
    joinWorker();
    return failure_;
}

void ConvertingDialog::workerClose(int result) {
    timer_.stop();
    WorkerWindow::workerClose(result);
}

void ConvertingDialog::workerEnded() {
    // A worker that ended without closing the dialog (it failed) must not
    // leave the user in front of a dialog without buttons.
    if (isWindowOpen())
        workerClose(0);
}

void ConvertingDialog::reject() {
    // The worker stops after its current page and then closes the dialog.
    cancel_ = true;
}

void RunConversionDialog(AppPaths& paths, QWidget* owner) {
    if (!paths.state || !CheckJobFile(paths.state->job.jobFilePath))
        return;
    ConvertingDialog dialog(paths, owner);
    dialog.exec();
    const std::string failure = dialog.failure();
    if (failure.empty())
        return;
    // Without this the user would only meet an empty document later.
    QMessageBox box(QMessageBox::Warning, dialog.windowTitle(),
                    qstr(GetText(paths.state->language, text::kConversionFailed, fromUtf8(failure))),
                    QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("conversionFailed"));
    box.exec();
}

print::PrintResult ConvertDocumentFile(AppPaths& paths, QWidget* owner,
                                       const std::filesystem::path& document) {
    print::PrintResult printed;
    if (!paths.state)
        return printed;
    {
        ConvertingDialog dialog(paths, owner);
        dialog.printFirst(document, &printed);
        dialog.exec();
    }  // the worker has ended with the dialog
    return printed;
}

}  // namespace miravo::ui
