#include "ui/DestinationDetails.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/LanguageTable.h"
#include "service/ServiceTexts.h"
#include "ui/DialogControls.h"
#include "ui/TextIds.h"

namespace miravo::ui {

namespace {

QStringList headers(const LanguageTable& language) {
    QStringList out;
    for (int id : {text::kNumber, text::kNameHeader, text::kStatusHeader, text::kCostHeader})
        out << qstr(GetText(language, id));
    return out;
}

}  // namespace

std::vector<DetailRow> DestinationDetails(const LanguageTable& language,
                                          const std::vector<DestinationStatus>& destinations) {
    const std::u16string currency = GetText(language, text::kCurrency);
    std::vector<DetailRow> rows;
    rows.reserve(destinations.size());
    for (const DestinationStatus& d : destinations) {
        const std::u16string status = d.notSent ? GetText(language, text::kDestinationNotSent)
                                                : FaxStatusText(language, d.status);
        rows.push_back({qstr(d.recipient), qstr(d.name), qstr(status),
                        d.notSent ? QString() : qstr(MoneyText(DecimalValue(d.cost), currency))});
    }
    return rows;
}

QString DetailsText(const LanguageTable& language, const std::vector<DetailRow>& rows) {
    QString text = headers(language).join('\t') + '\n';
    for (const DetailRow& r : rows)
        text += QStringList{r.number, r.name, r.status, r.cost}.join('\t') + '\n';
    return text;
}

DestinationDetailsPanel::DestinationDetailsPanel(const LanguageTable& language, QWidget* parent)
    : QWidget(parent), language_(language) {
    setObjectName(QStringLiteral("destinationDetails"));
    toggle_ = new QToolButton(this);
    toggle_->setObjectName(QStringLiteral("destinationDetailsToggle"));
    toggle_->setText(qstr(GetText(language, text::kDestinationDetails)));
    toggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle_->setArrowType(Qt::RightArrow);
    toggle_->setCheckable(true);
    toggle_->setAutoRaise(true);
    copy_ = new QPushButton(qstr(GetText(language, text::kCopy)), this);
    copy_->setObjectName(QStringLiteral("destinationDetailsCopy"));
    copy_->setAutoDefault(false);
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels(headers(language));
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto* top = new QHBoxLayout;
    top->addWidget(toggle_);
    top->addStretch(1);
    top->addWidget(copy_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(list_);
    unfold(false);

    connect(toggle_, &QToolButton::toggled, this, [this](bool on) { unfold(on); });
    connect(copy_, &QPushButton::clicked, this, [this] { copy(); });
}

void DestinationDetailsPanel::setRows(std::vector<DetailRow> rows) {
    rows_ = std::move(rows);
    list_->clear();
    for (const DetailRow& r : rows_)
        list_->addTopLevelItem(new QTreeWidgetItem({r.number, r.name, r.status, r.cost}));
}

bool DestinationDetailsPanel::unfolded() const {
    return list_->isVisibleTo(this);
}

void DestinationDetailsPanel::unfold(bool on) {
    toggle_->setChecked(on);
    toggle_->setArrowType(on ? Qt::DownArrow : Qt::RightArrow);
    list_->setVisible(on);
    copy_->setVisible(on);
    emit foldChanged();
}

void DestinationDetailsPanel::copy() const {
    QGuiApplication::clipboard()->setText(DetailsText(language_, rows_));
}

}  // namespace miravo::ui
