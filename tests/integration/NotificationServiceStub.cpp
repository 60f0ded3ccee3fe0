// A desktop notification service for tests: takes the name
// org.freedesktop.Notifications on the session bus it is started on,
// prints every message it is asked to show as "summary|body" on its
// standard output, and then reports a click on it, as a user would.
// With --no-click nobody clicks; a message taken back is printed as
// "closed".
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <cstdio>

class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    explicit NotificationService(bool click) : click_(click) {}

  public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        const uint id = ++lastId_;
        std::printf("%s|%s\n", qPrintable(summary), qPrintable(body));
        std::fflush(stdout);
        if (!click_)
            return id;
        QTimer::singleShot(100, this, [id] {
            QDBusMessage clicked = QDBusMessage::createSignal(
                QStringLiteral("/org/freedesktop/Notifications"),
                QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
            clicked << id << QStringLiteral("default");
            QDBusConnection::sessionBus().send(clicked);
        });
        return id;
    }
    void CloseNotification(uint id) {
        std::printf("closed %u\n", id);
        std::fflush(stdout);
        QDBusMessage closed = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("NotificationClosed"));
        closed << id << uint(3);  // closed by a call to CloseNotification
        QDBusConnection::sessionBus().send(closed);
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

  private:
    bool click_;
    uint lastId_ = 0;
};

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    NotificationService service(!application.arguments().contains(QStringLiteral("--no-click")));
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "cannot take the notification service's name\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return application.exec();
}

#include "NotificationServiceStub.moc"
