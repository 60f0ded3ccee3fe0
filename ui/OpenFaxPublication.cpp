#include "ui/OpenFaxPublication.h"

#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <atomic>

#include "ui/SessionBusService.h"

namespace miravo::ui {

namespace {

// Longest description told over the bus.
constexpr int kMaxDescription = 300;

// The fax as the bus sees it.
class OpenFaxObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.miravo.Miravo.OpenFax")
  public:
    explicit OpenFaxObject(OpenFax& fax) : fax_(fax) {}

  public slots:
    QString Description() {
        if (!callerIsThisUser())
            return {};
        return fax_.description().left(kMaxDescription);
    }

    // Local file URIs, as the desktop hands them over (DocumentOfUri).
    void AddDocuments(const QStringList& uris) {
        if (!callerIsThisUser())
            return;
        if (uris.isEmpty() || uris.size() > kMaxDocumentsPerOpen) {
            sendErrorReply(QDBusError::InvalidArgs,
                           QStringLiteral("from 1 to %1 documents are added at once")
                               .arg(kMaxDocumentsPerOpen));
            return;
        }
        QStringList files;
        for (const QString& uri : uris) {
            QString why;
            const auto file = DocumentOfUri(uri, why);
            if (!file) {
                sendErrorReply(QDBusError::InvalidArgs,
                               QStringLiteral("%1: %2").arg(why, uri.left(200)));
                return;
            }
            files << QFile::decodeName(QByteArray::fromStdString(*file));
        }
        // The caller is answered now; the fax converts in its own time.
        QMetaObject::invokeMethod(
            this, [this, files] { fax_.addDocuments(files); }, Qt::QueuedConnection);
    }

  private:
    // Only a connection of this process's own user reaches the fax; any
    // other is refused (a bus that lets other users in is not trusted).
    bool callerIsThisUser() {
        if (!calledFromDBus())
            return true;
        const QDBusReply<uint> uid = connection().interface()->serviceUid(message().service());
        if (uid.isValid() && uid.value() == ::geteuid())
            return true;
        sendErrorReply(QDBusError::AccessDenied,
                       QStringLiteral("only the user of this fax may reach it"));
        return false;
    }

    OpenFax& fax_;
};

class BusPublication : public OpenFaxPublication {
  public:
    BusPublication(OpenFax& fax, QDBusConnection bus) : bus_(std::move(bus)), object_(fax) {
        static std::atomic<int> serial{0};
        name_ = QString::fromLatin1(kOpenFaxNamePrefix) +
                QStringLiteral("p%1_%2").arg(::getpid()).arg(++serial);
        path_ = OpenFaxPath(name_);
        published_ = bus_.isConnected() &&
                     bus_.registerObject(path_, &object_, QDBusConnection::ExportAllSlots);
        if (published_ && !bus_.registerService(name_)) {
            bus_.unregisterObject(path_);
            published_ = false;
        }
    }
    ~BusPublication() override {
        if (published_) {
            bus_.unregisterService(name_);
            bus_.unregisterObject(path_);
        }
    }
    bool published() const override { return published_; }
    QString busName() const override { return name_; }

  private:
    QDBusConnection bus_;
    OpenFaxObject object_;
    QString name_;
    QString path_;
    bool published_ = false;
};

}  // namespace

QDBusConnection SessionBusIfNamed() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
        (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"))))
        return QDBusConnection::sessionBus();
    return QDBusConnection(QStringLiteral("miravo-no-session-bus"));
}

QString OpenFaxPath(const QString& busName) {
    return QString::fromLatin1(kOpenFaxPathPrefix) +
           busName.mid(int(sizeof kOpenFaxNamePrefix) - 1);
}

std::unique_ptr<OpenFaxPublication> PublishOpenFax(OpenFax& fax, QDBusConnection bus) {
    return std::make_unique<BusPublication>(fax, std::move(bus));
}

}  // namespace miravo::ui

#include "OpenFaxPublication.moc"
