#include "ui/StatusWindow.h"

#include <QCoreApplication>
#include <QBoxLayout>
#include <algorithm>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/ControlIds.h"
#include "app/LanguageTable.h"
#include "journal/SendJournal.h"
#include "service/SendOutcome.h"
#include "ui/DialogChrome.h"
#include "ui/DialogControls.h"
#include "ui/DialogSize.h"
#include "ui/Dialogs.h"
#include "ui/Icons.h"
#include "ui/Mnemonics.h"
#include "app/Text.h"
#include "ui/SendEndView.h"
#include "ui/SentFaxesWindow.h"
#include "ui/TextIds.h"
#include "ui/WindowPlacement.h"
#include "ui_StatusWindow.h"

namespace miravo::ui {

namespace {

// Hides or shows a window without QDialog::setVisible: hiding a dialog that
// runs exec() that way would end its event loop, and both the status
// window and the send dialog under it are running theirs while they sit in
// the notification area.
void setWindowShown(QWidget* window, bool shown) {
    if (window)
        window->QWidget::setVisible(shown);
}

void clearMinimised(QWidget* window) {
    if (window && (window->windowState() & Qt::WindowMinimized))
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
}

}  // namespace

QGroupBox* StatusWindow::statusGroup() const { return ui_->id1004; }
QProgressBar* StatusWindow::progressBar() const { return ui_->id1013; }
QLabel* StatusWindow::faxIdLabel() const { return ui_->id1038; }
QLabel* StatusWindow::pagesLabel() const { return ui_->id1039; }
QLabel* StatusWindow::estimatedCostLabel() const { return ui_->id1040; }
QLabel* StatusWindow::statusLine() const { return ui_->id1051; }
QPushButton* StatusWindow::closeButton() const { return ui_->id2; }

namespace {

// What each value of the status table is: its row's label, or its column's
// heading with the row's number ("Status 2"), for screen readers. Left to
// themselves, empty values would all take the group's title ("Status").
struct ValueName {
    int value;
    int heading;
    int row;               // 0: the heading alone
    int headingText = 0;   // the text the heading shows once it is filled in
};
constexpr ValueName kValueNames[] = {
    {1037, 1032, 0}, {1036, 1031, 0}, {1038, 1033, 0}, {1039, 1034, 0},
    {1040, 1035, 0}, {1042, 1041, 1}, {1047, 1046, 1}, {1043, 1041, 2},
    {1048, 1046, 2}, {1044, 1041, 3}, {1049, 1046, 3},
    {1050, 1045, 0, text::kTotalCostHeading},
};

}  // namespace

void StatusWindow::nameValues() {
    for (const ValueName& v : kValueNames) {
        auto* value = control<QLabel>(this, v.value);
        const auto* heading = control<QLabel>(this, v.heading);
        if (!value || !heading)
            continue;
        QString name = WithoutMnemonic(heading->text()).trimmed();
        if (name.isEmpty() && v.headingText)
            name = qstr(GetText(state_.language, v.headingText)).trimmed();
        while (name.endsWith(QLatin1Char(':')) || name.endsWith(QChar(0xFF1A)))
            name.chop(1);
        if (v.row > 0)
            name += QLatin1Char(' ') + QString::number(v.row);
        const QString shown = value->text().trimmed();
        value->setAccessibleName(shown.isEmpty() ? name : name + QStringLiteral(": ") + shown);
    }
}

StatusWindow::StatusWindow(AppPaths& paths, QWidget* sendDialog, std::unique_ptr<TrayIcon> tray,
                           QWidget* parent)
    : WorkerWindow(parent),
      paths_(paths),
      state_(*paths.state),
      sendDialog_(sendDialog),
      ui_(std::make_unique<Ui::StatusWindow>()),
      tray_(tray ? std::move(tray) : std::make_unique<SystemTrayIcon>(paths.state->language)),
      prompt_(*this) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    progressBar()->setRange(0, 100);
    progressBar()->setValue(0);
    // No bar while authenticating; the window keeps its room meanwhile.
    QSizePolicy barPolicy = progressBar()->sizePolicy();
    barPolicy.setRetainSizeWhenHidden(true);
    progressBar()->setSizePolicy(barPolicy);
    progressBar()->hide();
    // Close stays enabled through the whole send: closing ends the window's
    // interest, and the engine then abandons the exchange under way.
    // Under the table, before the activity line.
    details_ = new DestinationDetailsPanel(state_.language, this);
    auto* column = static_cast<QBoxLayout*>(layout());
    column->insertWidget(column->indexOf(statusGroup()) + 1, details_);
    details_->hide();
    connect(details_, &DestinationDetailsPanel::foldChanged, this, [this] { FitToContents(this); });
    ApplyDialogTexts(this, paths_, kStatusWindowTexts);
    // A reason names numbers and hosts in full: it wraps, never cut at the edge.
    for (int id : {controlid::kLabelAuthentication, controlid::kLabelTransfer,
                   controlid::kStatusLine}) {
        if (auto* label = control<QLabel>(this, id))
            label->setWordWrap(true);
    }

