#include "ui/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <algorithm>
#include <vector>

namespace miravo::ui {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// The action a click on the message itself invokes.
const QString kDefaultAction = QStringLiteral("default");
constexpr int kCallTimeoutMs = 2000;

QDBusConnection busAt(const QString& address) {
    if (address.isEmpty())
        return QDBusConnection::sessionBus();
    // One connection per bus: a name already taken stands for its own bus.
    return QDBusConnection::connectToBus(address, QStringLiteral("miravo-notify ") + address);
}

std::vector<std::unique_ptr<DesktopNotification>>& keptNotifications() {
    static std::vector<std::unique_ptr<DesktopNotification>> kept;
    return kept;
}

bool anyKeptPending() {
    const auto& kept = keptNotifications();
    return std::any_of(kept.begin(), kept.end(), [](const auto& n) { return n->pending(); });
}

}  // namespace

DesktopNotification::DesktopNotification(QString busAddress, QObject* parent)
    : QObject(parent), busAddress_(std::move(busAddress)) {}

bool DesktopNotification::show(const QString& summary, const QString& body) {
    QDBusConnection bus = busAt(busAddress_);
    if (!bus.isConnected())
        return false;
    if (!listening_)
        listening_ = bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                                 SLOT(actionInvoked(uint, QString))) &&
                     bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"),
                                 this, SLOT(notificationClosed(uint, uint)));
    QDBusInterface service(kService, kPath, kInterface, bus);
    service.setTimeout(kCallTimeoutMs);
    const QDBusReply<uint> reply = service.call(
        QStringLiteral("Notify"), QStringLiteral("Miravo"), shownId_, QStringLiteral("miravo"),
        summary, body, QStringList{kDefaultAction, summary}, QVariantMap{}, kNotificationShownMs);
    if (!reply.isValid())
        return false;
    shownId_ = reply.value();
    return true;
}

void DesktopNotification::withdraw() {
    if (!shownId_)
        return;
    QDBusInterface service(kService, kPath, kInterface, busAt(busAddress_));
    service.setTimeout(kCallTimeoutMs);
    service.call(QStringLiteral("CloseNotification"), shownId_);
    shownId_ = 0;
    emit ended();
}

void DesktopNotification::actionInvoked(uint id, const QString& action) {
    if (id != shownId_ || id == 0 || action != kDefaultAction)
        return;
    shownId_ = 0;
    if (clicked_)
        clicked_();
    emit ended();
}

void DesktopNotification::notificationClosed(uint id, uint) {
    if (id != shownId_ || id == 0)
        return;
    shownId_ = 0;
    emit ended();
}

void KeepUntilAnswered(std::unique_ptr<DesktopNotification> notification) {
    if (!notification || !notification->pending())
        return;
    notification->onClicked({});
    notification->setParent(nullptr);
    keptNotifications().push_back(std::move(notification));
}

void WaitForKeptNotifications(const std::function<void()>& clicked, int maxMs) {
    auto& kept = keptNotifications();
    QEventLoop loop;
    bool clickedOne = false;
    for (const auto& notification : kept) {
        notification->onClicked([&clickedOne, &loop] {
            clickedOne = true;
            loop.quit();
        });
        QObject::connect(notification.get(), &DesktopNotification::ended, &loop, [&loop] {
            if (!anyKeptPending())
                loop.quit();
        });
    }
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (anyKeptPending()) {
        limit.start(maxMs);
        loop.exec();
    }
    for (const auto& notification : kept)
        notification->withdraw();
    kept.clear();
    if (clickedOne && clicked)
        clicked();
}

}  // namespace miravo::ui
