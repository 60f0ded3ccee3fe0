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

AddContactDialog::AddContactDialog(AppPaths& paths, const ContactEntry& shown, QWidget* parent)
    : QDialog(parent), language_(paths.state->language), ui_(std::make_unique<Ui::AddContactDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    ui_->id1072->setText(qstr(shown.number));
    ui_->id1006->setText(qstr(shown.name));
    ApplyDialogTexts(this, paths, kAddContactTexts);
    connect(ui_->id1071, &QPushButton::clicked, this, &AddContactDialog::add);
    connect(ui_->id1029, &QPushButton::clicked, this, [this] { done(kAddContactClosed); });
    ui_->id1072->setFocus();
}

AddContactDialog::~AddContactDialog() = default;

void AddContactDialog::add() {
    ContactEntry typed{u16str(ui_->id1072->text(), kContactFieldLength),
                       u16str(ui_->id1006->text(), kContactFieldLength)};
    // The contact file has no quoting: a "," or a line break would split
    // the record or the line, so such text is never taken into the book.
    QLineEdit* refused = !ContactFieldIsStorable(typed.number) ? ui_->id1072
                         : !ContactFieldIsStorable(typed.name) ? ui_->id1006
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
