// Slows password guessing down. After a run of failed logins for one
// account (or from one address, across accounts) further attempts are
// held: answered at once without their password being looked at, for a
// time that doubles with every further failure up to a ceiling. Every
// attempt is held alike, the owner's right password too (see
// Service::authenticate): a stranger can keep the owner waiting for at most
// that ceiling after their last guess.
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

// What an admitted attempt set on its address, for succeeded() to take back.
struct Admission {
    std::int64_t peerHeldUntilMs = 0;  // 0: it set no hold
};

class LoginThrottle {
  public:
    explicit LoginThrottle(ThrottleConfig config) : config_(config) {}

    // Whether the attempt may be checked now. An admitted attempt counts as
    // a failure at once, so that many attempts sent together cannot slip in
    // before the first of them has failed; succeeded() takes it back.
    bool admit(std::string_view login, std::string_view peer, std::int64_t nowMs,
               Admission* admission = nullptr);
    // After an admitted attempt whose password was right: the account's run
    // of failures ends; the address's only loses this attempt (and the hold
    // it set, unless a later failure has set another), so that a guesser
    // cannot clear it by logging into an account of its own.
    void succeeded(std::string_view login, std::string_view peer,
                   const Admission& admission = {});

  private:
    struct Record {
        int failures = 0;
        std::int64_t lastFailureMs = 0;
        std::int64_t heldUntilMs = 0;
    };
    bool held(const std::string& key, std::int64_t nowMs) const;
    // Counts a failure; the end of the hold it set, 0 for none.
    std::int64_t count(const std::string& key, int freeFailures, std::int64_t nowMs);
    void prune(std::int64_t nowMs);

    const ThrottleConfig config_;
    std::mutex mutex_;
    std::unordered_map<std::string, Record> records_;  // "login:…" and "peer:…"
};

}  // namespace miravo::server