    nameValues();

    connect(closeButton(), &QPushButton::clicked, this, [this] { closeByUser(); });
    pollTimer_.setInterval(kPollingTickMs);
    connect(&pollTimer_, &QTimer::timeout, this, [this] { workerStepProgress(); });
    closeLater_.setSingleShot(true);
    connect(&closeLater_, &QTimer::timeout, this, [this] {
        if (!closing_ && isWindowOpen())
            done(kStatusWindowClosedByWorker);
    });
    tray_->onShowWindows([this] { restoreFromTray(); });
    tray_->onSentFaxes([this] { RunSentFaxesWindow(paths_, nullptr); });
    tray_->onQuit([this] {
        // Quit ends the run: the window, and the send dialog behind it.
        quitChosen_ = true;
        restoreFromTray();
        closeByUser();
        if (!closing_)
            quitChosen_ = false;  // the user chose to keep following
    });
}

StatusWindow::~StatusWindow() {
    // The worker uses this window's prompt: it must have ended before the
    // members go. A question still queued is dropped, which answers it
    // with "gave up".
    state_.job.statusWindowOpen = false;
    QCoreApplication::removePostedEvents(this);
    joinWorker();
    tray_->hide();
}

int StatusWindow::exec() {
    state_.job.statusWindowOpen = true;
    AppState* state = &state_;
    CredentialsPrompt* prompt = &prompt_;
    // The window, not the worker, waits for its closing: it needs the
    // send's outcome to show how the send ended.
    SendOptions options = options_;
    options.waitForClose = false;
    StatusWindow* window = this;
    startWorker(
        [state, prompt, options, window](WorkerReport& report) {
            // What the send learns is remembered as it goes.
            SendJournal journal;
            SendOptions recorded = options;
            recorded.recorder = &journal;
            const SendSummary summary = RunSend(*state, report, *prompt, recorded);
            // Once the transfer went through, the fax is the service's.
            window->faxSent_ = summary.failedStep == FaxStep::Status;
            const std::int32_t errorCode = state->job.send.errorCode;
            if (report.isOpen())
                QMetaObject::invokeMethod(
                    window, [window, summary, errorCode] { window->showSendEnd(summary, errorCode); },
                    Qt::QueuedConnection);
            // A sent document that could not be kept (a full disk): said once
            // per run, after the send's own end; the send itself went on.
            const std::string keepWarning = journal.takeKeepWarning();
            if (!keepWarning.empty() && report.isOpen())
                QMetaObject::invokeMethod(
                    window,
                    [window, keepWarning] {
                        const LanguageTable& language = window->state_.language;
                        QMessageBox::warning(window, qstr(GetText(language, text::kSentFaxes)),
                                             qstr(GetText(language, text::kSentDocumentNotKept,
                                                          fromUtf8(keepWarning))));
                    },
                    Qt::QueuedConnection);
        },
        &state_.job.statusWindowOpen);
    setWindowTitle(qstr(GetText(state_.language, text::kTitleSending)));
    ApplyPlacement(this, state_.settings.statusWindowPlace);
    return WorkerWindow::exec();
}

