#include "app/KeyringStore.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <functional>

namespace miravo {

namespace {

// A store that waits for a locked keyring's unlock prompt no longer than
// this; a store that does not answer counts as none.
constexpr int kAnswerLimitMs = 60'000;

// Entries of every fax service the user works with sit side by side.
QString serviceName(const std::u16string& host) {
    return QStringLiteral("Miravo fax service ") + QString::fromStdU16String(host);
}

// Runs a job to its end (or the limit) and says how it went. The job deletes
// itself when it finishes, even after the limit.
// `onFinished` sees the finished job, only while this call waits for it.
PasswordStore::Result run(QKeychain::Job* job,
                          const std::function<void(QKeychain::Job*)>& onFinished = {}) {
    if (!QCoreApplication::instance()) {  // no event loop to hear the answer
        delete job;
        return PasswordStore::Result::Unavailable;
    }
    QEventLoop loop;
    bool finished = false;
    QKeychain::Error error = QKeychain::OtherError;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* done) {
        finished = true;
        error = done->error();
        if (onFinished && error == QKeychain::NoError)
            onFinished(done);
        loop.quit();
    });
    QTimer::singleShot(kAnswerLimitMs, &loop, &QEventLoop::quit);
    job->setAutoDelete(true);
    job->start();
    loop.exec();
    if (!finished)
        return PasswordStore::Result::Unavailable;
    if (error == QKeychain::NoError)
        return PasswordStore::Result::Done;
    if (error == QKeychain::EntryNotFound)
        return PasswordStore::Result::NotFound;
    return PasswordStore::Result::Unavailable;
}

class KeyringStore final : public PasswordStore {
  public:
    Result read(const std::u16string& host, const std::u16string& user,
                std::u16string& password) override {
        auto* job = new QKeychain::ReadPasswordJob(serviceName(host));
        job->setKey(QString::fromStdU16String(user));
        return run(job, [&password](QKeychain::Job* done) {
            password = static_cast<QKeychain::ReadPasswordJob*>(done)->textData().toStdU16String();
        });
    }

    Result write(const std::u16string& host, const std::u16string& user,
                 const std::u16string& password) override {
        auto* job = new QKeychain::WritePasswordJob(serviceName(host));
        job->setKey(QString::fromStdU16String(user));
        job->setTextData(QString::fromStdU16String(password));
        return run(job);
    }

    Result remove(const std::u16string& host, const std::u16string& user) override {
        auto* job = new QKeychain::DeletePasswordJob(serviceName(host));
        job->setKey(QString::fromStdU16String(user));
        return run(job);
    }

    bool openWithoutPrompt() override {
        // Asked without starting anything: whether the Secret Service's
        // name has an owner now (a call to the name itself would have the
        // bus start the keyring daemon), then whether its default
        // collection exists and is unlocked.
        if (!QCoreApplication::instance() || !sessionBusNamed())
            return false;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected() || !bus.interface())
            return false;
        const QDBusReply<bool> owned =
            bus.interface()->call(QStringLiteral("NameHasOwner"), kSecretService);
        if (!owned.isValid() || !owned.value())
            return false;
        QDBusMessage get = QDBusMessage::createMethodCall(
            kSecretService, QStringLiteral("/org/freedesktop/secrets/aliases/default"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
        get.setAutoStartService(false);
        const QDBusReply<QDBusVariant> locked = bus.call(get, QDBus::Block, kAskLimitMs);
        return locked.isValid() && !locked.value().variant().toBool();
    }

  private:
    // Whether there is a session bus to ask at all. Without one, connecting
    // would only start the bus connection's own thread, for nothing, and
    // leave it to be wound down when the program ends.
    static bool sessionBusNamed() {
        if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            return true;
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        return !runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists();
    }

    static constexpr int kAskLimitMs = 3000;
    inline static const QString kSecretService = QStringLiteral("org.freedesktop.secrets");
};

}  // namespace

std::unique_ptr<PasswordStore> MakeKeyringStore() {
    return std::make_unique<KeyringStore>();
}

}  // namespace miravo
