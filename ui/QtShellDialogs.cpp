#include "ui/QtShellDialogs.h"

#include <cstdio>

#include <QFileInfo>
#include <QFontDatabase>
#include <QImageReader>
#include <QMessageBox>

#include "app/AppState.h"
#include "app/Paths.h"
#include "journal/BackgroundRefresh.h"
#include "ui/ConvertingDialog.h"
#include "ui/DesktopNotification.h"
#include "ui/Dialogs.h"
#include "ui/MessageBoxes.h"
#include "ui/QtTranslations.h"
#include "ui/SentFaxesWindow.h"

namespace miravo::ui {

namespace {

// A desktop whose notification service does not take the message away
// when it expires still gets it taken back a little later.
constexpr int kNotificationGraceMs = 5000;

}  // namespace

QtShellDialogs::QtShellDialogs()
    : warmUp_([] {
          QImageReader::supportedImageFormats();
          QFontDatabase::families();
      }) {}

QtShellDialogs::~QtShellDialogs() {
    warmUp_.join();
}

void QtShellDialogs::runConversion(AppPaths& paths) {
    ApplyQtTranslations(paths.languageCode);
    RunConversionDialog(paths, nullptr);
}

void QtShellDialogs::runOptions(AppPaths& paths) {
    ApplyQtTranslations(paths.languageCode);
    RunOptionsDialog(paths, nullptr);
}

void QtShellDialogs::runSendDialog(AppPaths& paths) {
    ApplyQtTranslations(paths.languageCode);
    // Faxes of the last days that are not final yet are asked about once,
    // in the background, while the user works in the send dialog.
    TellIfJournalMovedAside(paths.state->language, nullptr);
    BackgroundRefresh refresh(*paths.state);
    RunSendDialog(paths, nullptr);
    // The windows are gone (with CLOSE_WND on their own) while the
    // desktop still shows how the send ended: a click on that message
    // opens Sent faxes, as it does while the windows are there. The run
    // waits for the click as long as the message stays, then ends.
    WaitForKeptNotifications([&paths] { RunSentFaxesWindow(paths, nullptr); },
                             kNotificationShownMs + kNotificationGraceMs);
}

void QtShellDialogs::runDocumentConversion(AppPaths& paths, const std::u16string& document) {
    ApplyQtTranslations(paths.languageCode);
    const print::DocumentConversion converted =
        ConvertDocumentFile(paths, nullptr, ToFsPath(document));
    const print::PrintResult& printed = converted.printed;
    FaxJob& job = paths.state->job;
    if (printed.ok && !job.documentPath.empty())
        return;
    // Nothing half-made stays behind: the send dialog opens without a document.
    if (printed.ok)
        print::RemovePrintJob(printed);
    job.jobFilePath.clear();
    job.jobArgument.clear();
    job.pageBaseRecorded = false;
    TellDocumentNotConverted(paths, nullptr,
                             QFileInfo(QString::fromStdU16String(document)).fileName(),
                             printed.ok ? DocumentProblem::Damaged : converted.problem,
                             converted.details, converted.failedPage);
}

void QtShellDialogs::refuseFile(AppPaths& paths, const std::u16string& file) {
    ApplyQtTranslations(paths.languageCode);
    TellDocumentNotConverted(paths, nullptr, QFileInfo(QString::fromStdU16String(file)).fileName());
}

void QtShellDialogs::tellLanguageFileUnreadable(const std::u16string& file,
                                                const std::string& problem) {
    // In English: no text of the user's language could be read.
    const QString why = problem.empty() ? QStringLiteral("it holds no language Miravo can use")
                                        : QString::fromStdString(problem);
    const QString text = QStringLiteral(
                             "Miravo cannot start: its language file %1 cannot be read (%2).\n\n"
                             "Install Miravo again, or make the file readable.")
                             .arg(QString::fromStdU16String(file), why);
    std::fprintf(stderr, "miravo: %s\n", text.toLocal8Bit().constData());
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Miravo"), text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("languageFileMessage"));
    box.exec();
}

}  // namespace miravo::ui
