#include "ui/SentFaxesWindow.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDialogButtonBox>
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
#include <QVBoxLayout>
#include <algorithm>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "journal/JournalCsv.h"
#include "ui/DialogControls.h"
#include "ui/SentFaxesModel.h"

namespace miravo::ui {

namespace {

constexpr int kTextCurrency = 32;

QString money(double amount, const QString& currency) {
    return QStringLiteral("%1 %2").arg(amount, 0, 'f', 2).arg(currency);
}

QString MovedAsideText(const Journal& journal) {
    return SentFaxesWindow::tr("The journal of sent faxes could not be read; it was kept as %1 "
                               "and a new one started.")
        .arg(QString::fromStdString(journal.movedAside().string()));
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
    setWindowTitle(tr("Sent faxes"));
    const QString currency = qstr(GetText(paths_.state->language, kTextCurrency));
    model_ = new SentFaxesModel(journal_, currency, this);

    search_ = new QLineEdit(this);
    search_->setPlaceholderText(tr("Search numbers, names and documents"));
    search_->setClearButtonEnabled(true);

    table_ = new QTableView(this);
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    // Fixed heights and widths: nothing measures all rows.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    QHeaderView* header = table_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    const int widths[] = {125, 180, 230, 50, 150, 90};
    for (int c = 0; c < SentFaxesModel::ColumnCount; ++c)
        header->resizeSection(c, widths[c]);
    header->setSectionResizeMode(SentFaxesModel::DestinationsColumn, QHeaderView::Stretch);

    summary_ = new QLabel(this);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    details_ = new QTreeWidget(this);
    details_->setRootIsDecorated(false);
    details_->setHeaderLabels(
        {tr("Number"), tr("Name"), tr("Status"), tr("Cost"), tr("Last checked")});
    details_->header()->resizeSection(0, 140);
    details_->header()->resizeSection(1, 160);
    details_->header()->resizeSection(2, 170);
    auto* detailPane = new QWidget(this);
    auto* detailLayout = new QVBoxLayout(detailPane);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->addWidget(summary_);
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
    refresh_ = buttons->addButton(tr("Refresh"), QDialogButtonBox::ActionRole);
    QPushButton* exportSelected = buttons->addButton(tr("Export selected…"), QDialogButtonBox::ActionRole);
    QPushButton* exportAll = buttons->addButton(tr("Export all…"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(search_);
    layout->addWidget(splitter, 1);
    layout->addWidget(progress_);
    layout->addWidget(status_);
    layout->addWidget(buttons);
    resize(900, 560);

    connect(search_, &QLineEdit::textChanged, model_, &SentFaxesModel::setSearch);
    connect(model_, &QAbstractItemModel::modelReset, this, &SentFaxesWindow::showDetails);
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &SentFaxesWindow::showDetails);
    connect(refresh_, &QPushButton::clicked, this, &SentFaxesWindow::refresh);
    connect(exportSelected, &QPushButton::clicked, this, [this] { exportWithDialog(true); });
    connect(exportAll, &QPushButton::clicked, this, [this] { exportWithDialog(false); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    if (!journal_.isOpen())
        status_->setText(tr("The journal %1 cannot be opened.")
                             .arg(QString::fromStdString(journal_.path().string())));
    else if (!journal_.movedAside().empty())
        status_->setText(MovedAsideText(journal_));
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

void SentFaxesWindow::showDetails() {
    details_->clear();
    summary_->clear();
    const std::int64_t id = model_->sendId(table_->currentIndex().row());
    const auto send = id ? journal_.send(id) : std::nullopt;
    if (!send)
        return;
    const QString currency = qstr(GetText(paths_.state->language, kTextCurrency));
    QStringList facts = {qstr(send->title), tr("fax %1").arg(qstr(send->faxId)),
                         tr("%n page(s)", nullptr, send->pages)};
    if (send->cover)
        facts << tr("with cover page");
    if (send->reportOptions == u"YES")
        facts << tr("report with the document");
    else if (send->reportOptions == u"NO")
        facts << tr("report");
    else if (send->reportOptions == u"NOT_AT_ALL")
        facts << tr("no report");
    facts << tr("estimated %1").arg(money(send->estimatedCost, currency))
          << tr("total %1").arg(money(send->totalCost, currency));
    summary_->setText(facts.join(QStringLiteral(" · ")));
    for (const JournalDestination& d : send->destinations) {
        const QString status = d.final ? qstr(d.statusText) + QStringLiteral(" [%1]").arg(qstr(d.statusCode))
                                       : tr("under way");
        auto* item = new QTreeWidgetItem(details_, {qstr(d.number), qstr(d.name), status,
                                                    money(d.cost, currency),
                                                    localTime(d.lastChecked)});
        item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    }
}

void SentFaxesWindow::refresh() {
    if (workerRunning())
        return;
    refresh_->setEnabled(false);
    status_->setText(tr("Asking the service about the faxes that are not final…"));
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
    switch (refreshed_.end) {
        case RefreshEnd::Done:
        case RefreshEnd::Stopped:
            status_->setText(tr("%1 fax(es) asked about, %2 status(es) changed.")
                                 .arg(refreshed_.asked)
                                 .arg(refreshed_.changes.size()));
            break;
        case RefreshEnd::NoCredentials:
            status_->setText(tr("Enter the user name and password in Options first."));
            break;
        case RefreshEnd::CredentialsRefused:
            status_->setText(tr("The service did not accept the user name and password."));
            break;
        case RefreshEnd::Unreachable:
            status_->setText(tr("The fax service cannot be reached."));
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
        status_->setText(tr("%1 could not be written.").arg(file));
        return false;
    }
    status_->setText(tr("%1 send(s) written to %2.").arg(ids.size()).arg(file));
    return true;
}

void SentFaxesWindow::exportWithDialog(bool selectedOnly) {
    const QString file = QFileDialog::getSaveFileName(this, tr("Export sent faxes"),
                                                      QStringLiteral("sent-faxes.csv"),
                                                      tr("CSV files (*.csv)"));
    if (!file.isEmpty())
        exportTo(file, selectedOnly);
}

void TellIfJournalMovedAside(QWidget* owner) {
    const Journal journal;
    if (!journal.movedAside().empty())
        QMessageBox::warning(owner, SentFaxesWindow::tr("Sent faxes"), MovedAsideText(journal));
}

int RunSentFaxesWindow(AppPaths& paths, QWidget* owner) {
    SentFaxesWindow window(paths, owner);
    return window.exec();
}

}  // namespace miravo::ui
