// The fax service's actions: one form in, one answer out. Knows nothing of
// HTTP; the front end hands it the parsed form and the time of arrival.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/Answer.h"
#include "server/LoginThrottle.h"
#include "server/Multipart.h"
#include "server/Passwords.h"
#include "server/Store.h"

namespace miravo::server {

struct ServiceConfig {
    std::filesystem::path dataDir;          // faxes are kept under dataDir/faxes
    std::int64_t minPollIntervalMs = 1000;  // status polls of one fax closer than this get 301
    std::int64_t deliveryMs = 10000;        // how long a destination stays under way
    double rate = 0.10;                     // per page and destination
    std::size_t maxDestinations = 500;
    int maxPages = 200;
    std::size_t maxCoverTextBytes = 5997;
    ThrottleConfig throttle;
};

// The RESULT section an action's answer carries ("" for unknown actions).
std::string_view sectionOf(std::string_view action);

class Service {
  public:
    Service(Store& store, ServiceConfig config);

    // peer: the client's address, for slowing down password guessing.
    Answer handle(const FormData& form, std::int64_t nowMs, std::string_view peer = {});
    // From the leading fields of a request (action and credentials come
    // first): its answer when it is refused already (missing or unknown
    // action, credentials missing or refused), nothing when the rest of the
    // request is worth taking in.
    std::optional<Answer> screen(const FormData& lead, std::int64_t nowMs,
                                 std::string_view peer = {});
    // The answer to a body that could not be read as a form.
    static Answer formError(FormError error);

  private:
    struct Login {
        std::optional<Account> account;
        int error = 0;
    };
    Login authenticate(const std::string& login, const std::string& password,
                       std::string_view peer);
    // The action's answer to refused credentials.
    static Answer authRefusal(std::string_view action, int code, std::string_view login);

    Answer authentication(const FormData& form, std::string_view peer);
    Answer transfer(const FormData& form, std::int64_t nowMs, std::string_view peer);
    Answer faxStatus(const FormData& form, std::int64_t nowMs, std::string_view peer);
    Answer convert(const FormData& form, std::string_view peer);
    Answer getPreferences(const FormData& form, std::string_view peer);
    Answer updatePreferences(const FormData& form, std::string_view peer);
    Answer getAddressBook(const FormData& form, std::string_view peer);
    Answer updateAddressBook(const FormData& form, std::string_view peer);
    void addAddressBook(class AnswerXml& xml, std::int64_t accountId);

    Store& store_;
    ServiceConfig config_;
    VerifiedCredentials verified_;
    LoginThrottle throttle_;
    std::string dummyHash_;  // checked for unknown logins, so they take as long as known ones
    std::mutex pollMutex_;
    std::map<std::pair<std::int64_t, std::int64_t>, std::int64_t> lastPoll_;
};

// Destination pairs of a form: "numbers[k]" in order, each with "names[k]".
std::vector<std::pair<std::string, std::string>> formDestinations(const FormData& form);

bool plausibleEmail(std::string_view email);

}  // namespace miravo::server
