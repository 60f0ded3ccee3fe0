// The status window's list of every destination once the polling has
// ended: the window's rows show at most three destinations (or only "Mass
// fax list"), so this list tells which number got which outcome. It is
// folded until the user opens it, and can be copied as text.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "app/AppState.h"
#include "service/FaxTransmission.h"

class QTreeWidget;
class QToolButton;
class QPushButton;

namespace miravo {
class LanguageTable;
}

namespace miravo::ui {

struct DetailRow {
    QString number;
    QString name;
    QString status;
    QString cost;
};

// One row per destination of the send, in list order, with its name; a
// destination never sent says so.
std::vector<DetailRow> DestinationDetails(const LanguageTable& language,
                                          const std::vector<DestinationStatus>& destinations);

// The rows under a header line, tab-separated, one line each.
QString DetailsText(const LanguageTable& language, const std::vector<DetailRow>& rows);

class DestinationDetailsPanel : public QWidget {
    Q_OBJECT
  public:
    explicit DestinationDetailsPanel(const LanguageTable& language, QWidget* parent = nullptr);

    void setRows(std::vector<DetailRow> rows);
    bool unfolded() const;
    void unfold(bool on);
    // Puts the list on the clipboard.
    void copy() const;

  signals:
    void foldChanged();

  private:
    const LanguageTable& language_;
    std::vector<DetailRow> rows_;
    QToolButton* toggle_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QPushButton* copy_ = nullptr;
};

}  // namespace miravo::ui
