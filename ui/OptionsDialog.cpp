#include "ui/OptionsDialog.h"

#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <algorithm>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>

#include "app/AppState.h"
#include "app/PasswordPlace.h"
#include "app/DialogTexts.h"
#include "app/LanguageTable.h"
#include "app/NumberCheck.h"
#include "app/Text.h"
#include "app/WorkerReport.h"
#include "service/FaxTransmission.h"
#include "service/ServiceTexts.h"
#include "ui/BackgroundCall.h"
#include "ui/ConvertingDialog.h"
#include "ui/DialogChrome.h"
#include "ui/DialogControls.h"
#include "ui/Dialogs.h"
#include "ui/Icons.h"
#include "ui/MessageBoxes.h"
#include "ui/QtTranslations.h"
#include "ui/TextIds.h"
#include "ui_OptionsDialog.h"

namespace miravo::ui {

namespace {

// Codes worded by ErrorText when Check got no verdict from the service:
// no usable answer, or a value the request could not carry.
constexpr std::int32_t kInvalidValueCode = 405;

// The link keeps its clicked colour for the rest of the run.
bool signUpLinkClicked = false;

AddressOpener& addressOpener() {
    static AddressOpener opener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    return opener;
}

// Only web addresses are handed to the desktop: a SUBSCRIBE setting that
// names a file or a program must not be opened from a click on a link.
bool isWebAddress(const QUrl& url) {
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
           !url.host().isEmpty();
}

}  // namespace

AddressOpener SetAddressOpener(AddressOpener opener) {
    AddressOpener previous = std::move(addressOpener());
    addressOpener() = std::move(opener);
    return previous;
}

void ForgetSignUpLinkClicked() {
    signUpLinkClicked = false;
}

QCheckBox* OptionsDialog::savePasswordBox() const { return ui_->id1005; }
QLineEdit* OptionsDialog::userNameBox() const { return ui_->id1006; }
QLineEdit* OptionsDialog::passwordBox() const { return ui_->id1007; }
QRadioButton* OptionsDialog::ditheringButton() const { return ui_->id1019; }
QRadioButton* OptionsDialog::thresholdButton() const { return ui_->id1020; }
QRadioButton* OptionsDialog::automaticButton() const {
    return ui_->id1096;
}
QPushButton* OptionsDialog::checkButton() const { return ui_->id1023; }
QCheckBox* OptionsDialog::showPasswordBox() const { return ui_->id1025; }
QLabel* OptionsDialog::signUpLink() const { return ui_->id1026; }
QComboBox* OptionsDialog::languageBox() const { return ui_->id1028; }
QPushButton* OptionsDialog::closeButton() const { return ui_->id1029; }
QPushButton* OptionsDialog::accountManagementButton() const { return ui_->id1054; }

OptionsDialog::OptionsDialog(AppPaths& paths, QWidget* parent)
    : QDialog(parent), paths_(paths), ui_(std::make_unique<Ui::OptionsDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    AppState& state = *paths_.state;
    AppSettings& settings = state.settings;

    showCredentials();

    // The sign-up link: the address, underlined, in the link colour.
    QFont linkFont = signUpLink()->font();
    linkFont.setUnderline(true);
    signUpLink()->setFont(linkFont);
    signUpLink()->setText(qstr(settings.subscribe));
    signUpLink()->installEventFilter(this);
    paintLink();

    savePasswordBox()->setChecked(settings.savePassword);
    showPasswordBox()->setChecked(settings.showPassword);
    passwordBox()->setEchoMode(settings.showPassword ? QLineEdit::Normal : QLineEdit::Password);

    fillLanguages();

    ditheringButton()->setChecked(settings.dithering);
    thresholdButton()->setChecked(settings.threshold);
    automaticButton()->setChecked(settings.automaticMethod);

    // Where a saved password is kept: the desktop's keyring or the settings file.
    passwordPlace_ = new QLabel(this);
    passwordPlace_->setObjectName(QStringLiteral("passwordPlace"));
    passwordPlace_->setWordWrap(true);
    const int placeRow = ui_->credentialsLayout->rowCount();
    ui_->credentialsLayout->addWidget(passwordPlace_, placeRow, 0, 1, 2);
    // The move into a keyring that was not open at start-up, when asked.
    moveToKeyring_ = new QPushButton(qstr(GetText(state.language, text::kMoveToKeyring)), this);
    moveToKeyring_->setObjectName(QStringLiteral("moveToKeyring"));
    moveToKeyring_->setAutoDefault(false);
    ui_->credentialsLayout->addWidget(moveToKeyring_, placeRow, 2);
    connect(moveToKeyring_, &QPushButton::clicked, this, [this] {
        takeCredentials();
        if (paths_.passwords)
            MovePasswordToStore(paths_, *paths_.passwords);
        showPasswordPlace();
    });
    showPasswordPlace();
    connect(savePasswordBox(), &QCheckBox::toggled, this, [this](bool on) {
        paths_.state->settings.savePassword = on;
        showPasswordPlace();
    });
    connect(showPasswordBox(), &QCheckBox::toggled, this, [this](bool on) {
        paths_.state->settings.showPassword = on;
        passwordBox()->setEchoMode(on ? QLineEdit::Normal : QLineEdit::Password);
    });
    // "clicked" also comes when the selected button is clicked again, and
    // when the arrow keys move the choice.
    connect(ditheringButton(), &QRadioButton::clicked, this, &OptionsDialog::methodClicked);
    connect(thresholdButton(), &QRadioButton::clicked, this, &OptionsDialog::methodClicked);
    connect(automaticButton(), &QRadioButton::clicked, this, &OptionsDialog::methodClicked);
    connect(checkButton(), &QPushButton::clicked, this, &OptionsDialog::check);
    connect(accountManagementButton(), &QPushButton::clicked, this,
            &OptionsDialog::openAccountManagement);
    connect(closeButton(), &QPushButton::clicked, this, &OptionsDialog::closeTakingOver);
    // Cancel (and Escape) leaves the credentials as they were when the
    // dialog opened, also after a Check with a mistyped password.
    auto* cancel = new QPushButton(qstr(GetText(state.language, text::kCancel)), this);
    cancel->setObjectName(QStringLiteral("id2"));
    cancel->setAutoDefault(false);
    ui_->buttons->insertWidget(ui_->buttons->indexOf(closeButton()) + 1, cancel);
    connect(cancel, &QPushButton::clicked, this, &OptionsDialog::reject);
    kept_ = settings;

    // The labels of the two boxes share the credentials prompt's texts.
    if (const auto text = GetText(state.language, text::kUserName); !text.empty())
        ui_->userNameLabel->setText(qstr(text));
    if (const auto text = GetText(state.language, text::kPassword); !text.empty())
        ui_->passwordLabel->setText(qstr(text));
    // The language list has a label of its own, for the eye and for screen
    // readers (which otherwise hear only the list's current value).
    if (const auto text = GetText(state.language, text::kLanguageLabel); !text.empty())
        ui_->languageLabel->setText(qstr(text));
    // Before the texts: applying them sizes the dialog to its rows.
    addRegionRow();
    ApplyDialogTexts(this, paths_, kOptionsTexts);
}

OptionsDialog::~OptionsDialog() = default;

void OptionsDialog::addRegionRow() {
    // DEFAULT_REGION: the region of numbers written without an international
    // prefix, for the number checking of the send dialog and the mass-fax list.
    AppState& state = *paths_.state;
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(qstr(GetText(state.language, text::kDefaultRegion)), this);
    label->setObjectName(QStringLiteral("defaultRegionLabel"));
    auto* box = new QComboBox(this);
    box->setObjectName(QStringLiteral("defaultRegion"));
    // Qt names regions in English only: in another language a region is
    // named only where its own name is in that language ("DE – Deutschland"
    // in German), else shown by its code alone, never in English.
    const QLocale::Language shown = QLocale(qstr(LanguageCode(state.language))).language();
    for (const std::u16string& region : KnownRegions()) {
        const QString code = qstr(region);
        const QLocale::Territory territory = QLocale::codeToTerritory(code);
        QString name;
        const QLocale local(QLocale::AnyLanguage, territory);
        if (territory != QLocale::AnyTerritory && shown == QLocale::English)
            name = QLocale::territoryToString(territory);
        else if (territory != QLocale::AnyTerritory && local.language() == shown)
            name = local.nativeTerritoryName();
        box->addItem(name.isEmpty() ? code : code + QStringLiteral(" \u2013 ") + name, code);
    }
    const std::u16string current = state.settings.defaultRegion.empty()
                                       ? RegionFromLocale()
                                       : state.settings.defaultRegion;
    box->setCurrentIndex(std::max(0, box->findData(qstr(current))));
    label->setBuddy(box);
    row->addWidget(label);
    row->addWidget(box);
    row->addStretch(1);
    if (auto* group = qobject_cast<QBoxLayout*>(ui_->id1027->layout()))
        group->addLayout(row);
    // Tab reaches the box where it stands: after the group's other controls.
    QWidget* lastInGroup = nullptr;
    for (QWidget* w = nextInFocusChain(); w != this; w = w->nextInFocusChain()) {
        if (w != box && ui_->id1027->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus))
            lastInGroup = w;
    }
    SetTabOrder({lastInGroup, box});
    connect(box, &QComboBox::currentIndexChanged, this, [this, box](int index) {
        const std::u16string region = NormalizedRegion(u16str(box->itemData(index).toString()));
        if (!region.empty())
            paths_.state->settings.defaultRegion = region;
    });
}

