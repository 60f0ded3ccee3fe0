#include "ui/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QStringList>
#include <QVariantMap>

namespace miravo::ui {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// The action a click on the message itself invokes.
const QString kDefaultAction = QStringLiteral("default");
constexpr int kCallTimeoutMs = 2000;

}  // namespace

DesktopNotification::DesktopNotification(QString busAddress, QObject* parent)
    : QObject(parent), busAddress_(std::move(busAddress)) {}

bool DesktopNotification::show(const QString& summary, const QString& body) {
    QDBusConnection bus = busAddress_.isEmpty()
                              ? QDBusConnection::sessionBus()
                              : QDBusConnection::connectToBus(busAddress_, QStringLiteral("miravo-notify"));
    if (!bus.isConnected())
        return false;
    if (!listening_)
        listening_ = bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                                 SLOT(actionInvoked(uint, QString)));
    QDBusInterface service(kService, kPath, kInterface, bus);
    service.setTimeout(kCallTimeoutMs);
    const QDBusReply<uint> reply = service.call(
        QStringLiteral("Notify"), QStringLiteral("Miravo"), uint(0), QStringLiteral("miravo"),
        summary, body, QStringList{kDefaultAction, summary}, QVariantMap{}, int(-1));
    if (!reply.isValid())
        return false;
    shownId_ = reply.value();
    return true;
}

void DesktopNotification::actionInvoked(uint id, const QString& action) {
    if (id == shownId_ && action == kDefaultAction && clicked_)
        clicked_();
}

}  // namespace miravo::ui
