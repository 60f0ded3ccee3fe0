// How long failed logins hold further attempts.
#include <gtest/gtest.h>

#include "server/LoginThrottle.h"

namespace miravo::server {
namespace {

// The first moment from `from` on at which attempts are no longer held.
std::int64_t releasedAt(LoginThrottle& t, std::string_view login, std::string_view peer,
                        std::int64_t from) {
    std::int64_t at = from;
    while (t.held(login, peer, at))
        at += 100;
    return at;
}

TEST(ServerLoginThrottleTest, HoldDoublesUpToTheCeilingAndEndsWithASuccess) {
    ThrottleConfig config;
    config.freeLoginFailures = 3;
    config.freePeerFailures = 1000;
    config.maxHoldMs = 5000;
    LoginThrottle t(config);
    // Failures 1, 2 are free; from the third: 1 s, 2 s, 4 s, then 5 s.
    const std::int64_t expected[] = {0, 0, 1000, 2000, 4000, 5000, 5000};
    std::int64_t now = 0;
    for (std::int64_t hold : expected) {
        t.failed("Ann", "10.0.0.1", now);
        EXPECT_EQ(releasedAt(t, "ann", "10.0.0.2", now) - now, hold) << now;
        now += hold + 100;
    }
    EXPECT_FALSE(t.held("bob", "10.0.0.2", now - 200));
    t.failed("ann", "10.0.0.1", now);
    t.succeeded("ANN");
    EXPECT_FALSE(t.held("ann", "10.0.0.2", now));
}

TEST(ServerLoginThrottleTest, AnAddressSprayingLoginsIsHeldAndQuietRecordsAreForgotten) {
    ThrottleConfig config;
    config.freePeerFailures = 3;
    config.forgetMs = 60000;
    LoginThrottle t(config);
    for (int i = 0; i < 3; ++i)
        t.failed("user" + std::to_string(i), "10.0.0.1", 0);
    EXPECT_TRUE(t.held("someone", "10.0.0.1", 10));
    EXPECT_FALSE(t.held("someone", "10.0.0.2", 10));
    t.succeeded("user0");  // an own account does not clear the address
    EXPECT_TRUE(t.held("someone", "10.0.0.1", 10));
    // Long quiet: the count starts again.
    t.failed("user9", "10.0.0.1", 100000);
    EXPECT_FALSE(t.held("someone", "10.0.0.1", 100010));
}

}  // namespace
}  // namespace miravo::server
