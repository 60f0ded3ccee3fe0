#include "ui/CredentialsDialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "ui/DialogChrome.h"
#include "ui/DialogControls.h"
#include "ui/Dialogs.h"
#include "ui/Icons.h"
#include "ui/WorkerWindow.h"
#include "ui_CredentialsDialog.h"

namespace miravo::ui {

namespace {
// The settings hold user name and password in fields of 260 characters.
constexpr qsizetype kCredentialLength = static_cast<qsizetype>(kNameWidth) - 1;
}  // namespace

QPushButton* CredentialsDialog::okButton() const { return ui_->id1; }
QPushButton* CredentialsDialog::closeButton() const { return ui_->id2; }
QCheckBox* CredentialsDialog::savePasswordBox() const { return ui_->id1005; }
QLineEdit* CredentialsDialog::userNameBox() const { return ui_->id1006; }
QLineEdit* CredentialsDialog::passwordBox() const { return ui_->id1007; }

CredentialsDialog::CredentialsDialog(AppState& state, QWidget* parent)
    : QDialog(parent), state_(state), ui_(std::make_unique<Ui::CredentialsDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    userNameBox()->setMaxLength(static_cast<int>(kCredentialLength));
    passwordBox()->setMaxLength(static_cast<int>(kCredentialLength));
    userNameBox()->setText(qstr(state_.settings.userName));
    passwordBox()->setText(qstr(state_.settings.password));
    savePasswordBox()->setChecked(state_.settings.savePassword);
    // The choice counts as soon as it is clicked; Close does not undo it.
    connect(savePasswordBox(), &QCheckBox::clicked, this,
            [this](bool checked) { state_.settings.savePassword = checked; });
    connect(okButton(), &QPushButton::clicked, this, [this] { confirm(); });
    connect(closeButton(), &QPushButton::clicked, this, [this] { done(kCredentialsClosed); });
    // The texts are looked up in the record only.
    AppPaths paths;
    paths.state = &state_;
    ApplyDialogTexts(this, paths, kCredentialsTexts);
}

CredentialsDialog::~CredentialsDialog() = default;

void CredentialsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The send worker asks while the user may be busy elsewhere.
    raise();
    activateWindow();
}

void CredentialsDialog::reject() {
    done(kCredentialsClosed);
}

void CredentialsDialog::confirm() {
    state_.settings.userName = u16str(userNameBox()->text(), kCredentialLength);
    state_.settings.password = u16str(passwordBox()->text(), kCredentialLength);
    done(kCredentialsConfirmed);
}

bool DialogCredentialsPrompt::ask(AppState& state) {
    WorkerWindow* owner = &owner_;
    return owner_.askOnWindowThread<bool>(
        [owner, &state] {
            // The user has closed the status window meanwhile (the worker
            // was still in a request): nobody is there to ask any more.
            if (!state.job.statusWindowOpen)
                return false;
            return RunCredentialsDialog(state, owner);
        },
        false);
}

bool RunCredentialsDialog(AppState& state, QWidget* owner) {
    CredentialsDialog dialog(state, owner);
    return dialog.exec() == kCredentialsConfirmed;
}

}  // namespace miravo::ui
