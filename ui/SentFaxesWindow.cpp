#include "ui/SentFaxesWindow.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableView>
#include <QTreeWidget>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "journal/JournalCsv.h"
#include "journal/SentDocuments.h"
#include "journal/TransmissionReport.h"
#include "ui/AccessibleNames.h"
#include "ui/DialogControls.h"
#include "ui/FileDialogFolder.h"
#include "service/ServiceTexts.h"
#include "ui/WindowPlacement.h"
#include "ui/PreviewWindow.h"
#include "ui/SendAgain.h"
#include "ui/SentFaxesModel.h"
#include "ui/TextIds.h"

namespace miravo::ui {

namespace {

template <typename... Args>
QString textOf(const LanguageTable& language, int id, const Args&... args) {
    return qstr(GetText(language, id, args...));
}

QString money(const LanguageTable& language, double amount) {
    return QStringLiteral("%1 %2").arg(amount, 0, 'f', 2).arg(textOf(language, text::kCurrency));
}

QString MovedAsideText(const LanguageTable& language, const Journal& journal) {
    return textOf(language, text::kJournalKeptAside, fromUtf8(journal.movedAside().string()));
}

QString localTime(std::int64_t seconds) {
    return seconds == 0 ? QString()
                        : QDateTime::fromSecsSinceEpoch(seconds).toString(
                              QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace

SentFaxesWindow::SentFaxesWindow(AppPaths& paths, QWidget* parent)
    : WorkerWindow(parent), paths_(paths) {
    setObjectName(QStringLiteral("sentFaxes"));
    const LanguageTable& language = paths_.state->language;
    setWindowTitle(textOf(language, text::kSentFaxes));
    model_ = new SentFaxesModel(journal_, language, this);

    search_ = new QLineEdit(this);
    search_->setPlaceholderText(textOf(language, text::kSearchSentFaxes));
    search_->setClearButtonEnabled(true);

    table_ = new QTableView(this);
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    // Fixed heights and widths: nothing measures all rows. Each column is at
    // least as wide as its caption, which is longer in some languages.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    QHeaderView* header = table_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    const int widths[] = {125, 180, 230, 50, 150, 90};
    for (int c = 0; c < SentFaxesModel::ColumnCount; ++c)
        header->resizeSection(c, std::max(widths[c], header->sectionSizeHint(c)));
    // The outcome column holds an outcome of all three kinds unelided.
    JournalRow mixed;
    mixed.delivered = mixed.failed = mixed.pending = 1;
    const int outcomeWidth = fontMetrics().horizontalAdvance(OutcomeText(language, mixed)) +
                             2 * fontMetrics().averageCharWidth();
    header->resizeSection(
        SentFaxesModel::OutcomeColumn,
        std::max(header->sectionSize(SentFaxesModel::OutcomeColumn), outcomeWidth));
    header->setSectionResizeMode(SentFaxesModel::DestinationsColumn, QHeaderView::Stretch);

    summary_ = new QLabel(this);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    details_ = new QTreeWidget(this);
    details_->setRootIsDecorated(false);
    details_->setHeaderLabels({textOf(language, text::kNumber), textOf(language, text::kNameHeader),
                               textOf(language, text::kStatusHeader),
                               textOf(language, text::kCostHeader),
                               textOf(language, text::kLastCheckedHeader)});
    const int detailWidths[] = {140, 160, 170};
    for (int c = 0; c < 3; ++c)
        details_->header()->resizeSection(
            c, std::max(detailWidths[c], details_->header()->sectionSizeHint(c)));
    // What can be done with the selected send: its kept document, its
    // report, and sending it again.
    view_ = new QPushButton(textOf(language, text::kViewDocument), this);
    report_ = new QPushButton(textOf(language, text::kSaveReportPdf), this);
    againFailed_ = new QPushButton(textOf(language, text::kSendAgainFailed), this);
    againAll_ = new QPushButton(textOf(language, text::kSendAgainAll), this);
    auto* actions = new QHBoxLayout;
    for (QPushButton* b : {view_, report_, againFailed_, againAll_}) {
        b->setAutoDefault(false);
        actions->addWidget(b);
    }
    actions->addStretch(1);
    auto* detailPane = new QWidget(this);
    auto* detailLayout = new QVBoxLayout(detailPane);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->addWidget(summary_);
    detailLayout->addLayout(actions);
    detailLayout->addWidget(details_);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(table_);
    splitter->addWidget(detailPane);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);

    progress_ = new QProgressBar(this);
    progress_->hide();
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(this);
    refresh_ = buttons->addButton(textOf(language, text::kRefresh), QDialogButtonBox::ActionRole);
    QPushButton* exportSelected =
        buttons->addButton(textOf(language, text::kExportSelected), QDialogButtonBox::ActionRole);
    QPushButton* exportAll =
        buttons->addButton(textOf(language, text::kExportAll), QDialogButtonBox::ActionRole);
    // Qt's own Close would speak Qt's language, not the program's.
    buttons->addButton(textOf(language, text::kClose), QDialogButtonBox::RejectRole);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(search_);
    layout->addWidget(splitter, 1);
    layout->addWidget(progress_);
    layout->addWidget(status_);
    layout->addWidget(buttons);
    resize(900, 560);
    // Tab follows the pane from top to bottom: the actions stand above the destinations.
    SetTabOrder({againAll_, details_});
    ApplyAccessibleNames(this, language);

    connect(search_, &QLineEdit::textChanged, model_, &SentFaxesModel::setSearch);
    connect(model_, &QAbstractItemModel::modelReset, this, &SentFaxesWindow::showDetails);
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &SentFaxesWindow::showDetails);
    connect(refresh_, &QPushButton::clicked, this, &SentFaxesWindow::refresh);
    connect(table_, &QTableView::doubleClicked, this, [this] { viewDocument(); });
    connect(view_, &QPushButton::clicked, this, [this] { viewDocument(); });
    connect(report_, &QPushButton::clicked, this, [this] { reportWithDialog(); });
    connect(againFailed_, &QPushButton::clicked, this, [this] { sendAgain(true); });
    connect(againAll_, &QPushButton::clicked, this, [this] { sendAgain(false); });
    connect(exportSelected, &QPushButton::clicked, this, [this] { exportWithDialog(true); });
    connect(exportAll, &QPushButton::clicked, this, [this] { exportWithDialog(false); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    if (!journal_.isOpen())
        status_->setText(
            textOf(language, text::kJournalNotOpened, fromUtf8(journal_.path().string())));
    else if (!journal_.movedAside().empty())
        status_->setText(MovedAsideText(language, journal_));
    if (model_->rowCount() > 0)
        table_->selectRow(0);
    showDetails();
}

SentFaxesWindow::~SentFaxesWindow() {
    // The refresh writes into this window's members: it ends (its pauses
    // stop at the closed window) before they go.
    if (isWindowOpen())
        WorkerWindow::done(QDialog::Rejected);
    QCoreApplication::removePostedEvents(this);
    joinWorker();
}

std::int64_t SentFaxesWindow::currentSend() const {
    return model_->sendId(table_->currentIndex().row());
}

void SentFaxesWindow::showDetails() {
    details_->clear();
    summary_->clear();
    const std::int64_t id = currentSend();
    const auto send = id ? journal_.send(id) : std::nullopt;
    const JournalKeeping keeping = send ? journal_.keeping(id) : JournalKeeping();
    const bool kept = keeping.document == KeptDocument::Kept;
    view_->setEnabled(kept);
    report_->setEnabled(send.has_value());
    againAll_->setEnabled(kept);
    againFailed_->setEnabled(kept && !DestinationsToSendAgain(*send, true).empty());
    if (!send)
        return;
    const LanguageTable& language = paths_.state->language;
    QStringList facts = {textOf(language, text::kReportRecord, static_cast<int>(id)),
                         qstr(send->title), textOf(language, text::kFaxIdFact, send->faxId),
                         textOf(language, text::kPagesFact, send->pages)};
    if (send->cover)
        facts << textOf(language, text::kWithCoverPage);
    if (send->reportOptions == u"YES")
        facts << textOf(language, text::kReportWithDocument);
    else if (send->reportOptions == u"NO")
        facts << textOf(language, text::kReportOnly);
    else if (send->reportOptions == u"NOT_AT_ALL")
        facts << textOf(language, text::kNoReport);
    facts << textOf(language, text::kEstimatedCostFact,
                    u16str(money(language, send->estimatedCost)))
          << textOf(language, text::kTotalCostFact, u16str(money(language, send->totalCost)));
    if (keeping.repeats != 0)
        facts << textOf(language, text::kReportRepeats, static_cast<int>(keeping.repeats));
    if (!keeping.reason.empty())
        facts << textOf(language, text::kReportNotSent, keeping.reason);
    if (keeping.document == KeptDocument::Removed || keeping.document == KeptDocument::NotKept)
        facts << textOf(language, text::kDocumentNotKept);
    summary_->setWordWrap(true);
    summary_->setText(facts.join(QStringLiteral(" · ")));
    for (const JournalDestination& d : send->destinations) {
        // A destination never sent says why; a final one gives the service's
        // code beside its wording, unless the two are the same ("OK").
        const QString status = !d.sent  ? qstr(ReportStatusText(language, d))
                               : d.final ? qstr(StatusWithCode(d.statusText, d.statusCode))
                                         : textOf(language, text::kUnderWay);
        auto* item =
            new QTreeWidgetItem(details_, {qstr(d.number), qstr(d.name), status,
                                           money(language, d.cost), localTime(d.lastChecked)});
        item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    }
}

void SentFaxesWindow::viewDocument() {
    const std::int64_t id = currentSend();
    const auto send = id ? journal_.send(id) : std::nullopt;
    if (!send || journal_.keeping(id).document != KeptDocument::Kept)
        return;
    ShowInPreviewWindow(this, paths_.state->language,
                        QString::fromStdString(KeptDocumentPath(journal_, id).string()),
                        qstr(send->title), &paths_.state->settings.previewWindowPlace);
}

bool SentFaxesWindow::saveReport(const QString& file) {
    const std::int64_t id = currentSend();
    const auto send = id ? journal_.send(id) : std::nullopt;
    if (!send)
        return false;
    const JournalKeeping keeping = journal_.keeping(id);
    std::string error;
    const bool written = WriteTransmissionReport(
        *send, keeping,
        keeping.document == KeptDocument::Kept ? KeptDocumentPath(journal_, id)
                                               : std::filesystem::path(),
        paths_.state->language, file.toStdString(), error);
    status_->setText(written ? textOf(paths_.state->language, text::kSendsWritten, u16str(file), 1)
                             : textOf(paths_.state->language, text::kFileNotWritten, u16str(file)));
    return written;
}

void SentFaxesWindow::reportWithDialog() {
    const LanguageTable& language = paths_.state->language;
    std::u16string& folder = paths_.state->settings.lastExportDir;
    const QString file = QFileDialog::getSaveFileName(
        this, textOf(language, text::kSaveReportPdf).remove(QLatin1Char('&')),
        QDir(FileDialogFolder(folder))
            .filePath(QStringLiteral("transmission-report-%1.pdf").arg(currentSend())),
        textOf(language, text::kPdfFilesFilter));
    if (file.isEmpty())
        return;
    RememberFileDialogFolder(folder, file);
    saveReport(file);
}

void SentFaxesWindow::sendAgain(bool failedOnly) {
    const std::int64_t id = currentSend();
    if (id == 0 || workerRunning())
        return;
    SendAgain(paths_, journal_, id, failedOnly, this);
    // The new send is a record of its own.
    model_->reload();
    if (model_->rowCount() > 0)
        table_->selectRow(0);
}

void SentFaxesWindow::refresh() {
    if (workerRunning())
        return;
    refresh_->setEnabled(false);
    status_->setText(textOf(paths_.state->language, text::kAskingAboutUnfinished));
    const std::filesystem::path path = journal_.path();
    std::shared_ptr<AppState> state = RefreshState(*paths_.state);
    startWorker([this, path, state](WorkerReport& report) {
        Journal journal(path);
        // The pauses between requests end early once the window closes.
        refreshed_ = RefreshUnfinished(journal, *state, report, 0);
    });
}

void SentFaxesWindow::workerBeginProgress(int maximum) {
    progress_->setRange(0, maximum);
    progress_->setValue(0);
    progress_->setVisible(maximum > 0);
}

void SentFaxesWindow::workerStepProgress() {
    progress_->setValue(progress_->value() + 1);
}

void SentFaxesWindow::workerEnded() {
    joinWorker();
    progress_->hide();
    refresh_->setEnabled(true);
    const LanguageTable& language = paths_.state->language;
    switch (refreshed_.end) {
        case RefreshEnd::Done:
        case RefreshEnd::Stopped:
            status_->setText(textOf(language, text::kRefreshCounts, refreshed_.asked,
                                    refreshed_.changes.size()));
            break;
        case RefreshEnd::NoCredentials:
            status_->setText(textOf(language, text::kCredentialsMissing));
            break;
        case RefreshEnd::CredentialsRefused:
            status_->setText(textOf(language, text::kCredentialsRefused));
            break;
        case RefreshEnd::Unreachable:
            status_->setText(textOf(language, text::kServiceUnreachable));
            break;
    }
    const std::int64_t current = model_->sendId(table_->currentIndex().row());
    model_->reload();
    const auto& ids = model_->sendIds();
    const auto found = std::find(ids.begin(), ids.end(), current);
    if (found != ids.end())
        table_->selectRow(static_cast<int>(found - ids.begin()));
}

bool SentFaxesWindow::exportTo(const QString& file, bool selectedOnly) {
    std::vector<std::int64_t> ids;
    if (selectedOnly) {
        for (const QModelIndex& index : table_->selectionModel()->selectedRows())
            ids.push_back(model_->sendId(index.row()));
    } else {
        ids = model_->sendIds();
    }
    const std::string csv = JournalCsv(journal_.sends(ids));
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
        !out.commit()) {
        status_->setText(textOf(paths_.state->language, text::kFileNotWritten, u16str(file)));
        return false;
    }
    status_->setText(textOf(paths_.state->language, text::kSendsWritten, u16str(file), ids.size()));
    return true;
}

void SentFaxesWindow::exportWithDialog(bool selectedOnly) {
    const LanguageTable& language = paths_.state->language;
    std::u16string& folder = paths_.state->settings.lastExportDir;
    const QString file = QFileDialog::getSaveFileName(
        this, textOf(language, text::kExportSentFaxes),
        QDir(FileDialogFolder(folder)).filePath(QStringLiteral("sent-faxes.csv")),
        textOf(language, text::kCsvFilesFilter) + QStringLiteral(" (*.csv)"));
    if (file.isEmpty())
        return;
    RememberFileDialogFolder(folder, file);
    exportTo(file, selectedOnly);
}

void TellIfJournalMovedAside(const LanguageTable& language, QWidget* owner) {
    const Journal journal;
    if (!journal.movedAside().empty())
        QMessageBox::warning(owner, textOf(language, text::kSentFaxes),
                             MovedAsideText(language, journal));
}

int RunSentFaxesWindow(AppPaths& paths, QWidget* owner) {
    SentFaxesWindow window(paths, owner);
    std::u16string& place = paths.state->settings.sentFaxesWindowPlace;
    ApplyPlacement(&window, place);
    QObject::connect(&window, &QDialog::finished, &window,
                     [&window, &place] { place = PlacementOf(&window); });
    return window.exec();
}

}  // namespace miravo::ui
