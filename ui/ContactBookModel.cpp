#include "ui/ContactBookModel.h"

#include "app/LanguageTable.h"
#include "ui/DialogControls.h"
#include "ui/Icons.h"
#include "ui/TextIds.h"

namespace miravo::ui {


ContactBookModel::ContactBookModel(ContactBook& book, const LanguageTable& language,
                                   QObject* parent)
    : QAbstractTableModel(parent),
      book_(book),
      language_(language),
      editIcon_(EditIcon()),
      deleteIcon_(DeleteIcon()) {}

bool ContactBookModel::refill() {
    beginResetModel();
    rows_.clear();
    bool unsent = false;
    for (auto it = book_.contacts.begin(); it != book_.contacts.end(); ++it) {
        if (it->state != Synced)
            unsent = true;
        if (it->state != Deleted)
            rows_.push_back(it);
    }
    checked_.assign(rows_.size(), false);
    endResetModel();
    return unsent;
}

Contact* ContactBookModel::record(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size())
        return nullptr;
    return &*rows_[static_cast<std::size_t>(row)];
}

const Contact* ContactBookModel::record(int row) const {
    return const_cast<ContactBookModel*>(this)->record(row);
}

void ContactBookModel::append(Contact contact) {
    const int row = static_cast<int>(rows_.size());
    beginInsertRows({}, row, row);
    book_.contacts.push_back(std::move(contact));
    rows_.push_back(std::prev(book_.contacts.end()));
    checked_.push_back(false);
    endInsertRows();
}

void ContactBookModel::recordChanged(int row) {
    if (record(row))
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

bool ContactBookModel::removeSingle(int row) {
    Contact* contact = record(row);
    if (!contact || contact->kind != Single)
        return false;
    const auto at = static_cast<std::size_t>(row);
    beginRemoveRows({}, row, row);
    if (contact->id == u"0")
        book_.contacts.erase(rows_[at]);
    else
        contact->state = Deleted;
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(at));
    checked_.erase(checked_.begin() + static_cast<std::ptrdiff_t>(at));
    endRemoveRows();
    return true;
}

std::vector<Contact> ContactBookModel::checkedRecords() const {
    std::vector<Contact> chosen;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (checked_[i])
            chosen.push_back(*rows_[i]);
    return chosen;
}

int ContactBookModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ContactBookModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ContactBookModel::data(const QModelIndex& index, int role) const {
    const Contact* contact = index.isValid() ? record(index.row()) : nullptr;
    if (!contact)
        return {};
    const bool group = contact->kind == Group;
    switch (role) {
        case Qt::DisplayRole:
            if (index.column() == NumberColumn)
                return group ? qstr(GetText(language_, text::kGroupMembers,
                                            static_cast<long long>(contact->members.size())))
                             : qstr(contact->number);
            if (index.column() == NameColumn)
                return qstr(group ? contact->groupname : contact->name);
            return {};
        case Qt::DecorationRole:
            if (group)
                return {};
            if (index.column() == EditColumn)
                return editIcon_;
            if (index.column() == DeleteColumn)
                return deleteIcon_;
            return {};
        case Qt::ToolTipRole:
        case Qt::AccessibleTextRole:  // the icon cells speak as their tool tip reads
            if (group)
                return {};
            if (index.column() == EditColumn)
                return qstr(GetText(language_, text::kEdit));
            if (index.column() == DeleteColumn)
                return qstr(GetText(language_, text::kDelete));
            return {};
        case Qt::CheckStateRole:
            if (index.column() != NumberColumn)
                return {};
            return checked_[static_cast<std::size_t>(index.row())] ? Qt::Checked : Qt::Unchecked;
        default:
            return {};
    }
}

bool ContactBookModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != NumberColumn || !record(index.row()))
        return false;
    checked_[static_cast<std::size_t>(index.row())] =
        value.value<Qt::CheckState>() != Qt::Unchecked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QVariant ContactBookModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static constexpr int texts[ColumnCount] = {text::kDestinationNumber, text::kNameOptional, text::kEdit,
                                               text::kDelete};
    if (section < 0 || section >= ColumnCount)
        return {};
    return qstr(GetText(language_, texts[section]));
}

Qt::ItemFlags ContactBookModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == NumberColumn)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

}  // namespace miravo::ui