void StatusWindow::workerPolling(bool on) {
    progressBar()->setRange(0, 100);
    progressBar()->setValue(0);
    if (on) {
        progressBar()->show();
        pollTimer_.start();
    }
    else {
        pollTimer_.stop();
    }
}

void StatusWindow::workerLabel(int controlId, const QString& text) {
    WorkerWindow::workerLabel(controlId, text);
    nameValues();
    // A wrapped reason takes the lines it needs.
    if (controlId == controlid::kLabelTransfer || controlId == controlid::kLabelAuthentication)
        FitToContents(this);
    if (controlId == controlid::kStatusLine && !text.isEmpty())
        tray_->setProgress(qstr(GetText(state_.language, text::kTrayProgress, u16str(text))));
}

void StatusWindow::tellEndWhileHidden(const SendSummary& summary, bool sent) {
    if (!inTray_)
        return;
    // The same words as the window's summary row once the outcome is known.
    const OutcomeCounts counts = CountOutcome(summary.destinations);
    if (sent && counts.final()) {
        tray_->notify(QStringLiteral("Miravo"), qstr(OutcomeText(state_.language, counts)));
        return;
    }
    const bool delivered = summary.end == SendEnd::Finished &&
                           KindOf(counts) == OutcomeKind::AllDelivered;
    const int body = !sent ? text::kNotifyNotSent
                     : delivered ? text::kNotifyDelivered
                                 : text::kNotifyNotDelivered;
    tray_->notify(windowTitle(), qstr(GetText(state_.language, body)));
}

void StatusWindow::workerEnableClose() {
    if (closing_)
        return;
    // Close comes without the polling only before a fresh authentication
    // or at the end: no bar then.
    if (!pollTimer_.isActive())
        progressBar()->hide();
    closeButton()->setEnabled(true);
    closeButton()->setDefault(true);
    closeButton()->setFocus();
}

void StatusWindow::workerClose(int result) {
    // Once the user has pressed Close, the window ends with Close's result
    // when the worker has returned.
    if (closing_)
        return;
    WorkerWindow::workerClose(result);
}

void StatusWindow::workerEnded() {
    if (closing_) {
        done(kStatusWindowClosed);
        return;
    }
    // A worker that ended without closing the window leaves the user a way out.
    if (isWindowOpen())
        workerEnableClose();
}

