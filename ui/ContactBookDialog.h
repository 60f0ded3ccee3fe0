// The contact book dialog (112): the local book as a list with check boxes,
// adding, editing and deleting single contacts, storing the book (Apply),
// synchronising it with the service, and handing the checked rows back as
// the chosen contacts (Send). The book is read from its file every time
// the dialog opens, so changes neither applied nor synchronised are gone
// at the next opening. An empty book is fetched from the service at once.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <filesystem>
#include <memory>

#include "ui/Dialogs.h"

class QLineEdit;
class QPushButton;
class QTreeView;

namespace Ui {
class ContactBookDialog;
}

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

class ContactBookModel;
class ContactFilterModel;

inline constexpr int kContactBookClosed = 1029;
inline constexpr int kContactBookEscaped = 2;

class ContactBookDialog : public QDialog {
    Q_OBJECT
  public:
    ContactBookDialog(AppPaths& paths, QWidget* parent = nullptr);
    ~ContactBookDialog() override;

    ContactBookModel* model() const { return model_; }
    ContactFilterModel* shownRows() const { return shownRows_; }
    QTreeView* list() const;
    // Adds a vCard file's contacts to the book as new contacts and tells
    // the user what came in; the buttons ask for the file first.
    void importContacts(const QString& file);
    // Writes the book's contacts to a vCard file and tells the user.
    void exportContacts(const QString& file);

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void reject() override;

  private:
    void addSearchField();
    // The book's row of a row of the list; -1 for none.
    int bookRow(const QModelIndex& shown) const;
    QPushButton* closeButton() const;
    QPushButton* sendButton() const;
    QPushButton* addContactButton() const;
    QPushButton* applyButton() const;
    QPushButton* syncButton() const;

    void fill();
    void clicked(const QModelIndex& index);
    void addContact();
    void editRow(int row);
    void deleteRow(int row);
    void changed();
    void apply();
    void sync();
    void send();
    void saveFailed();
    // Tells the user where a contact book file that did not read whole was
    // kept (nothing when `keptAside` is empty).
    void tellKeptAside(const std::filesystem::path& keptAside);
    void layoutColumns();
    void addTransferButtons();
    void tell(QMessageBox::Icon icon, const QString& objectName, const std::u16string& text);

    AppPaths& paths_;
    std::unique_ptr<Ui::ContactBookDialog> ui_;
    ContactBookModel* model_ = nullptr;
    ContactFilterModel* shownRows_ = nullptr;  // what the search and the sorting leave
    QLineEdit* search_ = nullptr;
    bool shown_ = false;
};

}  // namespace miravo::ui
