// Miravo on the user's session bus, under its well-known name: the bus
// starts `miravo --bus-service` (activation) when the print backend hands
// over a printed job or the desktop opens the program, and the request
// arrives here through the standard org.freedesktop.Application interface.
// Each request starts one miravo process of its own in this session (one
// send per run, as ever), with all the documents of the request as one
// fax; that process offers them to a fax already open, when there is one.
// This process only starts them, and ends once they have all ended and no
// request came for a while.
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace miravo::ui {

inline constexpr char kBusName[] = "org.miravo.Miravo";
inline constexpr char kBusObjectPath[] = "/org/miravo/Miravo";

// What one Open call may ask for: at most this many documents, and no more
// programs started here may run at once (each is a window of its own).
// Anything beyond is refused whole with a bus error.
inline constexpr int kMaxDocumentsPerOpen = 16;
inline constexpr int kMaxRunningPrograms = 8;

// Starts one miravo with these arguments (file names as bytes); false when
// it could not be started.
using StartMiravo = std::function<bool(const std::vector<std::string>& arguments)>;
// How many miravo started here still run.
using StillRunning = std::function<int()>;

// The local file an Open URI names: "file:///ABSOLUTE" or
// "file://localhost/ABSOLUTE", percent-decoded to the file name's bytes,
// naming an existing regular file this user may read. None otherwise, with
// the reason in `why`.
std::optional<std::string> DocumentOfUri(const QString& uri, QString& why);

class SessionBusService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
  public:
    // idle() fires `idleMilliseconds` after the last request, or later,
    // once nothing started here runs any more. `running` may be empty:
    // nothing started here is then taken as running.
    SessionBusService(StartMiravo start, StillRunning running, int idleMilliseconds,
                      QObject* parent = nullptr);

  public slots:
    // The program without a file: the send dialog, or the waiting jobs.
    void Activate(const QVariantMap& platformData);
    // One miravo for the documents of the call (see DocumentOfUri), which
    // gets the files in order after "--", never where they could be read as
    // options. The call fails, and nothing is started, when any URI is
    // refused, when the call names more than kMaxDocumentsPerOpen
    // documents, or when kMaxRunningPrograms run already.
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
