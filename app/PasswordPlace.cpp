#include "app/PasswordPlace.h"

#include "app/SettingsStore.h"

namespace miravo {

namespace {

using Result = PasswordStore::Result;

// Stores and reads back: only a store that returns the same password holds it.
bool storeConfirmed(PasswordStore& store, AppSettings& s) {
    if (store.write(s.serviceHost, s.userName, s.password) != Result::Done)
        return false;
    std::u16string back;
    if (store.read(s.serviceHost, s.userName, back) != Result::Done || back != s.password)
        return false;
    s.keyringHost = s.serviceHost;
    s.keyringUser = s.userName;
    return true;
}

}  // namespace

void LoadPassword(AppPaths& paths, PasswordStore& store) {
    if (!paths.state)
        return;
    AppSettings& s = paths.state->settings;
    if (s.passwordInKeyring) {
        std::u16string password;
        if (store.read(s.serviceHost, s.userName, password) == Result::Done) {
            s.password = password;
            s.keyringHost = s.serviceHost;
            s.keyringUser = s.userName;
        }
        return;
    }
    if (!s.savePassword || s.password.empty() || s.userName.empty())
        return;
    // Moved unasked only into a store that is open already: a keyring that
    // would first have to start, be made or be unlocked would put its own
    // window before the program's. Options offers the move then.
    if (!store.openWithoutPrompt())
        return;
    if (!storeConfirmed(store, s))
        return;
    s.passwordInKeyring = true;
    // Rewrites the file without the password; should that fail, the file
    // still names the file as its place and keeps it.
    if (!SaveSettings(paths))
        s.passwordInKeyring = false;
}

bool MovePasswordToStore(AppPaths& paths, PasswordStore& store) {
    if (!paths.state)
        return false;
    AppSettings& s = paths.state->settings;
    s.keyringMoveAsked = true;
    if (s.passwordInKeyring)
        return true;
    if (s.password.empty() || s.userName.empty() || !storeConfirmed(store, s))
        return false;
    s.passwordInKeyring = true;
    if (!SaveSettings(paths))
        s.passwordInKeyring = false;
    return s.passwordInKeyring;
}

void StorePassword(AppSettings& s, PasswordStore& store) {
    // The entry under the login this run started with is stale once the
    // user name or host changed.
    const std::u16string oldHost = s.keyringHost, oldUser = s.keyringUser;
    const bool staleEntry = !oldUser.empty() && (oldHost != s.serviceHost || oldUser != s.userName);
    if (!s.savePassword) {
        if (s.passwordInKeyring)
            store.remove(s.serviceHost, s.userName);
        if (staleEntry)
            store.remove(oldHost, oldUser);
        s.passwordInKeyring = false;
        s.keyringHost.clear();
        s.keyringUser.clear();
        return;
    }
    // No password known (the store could not be read at start): the entry
    // stays where it is.
    if (s.password.empty() || s.userName.empty())
        return;
    // A password kept in the file stays there unless the store is open or
    // the user asked for the move.
    if (!s.passwordInKeyring && !s.keyringMoveAsked && !store.openWithoutPrompt())
        return;
    s.passwordInKeyring = storeConfirmed(store, s);
    if (s.passwordInKeyring && staleEntry)
        store.remove(oldHost, oldUser);
}

}  // namespace miravo
