#include "ui/ContactFilterModel.h"

#include "app/Text.h"
#include "ui/ContactBookModel.h"
#include "ui/DialogControls.h"

namespace miravo::ui {

ContactFilterModel::ContactFilterModel(ContactBookModel& book, QObject* parent)
    : QSortFilterProxyModel(parent), book_(book) {
    setSourceModel(&book);
    setSortCaseSensitivity(Qt::CaseInsensitive);
    // Any change of the book's rows folds the searched texts again.
    connect(&book, &QAbstractItemModel::modelReset, this, [this] { stale_ = true; });
    connect(&book, &QAbstractItemModel::layoutChanged, this, [this] { stale_ = true; });
    connect(&book, &QAbstractItemModel::rowsInserted, this, [this] { stale_ = true; });
    connect(&book, &QAbstractItemModel::rowsRemoved, this, [this] { stale_ = true; });
    // A ticked box changes nothing that is searched.
    connect(&book, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
                if (roles != QList<int>{Qt::CheckStateRole})
                    stale_ = true;
            });
}

void ContactFilterModel::setSearchText(const QString& text) {
    const QString folded = text.trimmed().toCaseFolded();
    if (folded == needle_)
        return;
    needle_ = folded;
    // One reset of the mapping costs far less than the removals and
    // insertions of many scattered rows that an incremental filter reports.
    invalidate();
}

void ContactFilterModel::rebuild() const {
    const int rows = book_.rowCount();
    haystack_.assign(static_cast<std::size_t>(rows), QString());
    for (int row = 0; row < rows; ++row) {
        const Contact* contact = book_.record(row);
        if (!contact)
            continue;
        // A separator no typed text holds keeps two fields from matching as one.
        haystack_[static_cast<std::size_t>(row)] =
            (qstr(contact->number) + QChar(0x1f) + qstr(contact->name) + QChar(0x1f) +
             qstr(contact->groupname))
                .toCaseFolded();
    }
    stale_ = false;
}

bool ContactFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    if (needle_.isEmpty())
        return true;
    if (stale_ || haystack_.size() != static_cast<std::size_t>(book_.rowCount()))
        rebuild();
    return sourceRow >= 0 && static_cast<std::size_t>(sourceRow) < haystack_.size() &&
           haystack_[static_cast<std::size_t>(sourceRow)].contains(needle_);
}

}  // namespace miravo::ui
