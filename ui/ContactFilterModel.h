// The contact book's rows as the search field and the column headers want
// them: only the records whose number, name or group holds the searched
// text (ignoring case), in the order of the column the user sorts by. The
// text searched in is folded once per record, so that a keystroke in a
// book of a hundred thousand records costs one pass of plain comparisons.
#pragma once

#include <QSortFilterProxyModel>
#include <QString>
#include <vector>

namespace miravo::ui {

class ContactBookModel;

class ContactFilterModel : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    explicit ContactFilterModel(ContactBookModel& book, QObject* parent = nullptr);

    // Shows only the records that hold `text`; empty shows all.
    void setSearchText(const QString& text);
    QString searchText() const { return needle_; }

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

  private:
    // Folds the searched fields of every record again (after the book changed).
    void rebuild() const;

    ContactBookModel& book_;
    QString needle_;
    mutable std::vector<QString> haystack_;
    mutable bool stale_ = true;
};

}  // namespace miravo::ui
