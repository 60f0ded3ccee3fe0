// A message on the desktop through its notification service
// (org.freedesktop.Notifications on the session bus). Clicking the message
// is reported; the caller falls back to the tray icon's own message when
// no such service answers.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace miravo::ui {

// How long a message asks to stay on the desktop. The program waits about
// this long for a click after its windows have gone, so a message must not
// outlast the wait.
inline constexpr int kNotificationShownMs = 20000;

class DesktopNotification : public QObject {
    Q_OBJECT
  public:
    // `busAddress`: the bus to use; empty: the session bus.
    explicit DesktopNotification(QString busAddress = {}, QObject* parent = nullptr);

    // Shows `summary` with `body`; false when no notification service took it.
    bool show(const QString& summary, const QString& body);

    // Called when the user clicks the message shown last.
    void onClicked(std::function<void()> callback) { clicked_ = std::move(callback); }

    // The message shown last is still on the desktop: neither clicked,
    // closed nor expired.
    bool pending() const { return shownId_ != 0; }
    // Takes the message shown last off the desktop.
    void withdraw();

  signals:
    // The message shown last was clicked, closed or has expired.
    void ended();

  private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

  private:
    QString busAddress_;
    uint shownId_ = 0;
    bool listening_ = false;
    std::function<void()> clicked_;
};

// Keeps a message whose window goes away until the user has answered it:
// a click on it must still find the program.
void KeepUntilAnswered(std::unique_ptr<DesktopNotification> notification);

// Runs the event loop while a kept message is on the desktop, at most
// `maxMs`; a click on one calls `clicked`. Messages still there at the end
// are taken back, so that none is left that does nothing when clicked.
void WaitForKeptNotifications(const std::function<void()>& clicked, int maxMs);

}  // namespace miravo::ui
