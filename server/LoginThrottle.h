// Slows password guessing down. After a run of failed logins for one
// account (or from one address, across accounts) further attempts are
// held: answered at once without their password being looked at, for a
// time that doubles with every further failure up to a ceiling. So a
// stranger can keep an account's new logins waiting for at most that
// ceiling after their last guess, and a client that logged in before with
// the same password is not held at all (see Service::authenticate).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace miravo::server {

struct ThrottleConfig {
    int freeLoginFailures = 5;   // per account before attempts are held
    int freePeerFailures = 20;   // per address, across accounts
    std::int64_t firstHoldMs = 1000;
    std::int64_t maxHoldMs = 60000;
    std::int64_t forgetMs = 15 * 60 * 1000;  // a quiet record is forgotten
};

class LoginThrottle {
  public:
    explicit LoginThrottle(ThrottleConfig config) : config_(config) {}

    // Whether the attempt may be checked now. An admitted attempt counts as
    // a failure at once, so that many attempts sent together cannot slip in
    // before the first of them has failed; succeeded() takes it back.
    bool admit(std::string_view login, std::string_view peer, std::int64_t nowMs);
    // After an admitted attempt whose password was right: the account's run
    // of failures ends; the address's only loses this attempt, so that a
    // guesser cannot clear it by logging into an account of its own.
    void succeeded(std::string_view login, std::string_view peer);

  private:
    struct Record {
        int failures = 0;
        std::int64_t lastFailureMs = 0;
        std::int64_t heldUntilMs = 0;
    };
    bool held(const std::string& key, std::int64_t nowMs) const;
    void count(const std::string& key, int freeFailures, std::int64_t nowMs);
    void prune(std::int64_t nowMs);

    const ThrottleConfig config_;
    std::mutex mutex_;
    std::unordered_map<std::string, Record> records_;  // "login:…" and "peer:…"
};

}  // namespace miravo::server
