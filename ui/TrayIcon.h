// The notification-area icon the status window minimises into. The window
// talks to this small interface so that it can tell whether the desktop
// has a notification area at all: without one, a window hidden into the
// icon could never be brought back, so the window then only minimises.
#pragma once

#include <QIcon>
#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace miravo {
class LanguageTable;
}

namespace miravo::ui {

class TrayIcon {
  public:
    virtual ~TrayIcon() = default;

    // Whether the desktop shows notification-area icons.
    virtual bool available() const = 0;
    // Puts the icon into the notification area (no tooltip).
    virtual void show(const QIcon& icon) = 0;
    // Removes the icon; harmless when it is not shown.
    virtual void hide() = 0;
    virtual bool shown() const = 0;

    // Called on a double click with the left button on the icon; a single
    // click does nothing.
    void onDoubleClick(std::function<void()> callback) { doubleClick_ = std::move(callback); }
    // Called when "Sent faxes" is chosen in the icon's menu.
    void onSentFaxes(std::function<void()> callback) { sentFaxes_ = std::move(callback); }

  protected:
    void doubleClicked() {
        if (doubleClick_)
            doubleClick_();
    }
    void sentFaxesChosen() {
        if (sentFaxes_)
            sentFaxes_();
    }

  private:
    std::function<void()> doubleClick_;
    std::function<void()> sentFaxes_;
};

// The desktop's notification area; its menu speaks `language`.
class SystemTrayIcon final : public TrayIcon {
  public:
    explicit SystemTrayIcon(const LanguageTable& language);
    ~SystemTrayIcon() override;

    bool available() const override;
    void show(const QIcon& icon) override;
    void hide() override;
    bool shown() const override;

  private:
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
};

}  // namespace miravo::ui
