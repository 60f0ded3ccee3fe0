// Documents printed while a fax is open are offered to it: the program
// started for them asks the user whether they go into an open fax (which
// one, when several are open) or make a new fax, and hands them over
// through the session bus (OpenFaxPublication.h).
#pragma once

#include <QDBusConnection>
#include <QString>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace miravo::ui {

struct OpenFaxOnBus {
    QString busName;
    QString description;
};

// The open faxes of this user on `bus`, in the order of their names. A
// name held by another user's connection, or one that does not answer, is
// left out.
std::vector<OpenFaxOnBus> FindOpenFaxes(QDBusConnection bus);

// Hands `files` (local file names as bytes, in order) to the open fax
// `busName`. True once it took them; false when it has closed meanwhile or
// refused them.
bool AddToOpenFax(QDBusConnection bus, const QString& busName,
                  const std::vector<std::string>& files);

// The user's choice among open faxes: the index of the one to add to, or
// none for a new fax.
using ChooseOpenFax =
    std::function<std::optional<std::size_t>(const std::vector<OpenFaxOnBus>&)>;

// Offers `files` to the open faxes of this user, when there are any. True
// when an open fax took them; false when they are to make a new fax (none
// is open, the user chose a new fax, or the chosen one has closed since).
bool OfferToOpenFax(QDBusConnection bus, const std::vector<std::string>& files,
                    const ChooseOpenFax& choose);

}  // namespace miravo::ui
