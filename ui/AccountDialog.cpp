#include "ui/AccountDialog.h"

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "ui/DialogChrome.h"
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

AccountDialog::AccountDialog(AppPaths& paths, const AccountPreferences& preferences,
                             QWidget* parent)
    : QDialog(parent), paths_(paths), ui_(std::make_unique<Ui::AccountDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    showPreferences(preferences);
    ui_->id1056->setEnabled(false);
    ui_->id1064->setEnabled(false);

    for (QLineEdit* box : {ui_->id1006, ui_->id1055, ui_->id1007, ui_->id1063})
        connect(box, &QLineEdit::textChanged, this, &AccountDialog::updateModifyButtons);
    connect(ui_->id1069, &QRadioButton::toggled, this, &AccountDialog::redirectionChanged);
    connect(ui_->id1056, &QPushButton::clicked, this, &AccountDialog::modifyEmail);
    connect(ui_->id1064, &QPushButton::clicked, this, &AccountDialog::modifyPassword);
    connect(ui_->id1080, &QPushButton::clicked, this, &AccountDialog::modifyParameters);
    connect(ui_->id1029, &QPushButton::clicked, this, [this] { done(kAccountClosed); });

    ApplyDialogTexts(this, paths_, kAccountTexts);
}

AccountDialog::~AccountDialog() = default;

void AccountDialog::reject() {
    done(kAccountCancelled);
}

void AccountDialog::showPreferences(const AccountPreferences& p) {
    (p.redirectionOn ? ui_->id1069 : ui_->id1070)->setChecked(true);
    (p.pdfFormat ? ui_->id1072 : ui_->id1073)->setChecked(true);
    (p.smsAlertOn ? ui_->id1078 : ui_->id1079)->setChecked(true);
    (p.emailAlertOn ? ui_->id1075 : ui_->id1076)->setChecked(true);
    ui_->id1067->setText(qstr(p.faxHeader));
    ui_->id1067->setEnabled(p.headerEditable);
    ui_->id1082->setText(qstr(p.smsNumber));
    redirectionChanged();
}

AccountPreferences AccountDialog::parameters() const {
    AccountPreferences p;
    p.faxHeader = u16str(ui_->id1067->text(), kBoxRoom);
    p.headerEditable = ui_->id1067->isEnabled();
    p.redirectionOn = ui_->id1069->isChecked();
    p.pdfFormat = ui_->id1072->isChecked();
    p.smsAlertOn = ui_->id1078->isChecked();
    p.emailAlertOn = ui_->id1075->isChecked();
    p.smsNumber = u16str(ui_->id1082->text(), kBoxRoom);
    return p;
}

void AccountDialog::updateModifyButtons() {
    auto confirmed = [](const QLineEdit* box, const QLineEdit* confirmation) {
        const QString text = box->text().left(kBoxRoom);
        return !text.isEmpty() && text == confirmation->text().left(kBoxRoom);
    };
    ui_->id1056->setEnabled(confirmed(ui_->id1006, ui_->id1055));
    ui_->id1064->setEnabled(confirmed(ui_->id1007, ui_->id1063));
}

void AccountDialog::redirectionChanged() {
    // The service sends no e-mail alerts while it redirects every fax.
    const bool alertsApply = !ui_->id1069->isChecked();
    ui_->id1075->setEnabled(alertsApply);
    ui_->id1076->setEnabled(alertsApply);
}

std::optional<std::string> AccountDialog::runUpdate(MultipartForm form) {
    auto answer = std::make_shared<PreferencesAnswer>();
    runTask(paths_, this, UpdatePreferencesTask(std::move(form), answer), text::kSavingAccount);
    return answer->answer();
}

void AccountDialog::modifyEmail() {
    AppSettings& settings = paths_.state->settings;
    const std::u16string email = u16str(ui_->id1006->text(), kBoxRoom);
    if (PreferencesUpdated(runUpdate(EmailUpdateForm(settings, email))))
        settings.userName = email;
}

void AccountDialog::modifyPassword() {
    AppSettings& settings = paths_.state->settings;
    const std::u16string password = u16str(ui_->id1007->text(), kBoxRoom);
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
