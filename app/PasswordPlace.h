// Keeps the saved password in the desktop's secret store when there is one,
// and in the settings file (USER_PASS) when there is none. Programs call
// LoadPassword right after LoadSettings and StorePassword right before
// SaveSettings; in between everything reads state.settings.password.
#pragma once

#include "app/AppState.h"
#include "app/PasswordStore.h"

namespace miravo {

// PASS_STORE=keyring: reads the password from the store (an unreadable
// store leaves it empty, and the user is asked as when none was saved).
// Otherwise, with "Save password" on and a password in the file, moves it
// to the store: the file is rewritten without it only once the store has
// given the same password back. Without a store nothing changes.
void LoadPassword(AppPaths& paths, PasswordStore& store);

// The move the user asked for (Options): the saved password goes to the
// store now, even when the store first shows a window of its own, and the
// settings file is rewritten without it. False when the store did not take it.
bool MovePasswordToStore(AppPaths& paths, PasswordStore& store);

// Puts the password where it is to be kept at exit: with "Save password"
// on, in the store when it takes it, else in the file as before; with it
// off, removes an entry this program put in the store.
void StorePassword(AppSettings& settings, PasswordStore& store);

}  // namespace miravo
