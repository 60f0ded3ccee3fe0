#include "ui/SentFaxesModel.h"

#include <QDateTime>

#include "app/LanguageTable.h"
#include "ui/DialogControls.h"
#include "ui/TextIds.h"

namespace miravo::ui {

namespace {

constexpr int kBlockRows = 128;
constexpr std::size_t kMaxBlocks = 64;

}  // namespace

QString OutcomeText(const LanguageTable& language, const JournalRow& row) {
    QStringList parts;
    if (row.delivered > 0)
        parts << qstr(GetText(language, text::kDeliveredCount, row.delivered));
    if (row.failed > 0)
        parts << qstr(GetText(language, text::kFailedCount, row.failed));
    if (row.pending > 0)
        parts << qstr(GetText(language, text::kUnderWayCount, row.pending));
    return parts.join(QStringLiteral(", "));
}

SentFaxesModel::SentFaxesModel(const Journal& journal, const LanguageTable& language,
                               QObject* parent)
    : QAbstractTableModel(parent), journal_(journal), language_(language) {
    ids_ = journal_.find({});
}

void SentFaxesModel::setSearch(const QString& search) {
    search_ = search;
    reload();
}

void SentFaxesModel::reload() {
    beginResetModel();
    ids_ = journal_.find({u16str(search_), 0});
    blocks_.clear();
    endResetModel();
}

std::int64_t SentFaxesModel::sendId(int row) const {
    return row >= 0 && static_cast<std::size_t>(row) < ids_.size() ? ids_[row] : 0;
}

const JournalRow* SentFaxesModel::line(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= ids_.size())
        return nullptr;
    const int block = row / kBlockRows;
    auto found = blocks_.find(block);
    if (found == blocks_.end()) {
        if (blocks_.size() >= kMaxBlocks)
            blocks_.clear();
        const std::size_t first = static_cast<std::size_t>(block) * kBlockRows;
        const std::size_t last = std::min(ids_.size(), first + kBlockRows);
        std::vector<std::int64_t> ids(ids_.begin() + first, ids_.begin() + last);
        std::vector<JournalRow> rows = journal_.rows(ids);
        // A send gone since the ids were read leaves a hole: keep rows aligned.
        std::vector<JournalRow> aligned(ids.size());
        for (JournalRow& r : rows) {
            for (std::size_t i = 0; i < ids.size(); ++i) {
                if (ids[i] == r.id) {
                    aligned[i] = std::move(r);
                    break;
                }
            }
        }
        found = blocks_.emplace(block, std::move(aligned)).first;
    }
    const JournalRow& r = found->second[static_cast<std::size_t>(row % kBlockRows)];
    return r.id != 0 ? &r : nullptr;
}

int SentFaxesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(ids_.size());
}

int SentFaxesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SentFaxesModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole && role != Qt::TextAlignmentRole)
        return {};
    const JournalRow* r = line(index.row());
    if (!r)
        return {};
    if (role == Qt::TextAlignmentRole) {
        const bool number = index.column() == PagesColumn || index.column() == CostColumn;
        return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    switch (index.column()) {
        case DateColumn:
            return QDateTime::fromSecsSinceEpoch(r->sentAt).toString(
                QStringLiteral("yyyy-MM-dd HH:mm"));
        case DocumentColumn:
            return qstr(r->title);
        case DestinationsColumn:
            return qstr(r->destinations);
        case PagesColumn:
            return r->pages;
        case OutcomeColumn:
            return OutcomeText(language_, *r);
        case CostColumn:
            return QStringLiteral("%1 %2")
                .arg(r->totalCost, 0, 'f', 2)
                .arg(qstr(GetText(language_, text::kCurrency)));
        default:
            return {};
    }
}

QVariant SentFaxesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static constexpr int kHeaders[ColumnCount] = {text::kDateHeader,         text::kDocumentHeader,
                                                  text::kDestinationsHeader, text::kPagesHeader,
                                                  text::kOutcomeHeader,      text::kCostHeader};
    if (section < 0 || section >= ColumnCount)
        return {};
    return qstr(GetText(language_, kHeaders[section]));
}

}  // namespace miravo::ui
