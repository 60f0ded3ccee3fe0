#include "ui/MassFaxModel.h"

#include "app/NumberCheck.h"

#include <QColor>

#include "app/LanguageTable.h"
#include "ui/DialogControls.h"
#include "ui/Icons.h"
#include "ui/TextIds.h"

namespace miravo::ui {


MassFaxModel::MassFaxModel(const LanguageTable& language, QObject* parent)
    : QAbstractTableModel(parent), language_(language), deleteIcon_(DeleteIcon()) {}

namespace {

bool marked(const std::vector<char>& flags, int row) {
    return row >= 0 && static_cast<std::size_t>(row) < flags.size() &&
           flags[static_cast<std::size_t>(row)] != 0;
}

}  // namespace

std::size_t MassFaxModel::showAdded() {
    // The list only ever grows at its end, and by how much is known only
    // once its rule has run: the view learns of all new rows at once, and
    // until then the model shows the rows it had.
    const std::size_t added = list_.size() - shown_;
    if (added == 0)
        return 0;
    beginInsertRows({}, static_cast<int>(shown_), static_cast<int>(list_.size() - 1));
    shown_ = list_.size();
    endInsertRows();
    recheck();
    return added;
}

void MassFaxModel::recheck() {
    if (region_.empty())
        return;
    check_ = CheckNumberList(list_.rows(), region_, &verdicts_);
    if (shown_ > 0)
        emit dataChanged(index(0, NumberColumn), index(static_cast<int>(shown_) - 1, NumberColumn),
                         {Qt::ForegroundRole, Qt::ToolTipRole, Qt::FontRole});
    emit checked();
}

void MassFaxModel::setRegion(std::u16string region) {
    if (region != region_)
        verdicts_.clear();
    region_ = std::move(region);
    recheck();
}

void MassFaxModel::reset(const std::function<std::size_t()>& change, std::size_t& result) {
    beginResetModel();
    result = change();
    shown_ = list_.size();
    endResetModel();
    recheck();
}

std::size_t MassFaxModel::removeInvalid() {
    std::size_t removed = 0;
    const std::vector<char> drop = check_.invalid;
    reset([&] { return list_.removeMarked(drop); }, removed);
    return removed;
}

std::size_t MassFaxModel::removeDuplicates() {
    std::size_t removed = 0;
    const std::vector<char> drop = check_.duplicate;
    reset([&] { return list_.removeMarked(drop); }, removed);
    return removed;
}

std::size_t MassFaxModel::writeInternational() {
    std::size_t changed = 0;
    reset([&] { return list_.writeInternational(region_); }, changed);
    return changed;
}

bool MassFaxModel::add(std::u16string_view number) {
    list_.add(number);
    return showAdded() != 0;
}

std::size_t MassFaxModel::appendRecords(const std::vector<Contact>& records) {
    list_.appendRecords(records);
    return showAdded();
}

std::size_t MassFaxModel::addLines(std::u16string_view text, std::size_t field,
                                   char16_t delimiter) {
    list_.addLines(text, field, delimiter);
    return showAdded();
}

std::size_t MassFaxModel::addCsvRows(std::u16string_view text, char16_t delimiter,
                                     const CsvColumns& columns) {
    AddCsvRows(list_, text, delimiter, columns);
    return showAdded();
}

std::size_t MassFaxModel::addCsvData(std::u16string_view text, std::optional<std::size_t> field,
                                     std::u16string_view delimiterSetting) {
    AddCsvData(list_, text, field, delimiterSetting);
    return showAdded();
}

bool MassFaxModel::remove(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= shown_)
        return false;
    beginRemoveRows({}, row, row);
    list_.remove(static_cast<std::size_t>(row));
    shown_ = list_.size();
    endRemoveRows();
    recheck();
    const int last = static_cast<int>(shown_) - 1;
    if (row <= last)
        emit dataChanged(index(row, PositionColumn), index(last, PositionColumn),
                         {Qt::DisplayRole});
    return true;
}

int MassFaxModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_);
}

int MassFaxModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MassFaxModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= shown_)
        return {};
    switch (role) {
        case Qt::DisplayRole:
            if (index.column() == PositionColumn)
                return QString::number(index.row() + 1);
            if (index.column() == NumberColumn)
                return qstr(list_.rows()[static_cast<std::size_t>(index.row())]);
            return {};
        case Qt::DecorationRole:
            return index.column() == DeleteColumn ? QVariant(deleteIcon_) : QVariant();
        case Qt::ToolTipRole:
            if (index.column() == NumberColumn && marked(check_.invalid, index.row())) {
                // A real number written with letters: what mends it.
                const std::u16string& number = list_.rows()[static_cast<std::size_t>(index.row())];
                return ServiceTakesNumber(number)
                           ? qstr(GetText(language_, text::kInvalidNumberHint, region_))
                           : qstr(GetText(language_, text::kNumberServiceRefuses, number));
            }
            if (index.column() == NumberColumn)  // the name the number came with, if any
                if (const std::u16string name =
                        list_.nameOf(list_.rows()[static_cast<std::size_t>(index.row())]);
                    !name.empty())
                    return qstr(name);
            return index.column() == DeleteColumn
                       ? QVariant(qstr(GetText(language_, text::kDelete)))
                       : QVariant();
        case Qt::AccessibleTextRole:  // the icon cells speak as their tool tip reads
            return index.column() == DeleteColumn
                       ? QVariant(qstr(GetText(language_, text::kDelete)))
                       : QVariant();
        case Qt::ForegroundRole:
            if (index.column() == NumberColumn && marked(check_.invalid, index.row()))
                return QColor(Qt::red);
            if (index.column() == NumberColumn && marked(check_.duplicate, index.row()))
                return QColor(Qt::gray);
            return {};
        default:
            return {};
    }
}

QVariant MassFaxModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    // The first column counts the rows: it is no number to dial.
    if (section == PositionColumn)
        return QStringLiteral("#");
    static constexpr int texts[ColumnCount] = {text::kNumber, text::kDestinationNumber,
                                               text::kDelete};
    if (section < 0 || section >= ColumnCount)
        return {};
    return qstr(GetText(language_, texts[section]));
}

Qt::ItemFlags MassFaxModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

}  // namespace miravo::ui
