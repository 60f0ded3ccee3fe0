#include "ui/AddContactDialog.h"

#include <QMessageBox>
#include <QPushButton>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/LanguageTable.h"
#include "contacts/ContactStore.h"
#include "ui/DialogChrome.h"
#include "ui/DialogControls.h"
#include "ui/Icons.h"
#include "ui/TextIds.h"
#include "ui_AddContactDialog.h"

namespace miravo::ui {

QLineEdit* AddContactDialog::nameBox() const { return ui_->id1006; }
QPushButton* AddContactDialog::closeButton() const { return ui_->id1029; }
QPushButton* AddContactDialog::addButton() const { return ui_->id1071; }
QLineEdit* AddContactDialog::numberBox() const { return ui_->id1072; }

AddContactDialog::AddContactDialog(AppPaths& paths, const ContactEntry& shown, QWidget* parent)
    : QDialog(parent), language_(paths.state->language), ui_(std::make_unique<Ui::AddContactDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    numberBox()->setText(qstr(shown.number));
    nameBox()->setText(qstr(shown.name));
    ApplyDialogTexts(this, paths, kAddContactTexts);
    connect(addButton(), &QPushButton::clicked, this, &AddContactDialog::add);
    connect(closeButton(), &QPushButton::clicked, this, [this] { done(kAddContactClosed); });
    numberBox()->setFocus();
}

AddContactDialog::~AddContactDialog() = default;

void AddContactDialog::add() {
    ContactEntry typed{u16str(numberBox()->text(), kContactFieldLength),
                       u16str(nameBox()->text(), kContactFieldLength)};
    // The contact file has no quoting: a "," or a line break would split
    // the record or the line, so such text is never taken into the book.
    QLineEdit* refused = !ContactFieldIsStorable(typed.number) ? numberBox()
                         : !ContactFieldIsStorable(typed.name) ? nameBox()
                                                               : nullptr;
    if (refused) {
        QMessageBox box(QMessageBox::Warning, windowTitle(),
                        qstr(GetText(language_, text::kContactFieldRefused)),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("fieldRefused"));
        box.exec();
        refused->setFocus();
        return;
    }
    entry_ = std::move(typed);
    done(kAddContactAdded);
}

void AddContactDialog::reject() {
    done(kAddContactEscaped);
}

std::optional<ContactEntry> RunAddContactDialog(AppPaths& paths, const ContactEntry& shown,
                                                QWidget* owner) {
    AddContactDialog dialog(paths, shown, owner);
    if (dialog.exec() != kAddContactAdded || dialog.entry().number.empty())
        return std::nullopt;
    return dialog.entry();
}

}  // namespace miravo::ui
