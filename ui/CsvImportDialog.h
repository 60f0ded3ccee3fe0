// The CSV import dialog (114): shows the fields of a CSV text's header
// line, lets the user set the delimiter (or tick "Tab is CSV delimiter")
// and tick the one field that holds the fax numbers. The delimiter lives
// in the DELIMITER setting, which the dialog changes as it goes; the data
// lines are read afterwards by the mass-fax list with the chosen field.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QCheckBox;
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

    // The ticked field, counted from 1, once the dialog has ended with OK;
    // nothing when no field was ticked.
    std::optional<std::size_t> field() const { return field_; }
    QTreeWidget* list() const;

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
    void itemChanged(QTreeWidgetItem* item);

    AppPaths& paths_;
    std::unique_ptr<Ui::CsvImportDialog> ui_;
    std::u16string text_;
    std::optional<std::size_t> field_;
    bool filling_ = false;
};

struct CsvImportChoice {
    int result = kCsvImportCancelled;  // 1 after OK
    std::optional<std::size_t> field;  // the ticked field after OK
};

// Opens dialog 114 modally over the whole text of a CSV file.
CsvImportChoice RunCsvImportDialog(AppPaths& paths, std::u16string_view text, QWidget* owner);

}  // namespace miravo::ui
