// The Options dialog (106): the account credentials, the interface
// language, the conversion method and the link to the service's sign-up
// page. Check boxes and radio buttons take effect at once; the user name,
// the password and the language only when the dialog is closed with Close
// (1029). Escape and the close box end it with 2. Check tests the
// credentials against the service; Account management opens dialog 109
// for the account the boxes show. Both take the typed name and password
// over first, so neither works with other credentials than the ones the
// user sees, and Account management never throws the typed ones away when
// it shows the login again afterwards.
#pragma once

#include <QColor>
#include <QDialog>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

#include "app/AppSettings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace Ui {
class OptionsDialog;
}

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

inline constexpr int kOptionsClosed = 1029;
inline constexpr int kOptionsCancelled = 2;

// The sign-up link's colours: before it was first clicked, and from then
// on for the rest of the run.
inline constexpr QRgb kLinkColour = qRgb(25, 25, 255);
inline constexpr QRgb kClickedLinkColour = qRgb(75, 75, 155);

// The one-page test document Check names, so that the request announces
// one page.
inline constexpr char16_t kCheckDocumentName[] = u"test_res_1_1.tif";

// What opens the sign-up address (only http and https addresses reach
// it): true when a browser took it. The desktop's browser unless replaced;
// returns the previous one.
using AddressOpener = std::function<bool(const QUrl&)>;
AddressOpener SetAddressOpener(AddressOpener opener);
// Forgets that the sign-up link was clicked, as at the start of a run.
void ForgetSignUpLinkClicked();

class OptionsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit OptionsDialog(AppPaths& paths, QWidget* parent = nullptr);
    ~OptionsDialog() override;

  protected:
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    AppSettings kept_;  // the settings as the dialog found them, for Cancel
    bool reconverted_ = false;  // the document was converted again with another method
    QPushButton* moveToKeyring_ = nullptr;
    void addRegionRow();
    QCheckBox* savePasswordBox() const;
    QLineEdit* userNameBox() const;
    QLineEdit* passwordBox() const;
    QRadioButton* ditheringButton() const;
    QRadioButton* thresholdButton() const;
    QRadioButton* automaticButton() const;
    QPushButton* checkButton() const;
    QCheckBox* showPasswordBox() const;
    QLabel* signUpLink() const;
    QComboBox* languageBox() const;
    QPushButton* closeButton() const;
    QPushButton* accountManagementButton() const;

    void fillLanguages();
    void showCredentials();
    void showPasswordPlace();
    void takeCredentials();
    void methodClicked();
    void check();
    void openAccountManagement();
    void closeTakingOver();
    void linkClicked();
    void paintLink();

    AppPaths& paths_;
    std::unique_ptr<Ui::OptionsDialog> ui_;
    QLabel* passwordPlace_ = nullptr;  // where a saved password is kept
    // Whether the keyring is open now, so that the password can go there
    // without a window of the keyring's own; asked once, when first needed.
    bool keyringOpen();
    std::optional<bool> keyringOpen_;
};

}  // namespace miravo::ui