void OptionsDialog::reject() {
    AppState& state = *paths_.state;
    AppSettings& settings = state.settings;
    // Cancel gives back every choice the dialog offers, whatever it is:
    // the whole record as the dialog found it, but for what the program
    // learnt meanwhile (where the password is kept, the service's pace,
    // folders and window places).
    AppSettings restored = kept_;
    restored.passwordInKeyring = settings.passwordInKeyring;
    restored.keyringHost = settings.keyringHost;
    restored.keyringUser = settings.keyringUser;
    restored.keyringMoveAsked = settings.keyringMoveAsked;
    restored.timeoutMs = settings.timeoutMs;
    restored.lastMassFileDir = settings.lastMassFileDir;
    restored.lastDocumentDir = settings.lastDocumentDir;
    restored.lastExportDir = settings.lastExportDir;
    restored.lastContactsDir = settings.lastContactsDir;
    restored.sendWindowPlace = settings.sendWindowPlace;
    restored.statusWindowPlace = settings.statusWindowPlace;
    restored.sentFaxesWindowPlace = settings.sentFaxesWindowPlace;
    restored.previewWindowPlace = settings.previewWindowPlace;
    settings = restored;
    // The document converted with a method now given back is converted
    // again, so that what is sent looks as the kept method makes it.
    if (reconverted_ && !state.job.jobArgument.empty()) {
        reconverted_ = false;
        state.job.jobFilePath = fitField(state.job.jobArgument, kPathWidth);
        RunConversionDialog(paths_, this);
    }
    done(kOptionsCancelled);
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event) {
    // A click on the link: the press is taken so that the release comes
    // back to it; the release over the link opens it.
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (watched == signUpLink() && (press || event->type() == QEvent::MouseButtonRelease)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            if (!press && signUpLink()->rect().contains(mouse->position().toPoint()))
                linkClicked();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void OptionsDialog::fillLanguages() {
    const LanguageTable& language = paths_.state->language;
    const std::u16string current = LanguageName(language);
    int selected = -1;
    std::u16string code, name;
    for (int n = 1; ListLanguage(language, n, kCodeWidth, code, &name) == 1; ++n) {
        if (selected < 0 && name == current)
            selected = languageBox()->count();
        languageBox()->addItem(qstr(name));
        name.clear();
    }
    if (languageBox()->count() > 0)
        languageBox()->setCurrentIndex(selected < 0 ? 0 : selected);
}

void OptionsDialog::showCredentials() {
    const AppSettings& settings = paths_.state->settings;
    userNameBox()->setText(qstr(settings.userName));
    passwordBox()->setText(qstr(settings.password));
}

bool OptionsDialog::keyringOpen() {
    if (!keyringOpen_)
        keyringOpen_ = paths_.passwords && paths_.passwords->openWithoutPrompt();
    return *keyringOpen_;
}

void OptionsDialog::showPasswordPlace() {
    const AppState& state = *paths_.state;
    const AppSettings& s = state.settings;
    // With a store at hand the password is in the file only because no
    // keyring was open at start-up, or the store refused it. A keyring open
    // now takes it when the options are confirmed, and is named as its place.
    const bool movable = s.savePassword && !s.passwordInKeyring && paths_.passwords;
    const bool goesToKeyring = movable && keyringOpen();
    passwordPlace_->setVisible(s.savePassword);
    passwordPlace_->setText(qstr(
        GetText(state.language, s.passwordInKeyring              ? text::kKeptInKeyring
                                : goesToKeyring                  ? text::kGoesToKeyringOnConfirm
                                : movable && !s.keyringMoveAsked ? text::kKeptInFileKeyringClosed
                                                                 : text::kKeptInSettingsFile)));
    moveToKeyring_->setVisible(movable && !goesToKeyring);
}

void OptionsDialog::takeCredentials() {
    AppSettings& settings = paths_.state->settings;
    settings.userName = u16str(userNameBox()->text(), kNameWidth - 1);
    settings.password = u16str(passwordBox()->text(), kNameWidth - 1);
}

void OptionsDialog::methodClicked() {
    AppState& state = *paths_.state;
    SetMethod(state.settings, automaticButton()->isChecked()   ? ConversionMethod::Automatic
                              : ditheringButton()->isChecked() ? ConversionMethod::Dithering
                                                               : ConversionMethod::Threshold);
    // Convert the printed document again with the chosen method.
    if (!state.job.jobArgument.empty()) {
        state.job.jobFilePath = fitField(state.job.jobArgument, kPathWidth);
        RunConversionDialog(paths_, this);
        reconverted_ = true;
    }
}

void OptionsDialog::check() {
    AppState& state = *paths_.state;
    FaxJob& job = state.job;
    takeCredentials();
    const std::u16string keptDocument = job.documentPath;
    job.documentPath = kCheckDocumentName;

    SilentWorkerReport report;
    SendTiming timing;
    timing.stepPauseMs = 0;
    timing.sleep = [](std::uint32_t) {};
    // The exchange may take up to its deadline: the window stays alive
    // meanwhile, with its controls locked, since the exchange reads the
    // record they write.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setEnabled(false);
    const StepOutcome outcome = RunInBackground(
        [&] { return RunFaxStep(state, report, FaxStep::Authenticate, timing); });
    setEnabled(true);
    QApplication::restoreOverrideCursor();
    job.documentPath = keptDocument;

    // Without an answer there is no verdict on the credentials: say that
    // the service gave none rather than calling them wrong.
    if (outcome.refused())
        job.send.errorCode = kInvalidValueCode;
    else if (!outcome.requested || outcome.transport != Outcome::Answer)
        job.send.errorCode = text::kNoUsableAnswer;

    // Said what was checked: the credentials at this service, or why the
    // service could not tell.
    QString said = qstr(ErrorText(state.language, job.send.errorCode));
    if (outcome.ok && job.send.errorCode == 0)
        said = qstr(GetText(state.language, text::kCheckAccepted, state.settings.serviceHost));
    else if (outcome.untrustedCertificate)
        said = qstr(UntrustedCertificateText(state));
    else if (outcome.caFileUnusable)
        said = qstr(CaFileUnusableText(state));
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Miravo"), said, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("checkMessage"));
    ReserveCaptionRoom(box);
    box.exec();
}

void OptionsDialog::openAccountManagement() {
    // The account is the one whose credentials the boxes show.
    takeCredentials();
    RunAccountDialog(paths_, this);
    // A new login e-mail or password there is the login from now on,
    // also when Options is cancelled afterwards.
    kept_.userName = paths_.state->settings.userName;
    kept_.password = paths_.state->settings.password;
    showCredentials();
}

void OptionsDialog::closeTakingOver() {
    takeCredentials();
    // What the dialog said becomes true now, not at exit: a saved password
    // goes to a keyring that is open (one that is not stays unasked).
    const AppSettings& s = paths_.state->settings;
    if (s.savePassword && !s.passwordInKeyring && paths_.passwords && keyringOpen())
        MovePasswordToStore(paths_, *paths_.passwords);
    LanguageTable& language = paths_.state->language;
    const int item = languageBox()->currentIndex();
    std::u16string code;
    if (item >= 0 && ListLanguage(language, item + 1, kCodeWidth, code, nullptr) == 1 &&
        LoadLanguage(language, paths_.languageFile, code) == 1)
        paths_.languageCode = fitField(code, kCodeWidth);
    done(kOptionsClosed);
}

void OptionsDialog::linkClicked() {
    const QUrl address(qstr(paths_.state->settings.subscribe));
    const bool opened = isWebAddress(address) && addressOpener() && addressOpener()(address);
    signUpLinkClicked = true;
    paintLink();
    if (isWebAddress(address) && !opened) {
        // Without a browser the click would do nothing visible at all.
        QMessageBox box(QMessageBox::Information, QStringLiteral("Miravo"),
                        qstr(GetText(paths_.state->language, text::kNoBrowser,
                                     paths_.state->settings.subscribe)),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("noBrowser"));
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        ReserveCaptionRoom(box);
        box.exec();
    }
}

void OptionsDialog::paintLink() {
    QPalette palette = signUpLink()->palette();
    palette.setColor(QPalette::WindowText,
                     QColor(signUpLinkClicked ? kClickedLinkColour : kLinkColour));
    signUpLink()->setPalette(palette);
    signUpLink()->update();
}

int RunOptionsDialog(AppPaths& paths, QWidget* owner) {
    if (!paths.state)
        return kOptionsCancelled;
    OptionsDialog dialog(paths, owner);
    const int result = dialog.exec();
    // A language chosen here is Qt's language too from the next window on.
    ApplyQtTranslations(paths.languageCode);
    return result;
}

}  // namespace miravo::ui
