#include "server/LoginThrottle.h"

#include <algorithm>
#include <cctype>

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

std::string peerKey(std::string_view peer) {
    return "peer:" + std::string(peer);
}

}  // namespace

bool LoginThrottle::held(std::string_view login, std::string_view peer, std::int64_t nowMs) {
    std::lock_guard lock(mutex_);
    for (const std::string& key : {loginKey(login), peerKey(peer)}) {
        auto it = records_.find(key);
        if (it != records_.end() && it->second.heldUntilMs > nowMs)
            return true;
    }
    return false;
}

void LoginThrottle::count(const std::string& key, int freeFailures, std::int64_t nowMs) {
    Record& r = records_[key];
    if (nowMs - r.lastFailureMs > config_.forgetMs)
        r.failures = 0;
    ++r.failures;
    r.lastFailureMs = nowMs;
    if (r.failures >= freeFailures) {
        const int doublings = std::min(r.failures - freeFailures, 30);
        r.heldUntilMs = nowMs + std::min(config_.firstHoldMs << doublings, config_.maxHoldMs);
    }
}

void LoginThrottle::failed(std::string_view login, std::string_view peer, std::int64_t nowMs) {
    std::lock_guard lock(mutex_);
    if (records_.size() >= kMaxRecords)
        prune(nowMs);
    count(loginKey(login), config_.freeLoginFailures, nowMs);
    if (!peer.empty())
        count(peerKey(peer), config_.freePeerFailures, nowMs);
}

void LoginThrottle::succeeded(std::string_view login) {
    std::lock_guard lock(mutex_);
    records_.erase(loginKey(login));
}

// Quiet records go first; when a flood of logins leaves none quiet, those
// not holding anything go too.
void LoginThrottle::prune(std::int64_t nowMs) {
    std::erase_if(records_, [&](const auto& entry) {
        return nowMs - entry.second.lastFailureMs > config_.forgetMs;
    });
    if (records_.size() >= kMaxRecords / 2)
        std::erase_if(records_, [&](const auto& entry) { return entry.second.heldUntilMs <= nowMs; });
}

}  // namespace miravo::server
