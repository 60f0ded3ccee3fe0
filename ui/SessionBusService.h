// Miravo on the user's session bus, under its well-known name: the bus
// starts `miravo --bus-service` (activation) when the print backend hands
// over a printed job or the desktop opens the program, and the request
// arrives here through the standard org.freedesktop.Application interface.
// Each request starts one miravo process of its own in this session (one
// send per run, as ever); this process only starts them, and ends once
// they have all ended and no request came for a while.
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <functional>
#include <string>
#include <vector>

namespace miravo::ui {

inline constexpr char kBusName[] = "org.miravo.Miravo";
inline constexpr char kBusObjectPath[] = "/org/miravo/Miravo";

// Starts one miravo with these arguments (file names as bytes); false when
// it could not be started.
using StartMiravo = std::function<bool(const std::vector<std::string>& arguments)>;
// Whether a miravo started here still runs.
using StillRunning = std::function<bool()>;

class SessionBusService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
  public:
    // idle() fires `idleMilliseconds` after the last request, or later,
    // once nothing started here runs any more.
    SessionBusService(StartMiravo start, StillRunning running, int idleMilliseconds,
                      QObject* parent = nullptr);

  public slots:
    // The program without a file: the send dialog, or the waiting jobs.
    void Activate(const QVariantMap& platformData);
    // One miravo per local file ("file://" URIs only); the call fails, and
    // nothing is started, when any URI is not a local file or a start fails.
    void Open(const QStringList& uris, const QVariantMap& platformData);
    // The desktop entry names no actions: every action is refused.
    void ActivateAction(const QString& name, const QVariantList& parameter,
                        const QVariantMap& platformData);

  signals:
    void idle();

  private:
    void refuse(const QString& text);
    StartMiravo start_;
    StillRunning running_;
    QTimer idle_;
};

// The process the bus starts: owns the name, serves requests, ends when
// idle. Returns the exit status.
int RunSessionBusService(int argc, char** argv);

}  // namespace miravo::ui
