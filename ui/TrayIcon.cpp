#include "ui/TrayIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include "app/LanguageTable.h"
#include "ui/DialogControls.h"
#include "ui/TextIds.h"

namespace miravo::ui {

SystemTrayIcon::SystemTrayIcon(const LanguageTable& language)
    : menu_(std::make_unique<QMenu>()), icon_(std::make_unique<QSystemTrayIcon>()) {
    QObject::connect(menu_->addAction(qstr(GetText(language, text::kSentFaxes))),
                     &QAction::triggered, icon_.get(), [this] { sentFaxesChosen(); });
    icon_->setContextMenu(menu_.get());
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
