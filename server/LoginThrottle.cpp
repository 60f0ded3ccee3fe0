#include "server/LoginThrottle.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace miravo::server {

namespace {

constexpr std::size_t kMaxRecords = 20000;

// Logins are compared without regard to case.
std::string loginKey(std::string_view login) {
    std::string key = "login:";
    for (unsigned char c : login)
        key.push_back(static_cast<char>(std::tolower(c)));
    return key;
}

// Every loopback address is this machine: all of 127.0.0.0/8, ::1 and
// their IPv4-mapped forms count as one address, so that a local guesser
// cannot step to a fresh address of its own. An IPv4-mapped address counts
// as the IPv4 address it maps.
std::string peerKey(std::string_view peer) {
    const std::string text(peer);
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6))
            return "peer:loopback";
        if (IN6_IS_ADDR_V4MAPPED(&v6)) {
            std::memcpy(&v4, &v6.s6_addr[12], sizeof v4);
            char mapped[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &v4, mapped, sizeof mapped);
            return peerKey(mapped);
        }
        return "peer:" + text;
    }
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127)
        return "peer:loopback";
    return "peer:" + text;
}

}  // namespace

bool LoginThrottle::held(const std::string& key, std::int64_t nowMs) const {
    auto it = records_.find(key);
    return it != records_.end() && it->second.heldUntilMs > nowMs;
}

std::int64_t LoginThrottle::count(const std::string& key, int freeFailures, std::int64_t nowMs) {
    Record& r = records_[key];
    if (nowMs - r.lastFailureMs > config_.forgetMs)
        r.failures = 0;
    ++r.failures;
    r.lastFailureMs = nowMs;
    if (r.failures < freeFailures)
        return 0;
    const int doublings = std::min(r.failures - freeFailures, 30);
    r.heldUntilMs = nowMs + std::min(config_.firstHoldMs << doublings, config_.maxHoldMs);
    return r.heldUntilMs;
}

bool LoginThrottle::admit(std::string_view login, std::string_view peer, std::int64_t nowMs,
                          Admission* admission) {
    const std::string loginRecord = loginKey(login), peerRecord = peerKey(peer);
    std::lock_guard lock(mutex_);
    if (held(loginRecord, nowMs) || held(peerRecord, nowMs))
        return false;
    if (records_.size() >= kMaxRecords)
        prune(nowMs);
    count(loginRecord, config_.freeLoginFailures, nowMs);
    const std::int64_t peerHold = count(peerRecord, config_.freePeerFailures, nowMs);
    if (admission)
        admission->peerHeldUntilMs = peerHold;
    return true;
}

void LoginThrottle::succeeded(std::string_view login, std::string_view peer,
                              const Admission& admission) {
    std::lock_guard lock(mutex_);
    records_.erase(loginKey(login));
    auto it = records_.find(peerKey(peer));
    if (it == records_.end() || it->second.failures == 0)
        return;
    Record& r = it->second;
    // The address was not held when this attempt came in: the hold it set
    // goes with it, unless a later failure has set another since.
    if (--r.failures < config_.freePeerFailures ||
        (admission.peerHeldUntilMs != 0 && r.heldUntilMs == admission.peerHeldUntilMs))
        r.heldUntilMs = 0;
}

// Quiet records go first; when a flood of logins leaves none quiet, those
// not holding anything go too.
void LoginThrottle::prune(std::int64_t nowMs) {
    std::erase_if(records_, [&](const auto& entry) {
        return nowMs - entry.second.lastFailureMs > config_.forgetMs;
    });
    if (records_.size() >= kMaxRecords / 2)
        std::erase_if(records_,
                      [&](const auto& entry) { return entry.second.heldUntilMs <= nowMs; });
}

}  // namespace miravo::server
