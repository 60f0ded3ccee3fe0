// The Add new contact dialog (111): one number and one name, for adding a
// contact to the book and for editing one. What is typed is taken
// unchanged, except that a number or name the contact file could not keep
// (one holding "," or a line break) is refused with a message and the
// dialog stays open.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <string>

class QLineEdit;
class QPushButton;

namespace Ui {
class AddContactDialog;
}

namespace miravo {
struct AppPaths;
class LanguageTable;
}

namespace miravo::ui {

inline constexpr int kAddContactAdded = 1071;
inline constexpr int kAddContactClosed = 1029;
inline constexpr int kAddContactEscaped = 2;

// The longest number or name the dialog takes: its text field's width less
// the terminator.
inline constexpr int kContactFieldLength = 259;

struct ContactEntry {
    std::u16string number;
    std::u16string name;
};

class AddContactDialog : public QDialog {
    Q_OBJECT
  public:
    AddContactDialog(AppPaths& paths, const ContactEntry& shown, QWidget* parent = nullptr);
    ~AddContactDialog() override;

    // What was typed, once the dialog has ended with Add.
    const ContactEntry& entry() const { return entry_; }

  protected:
    void reject() override;

  private:
    QLineEdit* nameBox() const;
    QPushButton* closeButton() const;
    QPushButton* addButton() const;
    QLineEdit* numberBox() const;

    void add();

    const LanguageTable& language_;
    std::unique_ptr<Ui::AddContactDialog> ui_;
    ContactEntry entry_;
};

// Opens dialog 111 modally with `shown` in its fields. Returns what was
// typed after Add when the number is not empty; nothing after Close,
// Escape or Add with an empty number (nothing is then to be done).
std::optional<ContactEntry> RunAddContactDialog(AppPaths& paths, const ContactEntry& shown,
                                                QWidget* owner);

}  // namespace miravo::ui
