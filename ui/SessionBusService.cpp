#include "ui/SessionBusService.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QFile>
#include <QUrl>
#include <filesystem>

extern char** environ;

namespace miravo::ui {

namespace {

// The service ends this long after the last request.
constexpr int kIdleMilliseconds = 10000;

// Starts `program` in a session of its own, with our environment (the one
// the desktop gave the bus), only descriptors 0-2 and default signal
// handling.
bool startProgram(const std::string& program, const std::vector<std::string>& arguments) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const int failed =
        ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0;
}

}  // namespace

SessionBusService::SessionBusService(StartMiravo start, StillRunning running, int idleMilliseconds,
                                     QObject* parent)
    : QObject(parent), start_(std::move(start)), running_(std::move(running)) {
    idle_.setSingleShot(true);
    idle_.setInterval(idleMilliseconds);
    connect(&idle_, &QTimer::timeout, this, [this] {
        if (running_ && running_())
            idle_.start();
        else
            emit idle();
    });
    idle_.start();
}

void SessionBusService::refuse(const QString& text) {
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, text);
}

void SessionBusService::Activate(const QVariantMap&) {
    idle_.start();
    if (!start_({}))
        refuse(QStringLiteral("Miravo cannot be started"));
}

void SessionBusService::Open(const QStringList& uris, const QVariantMap&) {
    idle_.start();
    std::vector<std::string> files;
    for (const QString& uri : uris) {
        const QUrl url(uri, QUrl::StrictMode);
        if (!url.isValid() || !url.isLocalFile() || !url.host().isEmpty()) {
            refuse(QStringLiteral("not a local file: %1").arg(uri));
            return;
        }
        files.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    if (files.empty()) {
        refuse(QStringLiteral("no file to open"));
        return;
    }
    for (const std::string& file : files) {
        if (!start_({file})) {
            refuse(QStringLiteral("Miravo cannot be started"));
            return;
        }
    }
}

void SessionBusService::ActivateAction(const QString& name, const QVariantList&,
                                       const QVariantMap&) {
    idle_.start();
    refuse(QStringLiteral("no such action: %1").arg(name));
}

int RunSessionBusService(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::error_code ec;
    const std::string program = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    int started = 0;
    SessionBusService service(
        [&](const std::vector<std::string>& arguments) {
            const bool ok = startProgram(program, arguments);
            started += ok ? 1 : 0;
            return ok;
        },
        [&] {
            // The programs started here that have ended are reaped now.
            int status = 0;
            while (started > 0 && ::waitpid(-1, &status, WNOHANG) > 0)
                --started;
            return started > 0;
        },
        kIdleMilliseconds);
    QObject::connect(&service, &SessionBusService::idle, &application, &QCoreApplication::quit);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() ||
        !bus.registerObject(QString::fromLatin1(kBusObjectPath), &service,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QString::fromLatin1(kBusName)))
        return 1;
    return application.exec();
}

}  // namespace miravo::ui
