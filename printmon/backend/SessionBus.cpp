#include "printmon/backend/SessionBus.h"

#include <dbus/dbus.h>
#include <sys/stat.h>

namespace miravo::backend {

namespace fs = std::filesystem;

namespace {

// Starting the program through activation may take a while on a busy
// desktop; the bus itself gives up after 25 s.

struct ErrorGuard {
    DBusError error;
    ErrorGuard() { dbus_error_init(&error); }
    ~ErrorGuard() { dbus_error_free(&error); }
    std::string text() const {
        return dbus_error_is_set(&error) ? std::string(error.message ? error.message : error.name)
                                         : std::string("no answer");
    }
};

bool ownedBy(const fs::path& path, uid_t uid, struct stat& info) {
    return ::lstat(path.c_str(), &info) == 0 && info.st_uid == uid;
}

}  // namespace

std::optional<fs::path> UserBusSocket(uid_t uid, const fs::path& runtimeRoot, std::string& reason) {
    const fs::path folder = runtimeRoot / std::to_string(uid);
    const fs::path socket = folder / "bus";
    struct stat info {};
    if (!ownedBy(folder, uid, info) || !S_ISDIR(info.st_mode) || (info.st_mode & 022) != 0) {
        reason = "the user has no runtime folder " + folder.string() + " of their own";
        return std::nullopt;
    }
    if (!ownedBy(socket, uid, info) || !S_ISSOCK(info.st_mode)) {
        reason = "the user has no session bus at " + socket.string();
        return std::nullopt;
    }
    return socket;
}

std::string FileUri(const fs::path& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char c : path.string()) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                           c == '~' || c == '/';
        if (plain) {
            uri.push_back(c);
        } else {
            uri.push_back('%');
            uri.push_back(kHex[byte >> 4]);
            uri.push_back(kHex[byte & 15]);
        }
    }
    return uri;
}

bool OpenOnSessionBus(const fs::path& socket, const std::vector<fs::path>& files,
                      std::string& error) {
    // The address is built from a checked path, never taken from an
    // environment; characters outside the address syntax are escaped.
    char* escaped = dbus_address_escape_value(socket.c_str());
    if (!escaped) {
        error = "out of memory";
        return false;
    }
    const std::string address = std::string("unix:path=") + escaped;
    dbus_free(escaped);

    ErrorGuard failure;
    DBusConnection* bus = dbus_connection_open_private(address.c_str(), &failure.error);
    if (!bus) {
        error = "the session bus cannot be reached: " + failure.text();
        return false;
    }
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    bool ok = false;
    if (!dbus_bus_register(bus, &failure.error)) {
        error = "the session bus refused the connection: " + failure.text();
    } else if (DBusMessage* call = dbus_message_new_method_call(
                   kMiravoBusName, kMiravoObjectPath, "org.freedesktop.Application", "Open")) {
        DBusMessageIter arguments, uris, platformData;
        dbus_message_iter_init_append(call, &arguments);
        bool built = dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "s", &uris);
        for (const fs::path& file : files) {
            const std::string uri = FileUri(file);
            const char* uriText = uri.c_str();
            built = built && dbus_message_iter_append_basic(&uris, DBUS_TYPE_STRING, &uriText);
        }
        built = built && dbus_message_iter_close_container(&arguments, &uris) &&
            dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "{sv}", &platformData) &&
            dbus_message_iter_close_container(&arguments, &platformData);
        if (!built) {
            error = "out of memory";
        } else if (DBusMessage* reply = dbus_connection_send_with_reply_and_block(
                       bus, call, kOpenCallMilliseconds, &failure.error)) {
            ok = true;
            dbus_message_unref(reply);
        } else {
            error = "Miravo did not take the job: " + failure.text();
        }
        dbus_message_unref(call);
    } else {
        error = "out of memory";
    }
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    return ok;
}

}  // namespace miravo::backend
