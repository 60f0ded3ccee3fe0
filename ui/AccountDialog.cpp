#include "ui/AccountDialog.h"

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "ui/DialogChrome.h"
#include "app/LanguageTable.h"
#include "ui/DialogControls.h"
#include "ui/Dialogs.h"
#include "ui/Icons.h"
#include "ui/TextIds.h"
#include "ui/WorkerDialog.h"
#include "ui_AccountDialog.h"

namespace miravo::ui {

namespace {

// Texts are read from the boxes with room for this many characters.
constexpr qsizetype kBoxRoom = kNameWidth - 1;

// Runs a preferences task behind the worker dialog; it has ended when this
// returns (the worker dialog cannot be closed before). The task is not
// kept afterwards.
void runTask(AppPaths& paths, QWidget* owner, WorkerTask task, int statusText) {
    FaxJob& job = paths.state->job;
    job.workerTask = std::move(task);
    RunWorkerDialog(paths, owner, statusText);
    job.workerTask = nullptr;
}

}  // namespace

QLineEdit* AccountDialog::emailBox() const { return ui_->id1006; }
QLineEdit* AccountDialog::emailConfirmationBox() const { return ui_->id1055; }
QLineEdit* AccountDialog::passwordBox() const { return ui_->id1007; }
QLineEdit* AccountDialog::passwordConfirmationBox() const { return ui_->id1063; }
QPushButton* AccountDialog::modifyEmailButton() const { return ui_->id1056; }
QPushButton* AccountDialog::modifyPasswordButton() const { return ui_->id1064; }
QPushButton* AccountDialog::modifyParametersButton() const { return ui_->id1080; }
QPushButton* AccountDialog::closeButton() const { return ui_->id1029; }
QLineEdit* AccountDialog::faxHeaderBox() const { return ui_->id1067; }
QLineEdit* AccountDialog::smsNumberBox() const { return ui_->id1082; }
QRadioButton* AccountDialog::redirectionOnButton() const { return ui_->id1069; }
QRadioButton* AccountDialog::redirectionOffButton() const { return ui_->id1070; }
QRadioButton* AccountDialog::pdfButton() const { return ui_->id1072; }
QRadioButton* AccountDialog::tiffButton() const { return ui_->id1073; }
QRadioButton* AccountDialog::emailAlertOnButton() const { return ui_->id1075; }
QRadioButton* AccountDialog::emailAlertOffButton() const { return ui_->id1076; }
QRadioButton* AccountDialog::smsAlertOnButton() const { return ui_->id1078; }
QRadioButton* AccountDialog::smsAlertOffButton() const { return ui_->id1079; }

AccountDialog::AccountDialog(AppPaths& paths, const AccountPreferences& preferences,
                             QWidget* parent)
    : QDialog(parent), paths_(paths), ui_(std::make_unique<Ui::AccountDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    showPreferences(preferences);
    modifyEmailButton()->setEnabled(false);
    modifyPasswordButton()->setEnabled(false);

    for (QLineEdit* box :
         {emailBox(), emailConfirmationBox(), passwordBox(), passwordConfirmationBox()})
        connect(box, &QLineEdit::textChanged, this, &AccountDialog::updateModifyButtons);
    connect(redirectionOnButton(), &QRadioButton::toggled, this,
            &AccountDialog::redirectionChanged);
    connect(modifyEmailButton(), &QPushButton::clicked, this, &AccountDialog::modifyEmail);
    connect(modifyPasswordButton(), &QPushButton::clicked, this, &AccountDialog::modifyPassword);
    connect(modifyParametersButton(), &QPushButton::clicked, this,
            &AccountDialog::modifyParameters);
    connect(closeButton(), &QPushButton::clicked, this, [this] { done(kAccountClosed); });

    // The switches speak the user's language; the service's own words
    // "ON" and "OFF" stay on the wire.
    const LanguageTable& language = paths_.state->language;
    for (QRadioButton* on : {redirectionOnButton(), emailAlertOnButton(), smsAlertOnButton()})
        on->setText(qstr(GetText(language, text::kSwitchOn)));
    for (QRadioButton* off : {redirectionOffButton(), emailAlertOffButton(), smsAlertOffButton()})
        off->setText(qstr(GetText(language, text::kSwitchOff)));
    ApplyDialogTexts(this, paths_, kAccountTexts);
}

AccountDialog::~AccountDialog() = default;

void AccountDialog::reject() {
    done(kAccountCancelled);
}

void AccountDialog::showPreferences(const AccountPreferences& p) {
    (p.redirectionOn ? redirectionOnButton() : redirectionOffButton())->setChecked(true);
    (p.pdfFormat ? pdfButton() : tiffButton())->setChecked(true);
    (p.smsAlertOn ? smsAlertOnButton() : smsAlertOffButton())->setChecked(true);
    (p.emailAlertOn ? emailAlertOnButton() : emailAlertOffButton())->setChecked(true);
    faxHeaderBox()->setText(qstr(p.faxHeader));
    faxHeaderBox()->setEnabled(p.headerEditable);
    smsNumberBox()->setText(qstr(p.smsNumber));
    redirectionChanged();
}

AccountPreferences AccountDialog::parameters() const {
    AccountPreferences p;
    p.faxHeader = u16str(faxHeaderBox()->text(), kBoxRoom);
    p.headerEditable = faxHeaderBox()->isEnabled();
    p.redirectionOn = redirectionOnButton()->isChecked();
    p.pdfFormat = pdfButton()->isChecked();
    p.smsAlertOn = smsAlertOnButton()->isChecked();
    p.emailAlertOn = emailAlertOnButton()->isChecked();
    p.smsNumber = u16str(smsNumberBox()->text(), kBoxRoom);
    return p;
}

void AccountDialog::updateModifyButtons() {
    auto confirmed = [](const QLineEdit* box, const QLineEdit* confirmation) {
        const QString text = box->text().left(kBoxRoom);
        return !text.isEmpty() && text == confirmation->text().left(kBoxRoom);
    };
    modifyEmailButton()->setEnabled(confirmed(emailBox(), emailConfirmationBox()));
    modifyPasswordButton()->setEnabled(confirmed(passwordBox(), passwordConfirmationBox()));
}

void AccountDialog::redirectionChanged() {
    // The service sends no e-mail alerts while it redirects every fax.
    const bool alertsApply = !redirectionOnButton()->isChecked();
    emailAlertOnButton()->setEnabled(alertsApply);
    emailAlertOffButton()->setEnabled(alertsApply);
}

std::optional<std::string> AccountDialog::runUpdate(MultipartForm form) {
    auto answer = std::make_shared<PreferencesAnswer>();
    runTask(paths_, this, UpdatePreferencesTask(std::move(form), answer), text::kSavingAccount);
    return answer->answer();
}

void AccountDialog::modifyEmail() {
    AppSettings& settings = paths_.state->settings;
    const std::u16string email = u16str(emailBox()->text(), kBoxRoom);
    if (PreferencesUpdated(runUpdate(EmailUpdateForm(settings, email))))
        settings.userName = email;
}

void AccountDialog::modifyPassword() {
    AppSettings& settings = paths_.state->settings;
    const std::u16string password = u16str(passwordBox()->text(), kBoxRoom);
    if (PreferencesUpdated(runUpdate(PasswordUpdateForm(settings, password))))
        settings.password = password;
}

void AccountDialog::modifyParameters() {
    // The worker dialog's status line is the only report of the outcome.
    runUpdate(ParametersUpdateForm(paths_.state->settings, parameters()));
}

int RunAccountDialog(AppPaths& paths, QWidget* owner) {
    if (!paths.state)
        return kAccountNotRead;
    auto answer = std::make_shared<PreferencesAnswer>();
    runTask(paths, owner, ReadPreferencesTask(answer), text::kReadingAccount);
    // The worker dialog has told the user why the reading failed.
    const std::optional<AccountPreferences> preferences = ReadAccountPreferences(answer->answer());
    if (!preferences)
        return kAccountNotRead;
    AccountDialog dialog(paths, *preferences, owner);
    return dialog.exec();
}

}  // namespace miravo::ui