void StatusWindow::showSendEnd(const SendSummary& summary, std::int32_t errorCode) {
    if (closing_ || !isWindowOpen())
        return;
    if (!summary.destinations.empty()) {
        details_->setRows(
            DestinationDetails(state_.language, summary.destinations));
        details_->show();
    }
    const SendEndView view = DescribeSendEnd(summary, errorCode);
    // Something went out (maybe not all of it): the outcome is the fax's.
    const bool sent = summary.failedStep == FaxStep::Status || !summary.faxIds.empty();
    if (sent || view.statusLineText != 0)
        setWindowTitle(qstr(GetText(state_.language, sent ? text::kTitleSent : text::kTitleNotSent)));
    if (sent && CountOutcome(summary.destinations).final())
        showOutcome(summary);
    clearWaiting();
    tellEndWhileHidden(summary, sent);
    if (view.statusLineText == 0) {
        if (state_.settings.closeWindow)
            closeLater_.start(options_.timing.closeTicks *
                              static_cast<int>(options_.timing.closeTickMs));
        return;
    }
    // A failed send stays on screen until the user closes it, even with
    // CLOSE_WND: the failure must be seen.
    pollTimer_.stop();
    progressBar()->hide();
    const LanguageTable& language = state_.language;
    if (auto* verdict = control<QLabel>(this, view.failedVerdict)) {
        const QString shown = verdict->text();
        if (shown.isEmpty() || shown == qstr(GetText(language, text::kOk)))
            verdict->setText(qstr(GetText(language, text::kFailed)));
    }
    statusLine()->setText(qstr(GetText(language, view.statusLineText)));
    // A failure on this side says what it was.
    if (const std::string why = LocalFailure(summary.last); !why.empty() && !sent)
        statusLine()->setText(qstr(GetText(language, text::kNotSentBecause, fromUtf8(why))));
    // A refused certificate is the reason, and what mends it is said.
    if (summary.last.untrustedCertificate) {
        statusLine()->setWordWrap(true);
        statusLine()->setText(qstr(UntrustedCertificateText(state_)));
    }
    if (summary.last.caFileUnusable) {
        statusLine()->setWordWrap(true);
        statusLine()->setText(qstr(CaFileUnusableText(state_)));
    }
    // Part of a long list went out before the failure: say how much did not.
    if (!summary.faxIds.empty() && summary.notSent > 0)
        statusLine()->setText(qstr(GetText(language, text::kNotSentCount,
                                           static_cast<int>(summary.notSent))));
    // A transfer that failed has no fax id, pages or price worth showing:
    // whatever its answer seemed to say was not about a fax under way.
    // Batches that went out before the failure keep theirs.
    if (summary.failedStep == FaxStep::Transfer && summary.faxIds.empty()) {
        for (QLabel* label : {faxIdLabel(), pagesLabel(), estimatedCostLabel()})
            label->clear();
    }
    if (summary.failedStep != FaxStep::Status && summary.faxIds.empty())
        failure_ = failureWith(statusLine()->text());
    nameValues();
}

void StatusWindow::showOutcome(const SendSummary& summary) {
    const OutcomeCounts counts = CountOutcome(summary.destinations);
    outcome_ = qstr(OutcomeText(state_.language, counts));
    setWindowTitle(outcome_);
    tray_->setProgress(qstr(GetText(state_.language, text::kTrayProgress, u16str(outcome_))));
    // Numbers the service called invalid are named, each in full; the line wraps.
    QStringList invalid;
    for (const DestinationStatus& d : summary.destinations) {
        if (d.status == u"IN")
            invalid << qstr(d.recipient);
    }
    if (!invalid.isEmpty()) {
        statusLine()->setWordWrap(true);
        statusLine()->setText(qstr(GetText(state_.language, text::kNumbersRefused,
                                           u16str(invalid.join(QStringLiteral(", "))))));
        FitToContents(this);
    }
    // Several destinations share one summary row; one shows its own status.
    if (counts.total < 2)
        return;
    auto* row = control<QLabel>(this, controlid::kLabelStatus);
    if (!row)
        return;
    row->setText(outcome_);
    nameValues();
    static constexpr const char* kColours[] = {"", "color: #1b7f2a;", "color: #a05a00;",
                                               "color: #b00020;"};
    row->setStyleSheet(QString::fromLatin1(kColours[static_cast<int>(KindOf(counts))]));
    row->setWordWrap(true);
}

void StatusWindow::clearWaiting() {
    const LanguageTable& language = state_.language;
    const QString line = statusLine()->text();
    for (int waiting : {text::kSending, text::kWaiting, text::kServiceBack}) {
        if (line == qstr(GetText(language, waiting)))
            statusLine()->clear();
    }
    // The question whether to stop following has no object any more: the
    // window stays, showing how the send came out.
    if (question_)
        QMetaObject::invokeMethod(question_, "reject", Qt::QueuedConnection);
}

QString StatusWindow::failureWith(const QString& lead) const {
    const QString ok = qstr(GetText(state_.language, text::kOk));
    const QString failed = qstr(GetText(state_.language, text::kFailed));
    QStringList parts{lead};
    for (int id : {controlid::kLabelAuthentication, controlid::kLabelTransfer}) {
        const auto* verdict = control<QLabel>(this, id);
        if (verdict && !verdict->text().isEmpty() && verdict->text() != ok &&
            verdict->text() != failed && !parts.contains(verdict->text()))
            parts << verdict->text();
    }
    return parts.join(QLatin1Char(' '));
}

