#include "ui/TrayIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include "app/LanguageTable.h"
#include "ui/DesktopNotification.h"
#include "ui/DialogControls.h"
#include "ui/TextIds.h"

namespace miravo::ui {

SystemTrayIcon::SystemTrayIcon(const LanguageTable& language)
    : menu_(std::make_unique<QMenu>()),
      icon_(std::make_unique<QSystemTrayIcon>()),
      notification_(std::make_unique<DesktopNotification>()) {
    QObject::connect(menu_->addAction(qstr(GetText(language, text::kTrayShow))),
                     &QAction::triggered, icon_.get(), [this] { showWindowsChosen(); });
    QObject::connect(menu_->addAction(qstr(GetText(language, text::kSentFaxes))),
                     &QAction::triggered, icon_.get(), [this] { sentFaxesChosen(); });
    menu_->addSeparator();
    QObject::connect(menu_->addAction(qstr(GetText(language, text::kTrayQuit))),
                     &QAction::triggered, icon_.get(), [this] { quitChosen(); });
    icon_->setContextMenu(menu_.get());
    QObject::connect(icon_.get(), &QSystemTrayIcon::activated, icon_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger ||
                             reason == QSystemTrayIcon::DoubleClick)
                             showWindowsChosen();
                     });
    QObject::connect(icon_.get(), &QSystemTrayIcon::messageClicked, icon_.get(),
                     [this] { sentFaxesChosen(); });
    notification_->onClicked([this] { sentFaxesChosen(); });
}

SystemTrayIcon::~SystemTrayIcon() {
    // The window goes, the message about its send may still be clicked.
    KeepUntilAnswered(std::move(notification_));
}

bool SystemTrayIcon::available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTrayIcon::show(const QIcon& icon) {
    icon_->setIcon(icon);
    icon_->show();
}

void SystemTrayIcon::hide() {
    icon_->hide();
}

bool SystemTrayIcon::shown() const {
    return icon_->isVisible();
}

void SystemTrayIcon::setProgress(const QString& text) {
    icon_->setToolTip(text);
}

void SystemTrayIcon::notify(const QString& summary, const QString& body) {
    if (!notification_->show(summary, body) && icon_->isVisible())
        icon_->showMessage(summary, body, QSystemTrayIcon::Information);
}

}  // namespace miravo::ui
