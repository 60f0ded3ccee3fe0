// Reading request heads within their limits.
#include <gtest/gtest.h>

#include "server/RequestHead.h"

namespace miravo::server {
namespace {

TEST(ServerRequestHeadTest, HeadsByStatus) {
    HeadLimits limits;
    limits.maxBytes = 200;
    limits.maxFields = 3;
    const std::string line = "POST /api2/proxy.php HTTP/1.1\r\n";
    struct Case {
        std::string bytes;
        HeadStatus status;
    };
    const Case cases[] = {
        {line + "Host: a\r\n", HeadStatus::Incomplete},
        {line + "Host: a\r\n\r\nbody", HeadStatus::Complete},
        {line + "A: 1\r\nB: 2\r\nC: 3\r\n\r\n", HeadStatus::Complete},
        {line + "A: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n\r\n", HeadStatus::TooLarge},
        {line + "X: " + std::string(200, 'a') + "\r\n\r\n", HeadStatus::TooLarge},
        {line + "X: " + std::string(200, 'a'), HeadStatus::TooLarge},  // no end in sight
        {"POST /x HTTP/2.0\r\n\r\n", HeadStatus::Malformed},
        {"POST\r\n\r\n", HeadStatus::Malformed},
        {line + "no colon\r\n\r\n", HeadStatus::Malformed},
        {line + "Bad Name: 1\r\n\r\n", HeadStatus::Malformed},
    };
    for (const Case& c : cases) {
        RequestHead head;
        std::size_t used = 0;
        EXPECT_EQ(parseHead(c.bytes, limits, head, used), c.status) << c.bytes.substr(0, 60);
    }
}

TEST(ServerRequestHeadTest, FieldsAndTheLoggedText) {
    const std::string bytes =
        "POST /p?q=1 HTTP/1.1\r\nHost: h\r\ncontent-length:  12 \r\nAccept: */*\r\n\r\nrest";
    RequestHead head;
    std::size_t used = 0;
    ASSERT_EQ(parseHead(bytes, {}, head, used), HeadStatus::Complete);
    EXPECT_EQ(bytes.substr(used), "rest");
    EXPECT_EQ(head.target, "/p?q=1");
    EXPECT_EQ(head.value("Content-Length"), "12");
    EXPECT_FALSE(head.has("Expect"));
    EXPECT_EQ(head.text(),
              "POST /p?q=1 HTTP/1.1\r\nAccept: */*\r\ncontent-length: 12\r\nHost: h\r\n");
}

}  // namespace
}  // namespace miravo::server