bool StatusWindow::stopFollowingConfirmed() {
    const LanguageTable& language = state_.language;
    QMessageBox question(QMessageBox::Question, windowTitle(),
                         qstr(GetText(language, text::kStopFollowingQuestion)), QMessageBox::NoButton,
                         this);
    question.setObjectName(QStringLiteral("stopFollowingQuestion"));
    QPushButton* stop =
        question.addButton(qstr(GetText(language, text::kStopFollowing)), QMessageBox::AcceptRole);
    QPushButton* keep =
        question.addButton(qstr(GetText(language, text::kKeepFollowing)), QMessageBox::RejectRole);
    question.setDefaultButton(keep);
    question.setEscapeButton(keep);
    question_ = &question;
    question.exec();
    question_ = nullptr;
    return question.clickedButton() == stop;
}

void StatusWindow::closeByUser() {
    if (closing_)
        return;
    // The destinations are still under way at the service: closing only
    // stops following them here, which the user confirms.
    if (workerRunning() && pollTimer_.isActive() && !stopFollowingConfirmed())
        return;
    if (closing_ || !isWindowOpen())
        return;
    closing_ = true;
    // Closed before the service took the fax: nothing went out.
    if (workerRunning() && !pollTimer_.isActive() && failure_.isEmpty())
        failure_ = failureWith(qstr(GetText(state_.language, text::kNotSent)));
    state_.job.statusWindowOpen = false;
    closeButton()->setEnabled(false);
    // The engine sees the cleared flag within a second, even in the middle
    // of an exchange, and gives it up; the window keeps running meanwhile
    // and ends in workerEnded().
    if (!workerRunning())
        done(kStatusWindowClosed);
}

void StatusWindow::reject() {
    // The close box and Escape close the window as Close does (asking
    // first while the fax is under way).
    closeByUser();
}

void StatusWindow::changeEvent(QEvent* event) {
    WorkerWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    if (isMinimized()) {
        // Without a notification area a hidden window could not come back.
        if (!inTray_ && tray_->available() && isWindowOpen())
            minimiseIntoTray();
    } else if (!inTray_) {
        tray_->hide();
    }
}

void StatusWindow::minimiseIntoTray() {
    inTray_ = true;
    tray_->show(ApplicationIcon());
    setWindowShown(this, false);
    // Only a send dialog hidden here is brought back.
    sendHidden_ = sendDialog_ && sendDialog_->isVisible();
    if (sendHidden_)
        setWindowShown(sendDialog_, false);
}

void StatusWindow::showBothAgain() {
    inTray_ = false;
    if (sendHidden_ && sendDialog_) {
        clearMinimised(sendDialog_);
        setWindowShown(sendDialog_, true);
    }
    sendHidden_ = false;
    clearMinimised(this);
    tray_->hide();
    setWindowShown(this, true);
}

void StatusWindow::restoreFromTray() {
    if (!inTray_)
        return;
    showBothAgain();
    raise();
    activateWindow();
}

void StatusWindow::done(int result) {
    if (isVisible() && !inTray_)
        state_.settings.statusWindowPlace = PlacementOf(this);
    pollTimer_.stop();
    closeLater_.stop();
    state_.job.statusWindowOpen = false;
    // Closed while in the notification area (the worker closes the window
    // by itself): the send dialog must not stay hidden, and this window
    // comes back for the moment of closing, since only the closing of a
    // shown dialog ends its exec().
    if (inTray_)
        showBothAgain();
    tray_->hide();
    WorkerWindow::done(result);
}

int RunStatusWindow(AppPaths& paths, QWidget* sendDialog, SendAttempt* attempt) {
    if (!paths.state)
        return kStatusWindowClosed;
    StatusWindow window(paths, sendDialog, nullptr, sendDialog);
    const int result = window.exec();
    if (attempt) {
        attempt->faxSent = window.faxSent();
        attempt->failure = window.failure();
        attempt->quit = window.quitChosen();
    }
    return result;
}

}  // namespace miravo::ui
