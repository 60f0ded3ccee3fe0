// How long failed logins hold further attempts.
#include <gtest/gtest.h>

#include "server/LoginThrottle.h"

namespace miravo::server {
namespace {

// The first moment from `from` on at which an attempt is admitted (and
// counted as a failure).
std::int64_t admittedAt(LoginThrottle& t, std::string_view login, std::string_view peer,
                        std::int64_t from) {
    std::int64_t at = from;
    while (!t.admit(login, peer, at))
        at += 100;
    return at;
}

TEST(ServerLoginThrottleTest, HoldDoublesUpToTheCeilingAndEndsWithASuccess) {
    ThrottleConfig config;
    config.freeLoginFailures = 3;
    config.freePeerFailures = 1000;
    config.maxHoldMs = 5000;
    LoginThrottle t(config);
    // Attempts 1 to 3 go in at once; after the third failure 1 s, 2 s, 4 s,
    // then the ceiling.
    const std::int64_t expected[] = {0, 0, 0, 1000, 2000, 4000, 5000, 5000};
    std::int64_t now = 0;
    for (std::int64_t wait : expected) {
        const std::int64_t next = admittedAt(t, "Ann", "10.0.0.1", now);
        EXPECT_EQ(next - now, wait) << now;
        now = next;
    }
    EXPECT_TRUE(t.admit("bob", "10.0.0.2", now));
    t.succeeded("ANN", "10.0.0.2");  // the right password ends the run
    EXPECT_TRUE(t.admit("ann", "10.0.0.2", now));
    EXPECT_TRUE(t.admit("ann", "10.0.0.2", now));
}

TEST(ServerLoginThrottleTest, AnAddressSprayingLoginsIsHeldAndQuietRecordsAreForgotten) {
    ThrottleConfig config;
    config.freePeerFailures = 3;
    config.forgetMs = 60000;
    LoginThrottle t(config);
    EXPECT_TRUE(t.admit("user0", "10.0.0.1", 0));
    EXPECT_TRUE(t.admit("user1", "10.0.0.1", 0));
    EXPECT_TRUE(t.admit("own", "10.0.0.1", 0));
    t.succeeded("own", "10.0.0.1");  // takes back only its own attempt
    EXPECT_TRUE(t.admit("user3", "10.0.0.1", 0));
    EXPECT_FALSE(t.admit("someone", "10.0.0.1", 10));
    EXPECT_TRUE(t.admit("someone", "10.0.0.2", 10));
    // Once that hold is over, a right password from the address is let in
    // and leaves no hold of its own behind; a wrong one does.
    Admission admission;
    EXPECT_TRUE(t.admit("own", "10.0.0.1", 2000, &admission));
    t.succeeded("own", "10.0.0.1", admission);
    EXPECT_TRUE(t.admit("own", "10.0.0.1", 2000, &admission));
    t.succeeded("own", "10.0.0.1", admission);
    EXPECT_TRUE(t.admit("user4", "10.0.0.1", 2000));
    EXPECT_FALSE(t.admit("own", "10.0.0.1", 2000));
    // Long quiet: the count starts again.
    EXPECT_TRUE(t.admit("user9", "10.0.0.1", 100000));
    EXPECT_TRUE(t.admit("user9", "10.0.0.1", 100000));
}

// All loopback addresses are one address; other addresses stay apart.
TEST(ServerLoginThrottleTest, EveryLoopbackAddressIsOneAddress) {
    const struct {
        const char* other;
        bool sameAsFirst;
    } cases[] = {
        {"127.0.0.7", true},
        {"127.255.255.254", true},
        {"::1", true},
        {"::ffff:127.0.0.9", true},
        {"0:0:0:0:0:0:0:1", true},
        {"128.0.0.1", false},
        {"10.0.0.1", false},
        {"::2", false},
    };
    for (const auto& c : cases) {
        ThrottleConfig config;
        config.freePeerFailures = 2;
        LoginThrottle t(config);
        EXPECT_TRUE(t.admit("user1", "127.0.0.1", 0));
        EXPECT_TRUE(t.admit("user2", "127.0.0.1", 0));  // the address is held now
        EXPECT_FALSE(t.admit("user3", "127.0.0.1", 10));
        EXPECT_EQ(t.admit("user4", c.other, 10), !c.sameAsFirst) << c.other;
    }
    // An IPv4-mapped address is the IPv4 address it maps.
    ThrottleConfig config;
    config.freePeerFailures = 1;
    LoginThrottle t(config);
    EXPECT_TRUE(t.admit("user1", "10.0.0.5", 0));
    EXPECT_FALSE(t.admit("user2", "::ffff:10.0.0.5", 10));
}

}  // namespace
}  // namespace miravo::server
