// The rows of the mass-fax list (dialog 113) as its list shows them:
// position (1 to the number of rows), number, delete icon. The rows and
// their rules live in MassFaxList; this model only shows them and tells
// the view what changed. Every addition reaches the view as one insertion
// of all its rows, so a list of 100,000 numbers fills at once.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <optional>
#include <string_view>
#include <vector>

#include "app/NumberCheck.h"
#include "contacts/MassFaxList.h"

#include <functional>

namespace miravo {
class LanguageTable;
}

namespace miravo::ui {

class MassFaxModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { PositionColumn, NumberColumn, DeleteColumn, ColumnCount };

    explicit MassFaxModel(const LanguageTable& language, QObject* parent = nullptr);

    const MassFaxList& list() const { return list_; }

    // The sources, each by the rule of MassFaxList of the same name; each
    // returns the rows added.
    bool add(std::u16string_view number);
    std::size_t appendRecords(const std::vector<Contact>& records);
    std::size_t addLines(std::u16string_view text, std::size_t field = 0,
                         char16_t delimiter = u',');
    // The numbers of the chosen fields of a CSV text's data rows, each
    // with the name its row gives (AddCsvRows).
    std::size_t addCsvRows(std::u16string_view text, char16_t delimiter, const CsvColumns& columns);
    std::size_t addCsvData(std::u16string_view text, std::optional<std::size_t> field,
                           std::u16string_view delimiterSetting);
    // Deletes row `row`; the rows after it are renumbered.
    bool remove(int row);

    // Number checking: the rows are checked for `region` whenever they
    // change; invalid numbers and repeats are marked.
    void setRegion(std::u16string region);
    const NumberListCheck& check() const { return check_; }
    // Deletes the invalid rows (or the repeated ones); the rows deleted.
    std::size_t removeInvalid();
    std::size_t removeDuplicates();
    // Rewrites the numbers in international form; the rows changed.
    std::size_t writeInternational();

  signals:
    // The rows were checked again (their counts may have changed).
    void checked();

  public:

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    std::size_t showAdded();
    void recheck();
    void reset(const std::function<std::size_t()>& change, std::size_t& result);

    const LanguageTable& language_;
    MassFaxList list_;
    std::size_t shown_ = 0;  // rows the view knows of
    QIcon deleteIcon_;
    std::u16string region_;
    NumberListCheck check_;
    NumberVerdictCache verdicts_;  // for region_
};

}  // namespace miravo::ui
