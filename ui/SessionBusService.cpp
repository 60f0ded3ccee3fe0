#include "ui/SessionBusService.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
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

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The bytes of a URI path; none for a broken escape or an escaped NUL.
std::optional<std::string> percentDecoded(const QByteArray& path) {
    std::string bytes;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (path[i] != '%') {
            bytes.push_back(path[i]);
            continue;
        }
        const int high = i + 2 < path.size() ? hexValue(path[i + 1]) : -1;
        const int low = i + 2 < path.size() ? hexValue(path[i + 2]) : -1;
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            return std::nullopt;
        bytes.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return bytes;
}

}  // namespace

std::optional<std::string> DocumentOfUri(const QString& uri, QString& why) {
    // Only the plain form with an empty or "localhost" authority: never a
    // relative name, another host, a query or a fragment.
    const QByteArray text = uri.toUtf8();
    constexpr char kScheme[] = "file://";
    if (!text.startsWith(kScheme) || text.contains('\0') || text.contains('?') ||
        text.contains('#')) {
        why = QStringLiteral("not an absolute file URI");
        return std::nullopt;
    }
    QByteArray rest = text.mid(sizeof kScheme - 1);
    if (rest.startsWith("localhost/"))
        rest = rest.mid(9);
    if (!rest.startsWith('/')) {
        why = QStringLiteral("not a file of this computer");
        return std::nullopt;
    }
    const std::optional<std::string> path = percentDecoded(rest);
    if (!path) {
        why = QStringLiteral("not a valid file URI");
        return std::nullopt;
    }
    struct stat info {};
    if (::stat(path->c_str(), &info) != 0) {
        why = QStringLiteral("no such file");
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        why = QStringLiteral("not a regular file");
        return std::nullopt;
    }
    if (::access(path->c_str(), R_OK) != 0) {
        why = QStringLiteral("the file cannot be read");
        return std::nullopt;
    }
    return path;
}

SessionBusService::SessionBusService(StartMiravo start, StillRunning running, int idleMilliseconds,
                                     QObject* parent)
    : QObject(parent), start_(std::move(start)), running_(std::move(running)) {
    idle_.setSingleShot(true);
    idle_.setInterval(idleMilliseconds);
    connect(&idle_, &QTimer::timeout, this, [this] {
        if (running_ && running_() > 0)
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
    if (running_ && running_() >= kMaxRunningPrograms)
        refuse(QStringLiteral("%1 Miravo windows are open already; close some first")
                   .arg(kMaxRunningPrograms));
    else if (!start_({}))
        refuse(QStringLiteral("Miravo cannot be started"));
}

void SessionBusService::Open(const QStringList& uris, const QVariantMap&) {
    idle_.start();
    if (uris.isEmpty()) {
        refuse(QStringLiteral("no file to open"));
        return;
    }
    if (uris.size() > kMaxDocumentsPerOpen) {
        refuse(
            QStringLiteral("at most %1 documents can be opened at once").arg(kMaxDocumentsPerOpen));
        return;
    }
    std::vector<std::string> arguments = {"--"};
    for (const QString& uri : uris) {
        QString why;
        const auto file = DocumentOfUri(uri, why);
        if (!file) {
            refuse(QStringLiteral("%1: %2").arg(why, uri.left(200)));
            return;
        }
        arguments.push_back(*file);
    }
    const int running = running_ ? running_() : 0;
    if (running >= kMaxRunningPrograms) {
        refuse(QStringLiteral("%1 Miravo windows are open already; close some first").arg(running));
        return;
    }
    if (!start_(arguments))
        refuse(QStringLiteral("Miravo cannot be started"));
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
            return started;
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
