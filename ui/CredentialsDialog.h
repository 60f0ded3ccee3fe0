// The credentials prompt (107): user name, password and the save-password
// choice, edited in AppState::settings in memory. Nothing is saved to the
// settings file here and nothing is sent. OK gives 1, Close, Escape and the
// close box give 2.
#pragma once

#include <QDialog>
#include <memory>

#include "service/CredentialsPrompt.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace Ui {
class CredentialsDialog;
}

namespace miravo::ui {

class WorkerWindow;

inline constexpr int kCredentialsConfirmed = 1;
inline constexpr int kCredentialsClosed = 2;

class CredentialsDialog : public QDialog {
    Q_OBJECT
  public:
    CredentialsDialog(AppState& state, QWidget* parent = nullptr);
    ~CredentialsDialog() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

  private:
    QPushButton* okButton() const;
    QPushButton* closeButton() const;
    QCheckBox* savePasswordBox() const;
    QLineEdit* userNameBox() const;
    QLineEdit* passwordBox() const;

    void confirm();

    AppState& state_;
    std::unique_ptr<Ui::CredentialsDialog> ui_;
};

// How the send worker asks for the credentials from the status window:
// the dialog opens on the window's thread, owned by the window. When the
// window is gone or closing before it could ask, the answer is "gave up".
class DialogCredentialsPrompt final : public CredentialsPrompt {
  public:
    explicit DialogCredentialsPrompt(WorkerWindow& owner) : owner_(owner) {}
    bool ask(AppState& state) override;

  private:
    WorkerWindow& owner_;
};

}  // namespace miravo::ui
