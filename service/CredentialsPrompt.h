// How the send worker asks the user for the service credentials: the
// desktop program shows its credentials dialog, the headless sender asks on
// the terminal, tests answer from a script. The prompt edits user name,
// password and the save-password choice in AppState::settings in memory.
#pragma once

#include "app/AppState.h"

namespace miravo {

class CredentialsPrompt {
  public:
    virtual ~CredentialsPrompt() = default;
    // True when the user confirmed (even with empty entries), false when
    // the user gave up: the send then ends.
    virtual bool ask(AppState& state) = 0;
};

}  // namespace miravo
