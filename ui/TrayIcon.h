// The notification-area icon the status window minimises into. The window
// talks to this small interface so that it can tell whether the desktop
// has a notification area at all: without one, a window hidden into the
// icon could never be brought back, so the window then only minimises.
#pragma once

#include <QIcon>
#include <QString>
#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace miravo {
class LanguageTable;
}

namespace miravo::ui {

class DesktopNotification;

class TrayIcon {
  public:
    virtual ~TrayIcon() = default;

    // Whether the desktop shows notification-area icons.
    virtual bool available() const = 0;
    // Puts the icon into the notification area.
    virtual void show(const QIcon& icon) = 0;
    // Removes the icon; harmless when it is not shown.
    virtual void hide() = 0;
    virtual bool shown() const = 0;
    // The icon's tooltip: how the fax is doing.
    virtual void setProgress(const QString& text) = 0;
    // Tells the user, on the desktop, how the send ended.
    virtual void notify(const QString& summary, const QString& body) = 0;

    // Called on a click or double click on the icon and on "Show" in its menu.
    void onShowWindows(std::function<void()> callback) { showWindows_ = std::move(callback); }
    // Called on "Sent faxes" in the icon's menu and on a click on a notification.
    void onSentFaxes(std::function<void()> callback) { sentFaxes_ = std::move(callback); }
    // Called on "Quit" in the icon's menu.
    void onQuit(std::function<void()> callback) { quit_ = std::move(callback); }

  protected:
    void showWindowsChosen() {
        if (showWindows_)
            showWindows_();
    }
    void sentFaxesChosen() {
        if (sentFaxes_)
            sentFaxes_();
    }
    void quitChosen() {
        if (quit_)
            quit_();
    }

  private:
    std::function<void()> showWindows_;
    std::function<void()> sentFaxes_;
    std::function<void()> quit_;
};

// The desktop's notification area; its menu speaks `language`. Messages go
// to the desktop's notification service, else to the icon's own balloon.
class SystemTrayIcon final : public TrayIcon {
  public:
    explicit SystemTrayIcon(const LanguageTable& language);
    ~SystemTrayIcon() override;

    bool available() const override;
    void show(const QIcon& icon) override;
    void hide() override;
    bool shown() const override;
    void setProgress(const QString& text) override;
    void notify(const QString& summary, const QString& body) override;

  private:
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    std::unique_ptr<DesktopNotification> notification_;
};

}  // namespace miravo::ui
