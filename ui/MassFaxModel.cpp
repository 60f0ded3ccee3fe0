#include "ui/MassFaxModel.h"

#include "app/LanguageTable.h"
#include "ui/DialogControls.h"
#include "ui/Icons.h"
#include "ui/TextIds.h"

namespace miravo::ui {


MassFaxModel::MassFaxModel(const LanguageTable& language, QObject* parent)
    : QAbstractTableModel(parent), language_(language), deleteIcon_(DeleteIcon()) {}

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
    return added;
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
        case Qt::AccessibleTextRole:  // the icon cells speak as their tool tip reads
            return index.column() == DeleteColumn
                       ? QVariant(qstr(GetText(language_, text::kDelete)))
                       : QVariant();
        default:
            return {};
    }
}

QVariant MassFaxModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
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
