// The contact book as the list of dialog 112 shows it: one row for every
// record that is not deleted, in book order, so row i always stands for the
// i-th such record. Columns: number (a group's member count), name (a
// group's name), the edit icon and the delete icon; groups have no icons.
// Every row carries a check box, which only the dialog's Send reads.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <list>
#include <vector>

#include "app/Contact.h"

namespace miravo {
class LanguageTable;
}

namespace miravo::ui {

class ContactBookModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { NumberColumn, NameColumn, EditColumn, DeleteColumn, ColumnCount };

    // Shows no rows until the first refill().
    ContactBookModel(ContactBook& book, const LanguageTable& language, QObject* parent = nullptr);

    // Rebuilds the rows from the book, all unchecked. Returns whether the
    // book holds a record the service has not received (state other than
    // Synced), deleted ones included.
    bool refill();

    // The record of row `row`; null when there is none.
    Contact* record(int row);
    const Contact* record(int row) const;

    // Appends `contact` to the book and a row for it.
    void append(Contact contact);
    // Row `row` shows its record again after the record was changed.
    void recordChanged(int row);
    // Deletes the record of row `row` from the list: a record the service
    // does not know (id "0") leaves the book at once, any other one stays
    // in it, marked Deleted, until synchronisation sends the deletion.
    // False when the row is not a single contact.
    bool removeSingle(int row);

    // Copies of the records whose rows are checked, in row order.
    std::vector<Contact> checkedRecords() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    ContactBook& book_;
    const LanguageTable& language_;
    std::vector<std::list<Contact>::iterator> rows_;
    std::vector<bool> checked_;
    QIcon editIcon_;
    QIcon deleteIcon_;
};

}  // namespace miravo::ui
