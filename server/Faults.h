// Faults the service injects on purpose, chosen per run, so that tests can
// watch the client cope with a misbehaving service. A rule is written
//
//   KIND[:VALUE][,action=NAME][,after=N][,count=N]
//
// with KIND one of delay:MS, close, empty, truncate, error:CODE, refuse:SECONDS.
// A rule applies to requests of that action (any action when none is named),
// skips the first `after` of them and then applies `count` times (always when
// no count is given). "refuse" stops accepting connections for SECONDS, at
// start (after=0) or once the after-th request has been answered. Only
// requests with accepted credentials count: a stranger can neither trigger
// a rule nor use up its count.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace miravo::server {

enum class FaultKind { Delay, Close, Empty, Truncate, Error, Refuse };

struct FaultRule {
    FaultKind kind = FaultKind::Delay;
    int value = 0;  // milliseconds, error code or seconds
    std::string action;
    int after = 0;
    int count = -1;  // -1: no limit
};

std::optional<FaultRule> parseFaultRule(std::string_view spec, std::string& error);
std::string describe(const FaultRule& rule);

// What to do to one request.
struct FaultDecision {
    int delayMs = 0;
    std::optional<FaultKind> outcome;  // Close, Empty, Truncate or Error
    int errorCode = 0;
    bool any() const { return delayMs > 0 || outcome.has_value(); }
    std::string text() const;
};

class FaultPlan {
  public:
    bool add(std::string_view spec, std::string& error);
    // One rule per line; blank lines and lines starting with '#' are skipped.
    bool load(const std::filesystem::path& file, std::string& error);
    bool empty() const { return rules_.empty(); }
    const std::vector<FaultRule>& rules() const { return rules_; }

    FaultDecision decide(std::string_view action);
    // Seconds to refuse connections before serving at all.
    int refuseAtStart() const;
    // Called after each answered request whose credentials were accepted;
    // seconds to refuse from now on, 0 for none.
    int refuseAfter(std::string_view action);

  private:
    struct State {
        int seen = 0;
        int applied = 0;
    };
    std::vector<FaultRule> rules_;
    std::vector<State> state_;
    std::mutex mutex_;
};

}  // namespace miravo::server
