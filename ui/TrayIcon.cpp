#include "ui/TrayIcon.h"

#include <QSystemTrayIcon>

namespace miravo::ui {

SystemTrayIcon::SystemTrayIcon() : icon_(std::make_unique<QSystemTrayIcon>()) {
    QObject::connect(icon_.get(), &QSystemTrayIcon::activated, icon_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::DoubleClick)
                             doubleClicked();
                     });
}

SystemTrayIcon::~SystemTrayIcon() = default;

bool SystemTrayIcon::available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTrayIcon::show(const QIcon& icon) {
    icon_->setIcon(icon);
    icon_->setToolTip(QString());
    icon_->show();
}

void SystemTrayIcon::hide() {
    icon_->hide();
}

bool SystemTrayIcon::shown() const {
    return icon_->isVisible();
}

}  // namespace miravo::ui
