// Account management (109): the preferences the service keeps for the
// account. RunAccountDialog reads them first behind the worker dialog and
// shows this dialog only when that succeeded; each Modify sends one update
// behind the worker dialog. A successful e-mail or password update makes
// the new value the login (USER_NAME, USER_PASS) from then on.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <string>

#include "service/AccountPreferences.h"

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace Ui {
class AccountDialog;
}

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

inline constexpr int kAccountClosed = 1029;
inline constexpr int kAccountCancelled = 2;
inline constexpr int kAccountNotRead = 0;

class AccountDialog : public QDialog {
    Q_OBJECT
  public:
    // The controls start from `preferences`; the e-mail and password boxes
    // start empty.
    AccountDialog(AppPaths& paths, const AccountPreferences& preferences,
                  QWidget* parent = nullptr);
    ~AccountDialog() override;

    // The parameters as the controls hold them; the header counts as
    // editable while its box is enabled.
    AccountPreferences parameters() const;

  protected:
    void reject() override;

  private:
    QLineEdit* emailBox() const;
    QLineEdit* emailConfirmationBox() const;
    QLineEdit* passwordBox() const;
    QLineEdit* passwordConfirmationBox() const;
    QPushButton* modifyEmailButton() const;
    QPushButton* modifyPasswordButton() const;
    QPushButton* modifyParametersButton() const;
    QPushButton* closeButton() const;
    QLineEdit* faxHeaderBox() const;
    QLineEdit* smsNumberBox() const;
    QRadioButton* redirectionOnButton() const;
    QRadioButton* redirectionOffButton() const;
    QRadioButton* pdfButton() const;
    QRadioButton* tiffButton() const;
    QRadioButton* emailAlertOnButton() const;
    QRadioButton* emailAlertOffButton() const;
    QRadioButton* smsAlertOnButton() const;
    QRadioButton* smsAlertOffButton() const;

    void showPreferences(const AccountPreferences& preferences);
    void updateModifyButtons();
    void redirectionChanged();
    // Runs one update behind the worker dialog; the answer, when one came.
    std::optional<std::string> runUpdate(MultipartForm form);
    void modifyEmail();
    void modifyPassword();
    void modifyParameters();

    AppPaths& paths_;
    std::unique_ptr<Ui::AccountDialog> ui_;
};

}  // namespace miravo::ui
