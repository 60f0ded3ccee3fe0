// The sent-fax journal as a table: date, document, destinations, pages,
// outcome and cost, newest first, captioned in the loaded language. Only the
// ids of the matching sends are held; the lines are read from the journal a
// block at a time as the view asks for them, so a journal of any length
// opens and searches quickly.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <map>
#include <vector>

#include "journal/Journal.h"

namespace miravo {
class LanguageTable;
}

namespace miravo::ui {

class SentFaxesModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { DateColumn, DocumentColumn, DestinationsColumn, PagesColumn, OutcomeColumn,
                  CostColumn, ColumnCount };

    SentFaxesModel(const Journal& journal, const LanguageTable& language,
                   QObject* parent = nullptr);

    // Shows the sends matching `search` (numbers, names, titles).
    void setSearch(const QString& search);
    // Reads the journal again with the same search.
    void reload();

    // The send of row `row`; 0 when there is none.
    std::int64_t sendId(int row) const;
    const std::vector<std::int64_t>& sendIds() const { return ids_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    const JournalRow* line(int row) const;

    const Journal& journal_;
    const LanguageTable& language_;
    QString search_;
    std::vector<std::int64_t> ids_;
    // Blocks of lines read so far, by block number; dropped when too many.
    mutable std::map<int, std::vector<JournalRow>> blocks_;
};

// "2 OK, 1 failed, 1 under way".
QString OutcomeText(const LanguageTable& language, const JournalRow& row);

}  // namespace miravo::ui
