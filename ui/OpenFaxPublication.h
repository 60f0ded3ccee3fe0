// An open fax made known on this user's session bus, so that documents
// printed while it is open can be offered to it (OpenFaxOffer.h). Each
// open fax owns a bus name of its own under kOpenFaxNamePrefix, which the
// bus drops when its process ends. Only callers of this user are served,
// and only with local files this user may read.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <memory>

#include "ui/OpenFax.h"

namespace miravo::ui {

inline constexpr char kOpenFaxNamePrefix[] = "org.miravo.Miravo.OpenFax.";
inline constexpr char kOpenFaxPathPrefix[] = "/org/miravo/Miravo/OpenFax/";
inline constexpr char kOpenFaxInterface[] = "org.miravo.Miravo.OpenFax";

// This session's bus when the session names one (DBUS_SESSION_BUS_ADDRESS,
// or a bus in XDG_RUNTIME_DIR); otherwise a connection that is not
// connected, so that nothing starts a bus of its own.
QDBusConnection SessionBusIfNamed();

// The object path an open fax's name serves its fax at.
QString OpenFaxPath(const QString& busName);

// Withdraws the fax from the bus when destroyed: from then on nothing
// reaches it, not even a request already received.
class OpenFaxPublication {
  public:
    virtual ~OpenFaxPublication() = default;
    // Whether the fax could be made known (not without a session bus).
    virtual bool published() const = 0;
    // Its name on the bus.
    virtual QString busName() const = 0;
};

// Makes `fax` known on `bus` until the result is destroyed, which must
// happen before `fax` is. Documents handed to it reach fax.addDocuments()
// from the event loop, never inside the bus call.
std::unique_ptr<OpenFaxPublication> PublishOpenFax(
    OpenFax& fax, QDBusConnection bus = SessionBusIfNamed());

}  // namespace miravo::ui
