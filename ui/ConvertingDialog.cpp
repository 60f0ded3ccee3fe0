#include "ui/ConvertingDialog.h"

#include <QFile>
#include <QFileInfo>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "convert/ConversionRun.h"
#include "app/Paths.h"
#include "app/DialogTexts.h"
#include "app/Text.h"
#include "convert/LibraryMessages.h"
#include "printmon/PasswordHandOver.h"
#include "ui/MessageBoxes.h"
#include "ui/PasswordPrompt.h"
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

ConvertingDialog::~ConvertingDialog() {
    joinWorker();
    print::WipeSecret(password_);
}

int ConvertingDialog::exec() {
    AppState* state = paths_.state;
    std::atomic<bool>* cancel = &cancel_;
    std::string* failure = &failure_;
    // The worker ends before the dialog does: it may use the members.
    startWorker([this, state, cancel, failure](WorkerReport& report) {
        ConversionControl control;
        control.cancel = cancel;
        if (converted_) {
            *converted_ = print::ConvertDocument(*state, document_, password_, report, control);
            return;
        }
        KeepLibraryMessages();
        TakeLibraryMessages();
        const ConversionSummary summary = ConvertJob(*state, report, control);
        if (!summary.documentWritten && !summary.cancelled && !*cancel)
            *failure = summary.error.empty() ? std::string("no page could be read") : summary.error;
    });
    timer_.start();
    activateWindow();
    raise();
    return WorkerWindow::exec();
}

void ConvertingDialog::convertDocument(const std::filesystem::path& document,
                                       const std::string& password,
                                       print::DocumentConversion* converted) {
    document_ = document;
    password_ = password;
    converted_ = converted;
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
    // Without this the user would only meet an empty document later. The
    // run's own words name page files in the spool: the user hears of the
    // printed document, and of what the image library said about it.
    TellDocumentNotConverted(paths, owner, qstr(DocumentName(paths.state->job.jobFilePath)),
                             DocumentProblem::Damaged, TakeLibraryMessages());
}

print::DocumentConversion ConvertDocumentFile(AppPaths& paths, QWidget* owner,
                                              const std::filesystem::path& document) {
    print::DocumentConversion converted;
    if (!paths.state)
        return converted;
    const QString name = QFileInfo(QFile::decodeName(document.c_str())).fileName();
    std::string password;
    for (;;) {
        {
            ConvertingDialog dialog(paths, owner);
            dialog.convertDocument(document, password, &converted);
            dialog.exec();
        }  // the worker has ended with the dialog
        if (!IsPasswordProblem(converted.problem))
            break;
        print::WipeSecret(password);
        if (!AskDocumentPassword(paths, owner, name,
                                 converted.problem == DocumentProblem::WrongPassword, password)) {
            converted.problem = DocumentProblem::Cancelled;
            break;
        }
    }
    print::WipeSecret(password);
    return converted;
}

}  // namespace miravo::ui
