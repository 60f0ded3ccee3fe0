// Where a saved service password lives besides the settings file: the
// desktop's secret store. The settings keep only the note of where it is
// (PASS_STORE); this interface is what that store must offer, so the start
// and the end of every program, and the tests, work with any of them.
#pragma once

#include <string>

namespace miravo {

class PasswordStore {
  public:
    enum class Result {
        Done,        // stored, read or removed
        NotFound,    // nothing under this host and user
        Unavailable  // no secret store answers, or it refused
    };
    virtual ~PasswordStore() = default;
    // Entries are keyed by the service host ("host[:port]") and the user name.
    virtual Result read(const std::u16string& host, const std::u16string& user,
                        std::u16string& password) = 0;
    virtual Result write(const std::u16string& host, const std::u16string& user,
                         const std::u16string& password) = 0;
    virtual Result remove(const std::u16string& host, const std::u16string& user) = 0;
    // Whether the store is running and open already, so that using it
    // brings up no window of its own (a new keyring's password, an unlock
    // prompt). A password is moved into the store unasked only then.
    virtual bool openWithoutPrompt() { return true; }
};

}  // namespace miravo
