#include "ui/WaitingJobsDialog.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/LanguageTable.h"
#include "ui/AccessibleNames.h"
#include "ui/DialogControls.h"
#include "ui/TextIds.h"

namespace miravo::ui {

namespace {

QString printedAt(std::int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

}  // namespace

WaitingJobsDialog::WaitingJobsDialog(const LanguageTable& language,
                                     std::vector<print::WaitingJob> jobs, DiscardJob discard,
                                     QWidget* parent)
    : QDialog(parent), jobs_(std::move(jobs)), discard_(std::move(discard)) {
    const auto textOf = [&language](int id) { return qstr(GetText(language, id)); };
    setObjectName(QStringLiteral("waitingJobs"));
    setWindowTitle(textOf(text::kWaitingJobsTitle));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(textOf(text::kWaitingJobsExplained), this));
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("jobs"));
    list_->setHeaderLabels({textOf(text::kWaitingJobsTitleHeader),
                            textOf(text::kWaitingJobsPagesHeader),
                            textOf(text::kWaitingJobsPrintedHeader)});
    list_->setRootIsDecorated(false);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (const print::WaitingJob& job : jobs_) {
        auto* row = new QTreeWidgetItem({QString::fromStdString(job.title),
                                         job.pages > 0 ? QString::number(job.pages) : QString(),
                                         printedAt(job.printed)});
        row->setTextAlignment(1, Qt::AlignRight);
        list_->addTopLevelItem(row);
    }
    list_->setCurrentItem(list_->topLevelItem(0));
    layout->addWidget(list_);

    auto* buttons = new QDialogButtonBox(this);
    convert_ = buttons->addButton(textOf(text::kWaitingJobsConvert), QDialogButtonBox::AcceptRole);
    convert_->setObjectName(QStringLiteral("convert"));
    discardButton_ =
        buttons->addButton(textOf(text::kWaitingJobsDiscard), QDialogButtonBox::DestructiveRole);
    discardButton_->setObjectName(QStringLiteral("discard"));
    buttons->addButton(textOf(text::kWaitingJobsLater), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("later"));
    layout->addWidget(buttons);
    connect(convert_, &QPushButton::clicked, this, &WaitingJobsDialog::convertSelected);
    connect(discardButton_, &QPushButton::clicked, this, &WaitingJobsDialog::discardSelected);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &WaitingJobsDialog::convertSelected);
    resize(520, 280);
    ApplyAccessibleNames(this, language);
}

int WaitingJobsDialog::selectedIndex() const {
    QTreeWidgetItem* item = list_->currentItem();
    return item ? list_->indexOfTopLevelItem(item) : -1;
}

void WaitingJobsDialog::convertSelected() {
    const int index = selectedIndex();
    if (index < 0)
        return;
    chosen_ = jobs_[static_cast<std::size_t>(index)].jobFile;
    accept();
}

void WaitingJobsDialog::discardSelected() {
    const int index = selectedIndex();
    if (index < 0)
        return;
    discard_(jobs_[static_cast<std::size_t>(index)]);
    jobs_.erase(jobs_.begin() + index);
    delete list_->takeTopLevelItem(index);
    if (jobs_.empty())
        reject();
}

std::optional<std::filesystem::path> OfferWaitingJobs(const LanguageTable& language,
                                                      std::vector<print::WaitingJob> jobs,
                                                      DiscardJob discard) {
    if (jobs.empty())
        return std::nullopt;
    WaitingJobsDialog dialog(language, std::move(jobs), std::move(discard));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosen();
}

}  // namespace miravo::ui
