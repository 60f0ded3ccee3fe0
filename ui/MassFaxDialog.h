// The mass-fax list dialog (113): edits the numbers a mass fax goes to.
// Numbers are typed one at a time, taken from the contact book, pasted
// from the clipboard or read from a text or CSV file (a CSV file through
// the CSV import dialog). The dialog works on its own rows; only OK
// rewrites the recipients of the send.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

#include "ui/Dialogs.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace Ui {
class MassFaxDialog;
}

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

class MassFaxModel;

inline constexpr int kMassFaxCancelled = 1029;
inline constexpr int kMassFaxEscaped = 2;

// How Add from file asks for the file: the chosen path, or an empty text
// when the user cancelled. `folder` is where to start; `filter` names the
// list files offered, in the user's language.
using MassFaxFileChooser =
    std::function<QString(QWidget* owner, const QString& folder, const QString& filter)>;

// Replaces the chooser (tests answer without a file dialog); an empty
// function restores the desktop's open-file dialog. Returns the previous
// chooser.
MassFaxFileChooser SetMassFaxFileChooser(MassFaxFileChooser chooser);

class MassFaxDialog : public QDialog {
    Q_OBJECT
  public:
    MassFaxDialog(AppPaths& paths, QWidget* parent = nullptr);
    ~MassFaxDialog() override;

    MassFaxModel* model() const { return model_; }
    QTreeView* list() const;

  protected:
    void accept() override;
    void reject() override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void keepNumbers();
    void showOnlyInvalid();
    QPushButton* okButton() const;
    QPushButton* cancelButton() const;
    QLineEdit* numberBox() const;
    QPushButton* addButton() const;
    QPushButton* addFromContactBookButton() const;
    QPushButton* addFromFileButton() const;
    QPushButton* addFromClipboardButton() const;

    void clicked(const QModelIndex& index);
    void addTyped();
    void addFromContactBook();
    void addFromClipboard();
    void addFromFile();
    void showAddedFrom(int firstRow);
    void layoutColumns();
    void buildCheckRow();
    void showCheck();

    AppPaths& paths_;
    std::unique_ptr<Ui::MassFaxDialog> ui_;
    MassFaxModel* model_ = nullptr;
    QLabel* checkCounts_ = nullptr;
    QPushButton* removeInvalid_ = nullptr;
    QPushButton* removeDuplicates_ = nullptr;
    QPushButton* international_ = nullptr;
    QCheckBox* onlyInvalid_ = nullptr;
};

}  // namespace miravo::ui
