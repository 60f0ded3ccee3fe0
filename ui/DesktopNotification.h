// A message on the desktop through its notification service
// (org.freedesktop.Notifications on the session bus). Clicking the message
// is reported; the caller falls back to the tray icon's own message when
// no such service answers.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace miravo::ui {

class DesktopNotification : public QObject {
    Q_OBJECT
  public:
    // `busAddress`: the bus to use; empty: the session bus.
    explicit DesktopNotification(QString busAddress = {}, QObject* parent = nullptr);

    // Shows `summary` with `body`; false when no notification service took it.
    bool show(const QString& summary, const QString& body);

    // Called when the user clicks the message shown last.
    void onClicked(std::function<void()> callback) { clicked_ = std::move(callback); }

  private slots:
    void actionInvoked(uint id, const QString& action);

  private:
    QString busAddress_;
    uint shownId_ = 0;
    bool listening_ = false;
    std::function<void()> clicked_;
};

}  // namespace miravo::ui
