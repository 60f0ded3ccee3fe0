// The desktop's secret store (Secret Service: GNOME Keyring, KWallet) over
// the session bus, through QtKeychain. Needs a QCoreApplication.
#pragma once

#include <memory>

#include "app/PasswordStore.h"

namespace miravo {

std::unique_ptr<PasswordStore> MakeKeyringStore();

}  // namespace miravo
