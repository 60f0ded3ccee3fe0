// Asked when documents are printed while a fax is open: add them to an
// open fax (chosen from the list when several are open) or make a new fax
// of them. Escape makes a new fax: nothing printed is lost either way.
#pragma once

#include <QDialog>
#include <cstddef>
#include <optional>
#include <vector>

#include "ui/OpenFaxOffer.h"

class QListWidget;
class QPushButton;

namespace miravo {
class LanguageTable;
}

namespace miravo::ui {

class OpenFaxChoiceDialog : public QDialog {
    Q_OBJECT
  public:
    // Texts from `language`; the first fax is chosen at first.
    OpenFaxChoiceDialog(const LanguageTable& language, const std::vector<OpenFaxOnBus>& faxes,
                        QWidget* parent = nullptr);

    // The fax to add to once accepted; none for a new fax.
    std::optional<std::size_t> chosen() const { return chosen_; }

    QListWidget* list() const { return list_; }

  private:
    void addToChosen();

    QListWidget* list_ = nullptr;
    QPushButton* add_ = nullptr;
    std::optional<std::size_t> chosen_;
};

// Runs the dialog: the fax to add to, or none for a new fax.
std::optional<std::size_t> ChooseOpenFaxInDialog(const LanguageTable& language,
                                                 const std::vector<OpenFaxOnBus>& faxes);

}  // namespace miravo::ui
