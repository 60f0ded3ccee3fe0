// The CSV import dialog (114): shows the fields of a CSV text's header
// row with their first values and the first rows of the file, lets the
// user set the delimiter (the one the file is written with is found on
// opening; "Tab is CSV delimiter" ticks the tab), tick every field that
// holds fax numbers and choose the field that holds the names. The
// delimiter lives in the DELIMITER setting, which the dialog changes as it
// goes; the data rows are read afterwards by the mass-fax list.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "contacts/CsvImport.h"

class QCheckBox;
class QComboBox;
class QTableWidget;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace Ui {
class CsvImportDialog;
}

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

inline constexpr int kCsvImportAccepted = 1;
inline constexpr int kCsvImportCancelled = 1029;
inline constexpr int kCsvImportEscaped = 2;

class CsvImportDialog : public QDialog {
    Q_OBJECT
  public:
    CsvImportDialog(AppPaths& paths, std::u16string_view text, QWidget* parent = nullptr);
    ~CsvImportDialog() override;

    // The first ticked field, counted from 1, once the dialog has ended
    // with OK; nothing when no field was ticked.
    std::optional<std::size_t> field() const {
        return columns_.numbers.empty() ? std::nullopt
                                        : std::optional<std::size_t>(columns_.numbers.front());
    }
    // Every ticked field and the name field, once the dialog has ended with OK.
    const CsvColumns& columns() const { return columns_; }
    QTreeWidget* list() const;
    QComboBox* nameField() const;
    QTableWidget* preview() const;

  protected:
    void accept() override;
    void reject() override;

  private:
    QPushButton* okButton() const;
    QPushButton* cancelButton() const;
    QLineEdit* delimiterBox() const;
    QPushButton* refreshButton() const;
    QCheckBox* tabDelimiterBox() const;

    void fill();
    void tabToggled(bool checked);

    AppPaths& paths_;
    std::unique_ptr<Ui::CsvImportDialog> ui_;
    std::u16string text_;
    CsvColumns columns_;
};

struct CsvImportChoice {
    int result = kCsvImportCancelled;  // 1 after OK
    std::optional<std::size_t> field;  // the first ticked field after OK
    CsvColumns columns;                // every ticked field and the name field after OK
};

// Opens dialog 114 modally over the whole text of a CSV file.
CsvImportChoice RunCsvImportDialog(AppPaths& paths, std::u16string_view text, QWidget* owner);

}  // namespace miravo::ui
