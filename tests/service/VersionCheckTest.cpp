#include "service/VersionCheck.h"

#include <chrono>
#include <thread>

#include "app/AppSettings.h"
#include "app/Text.h"
#include "tests/TestSupport.h"
#include "tests/service/LoopbackServer.h"

namespace miravo {
namespace {

using test::LoopbackServer;

TEST(VersionValue, PartsReadLikeStrtolWithTheirWeights) {
    EXPECT_DOUBLE_EQ(VersionValue("3.0.1"), 3.00001);
    EXPECT_DOUBLE_EQ(VersionValue("3.1"), 3.001);
    EXPECT_DOUBLE_EQ(VersionValue("4"), 4.0);
    EXPECT_DOUBLE_EQ(VersionValue("2a.1b.5c"), 2.00105);  // digits up to the first letter
    EXPECT_DOUBLE_EQ(VersionValue("x.y.z"), 0.0);         // letters only count 0
    EXPECT_DOUBLE_EQ(VersionValue(" 3. +1.-2"), 3.001 - 0.00002);
    EXPECT_DOUBLE_EQ(VersionValue("1.2.3.4.5"), 1.00203);  // parts after the third ignored
    EXPECT_DOUBLE_EQ(VersionValue(""), 0.0);
    EXPECT_DOUBLE_EQ(VersionValue("..."), 0.0);
    EXPECT_DOUBLE_EQ(VersionValue("99999999999"), 2147483647.0);  // saturates like strtol
}

TEST(VersionValue, NewerOnlyWhenStrictlyGreaterThanOwnVersion) {
    EXPECT_FALSE(IsNewerVersion("3.0.1"));
    EXPECT_TRUE(IsNewerVersion("3.0.2"));
    EXPECT_TRUE(IsNewerVersion("3.1"));
    EXPECT_TRUE(IsNewerVersion("4"));
    EXPECT_FALSE(IsNewerVersion("2.9.9"));
    EXPECT_FALSE(IsNewerVersion("3.0.0"));
    EXPECT_FALSE(IsNewerVersion(""));
    EXPECT_TRUE(IsNewerVersion("3.0.1.9") == false);
    // 3.0.100 and 3.1.0 weigh the same.
    EXPECT_DOUBLE_EQ(VersionValue("3.0.100"), VersionValue("3.1.0"));
    EXPECT_TRUE(IsNewerVersion("3.0.100"));
}

TEST(VersionAnswer, VersionAndAddressSplitAtTheFirstSpace) {
    VersionAnswer a = ReadVersionAnswer("3.0.2 http://127.0.0.1/get?x=1 y\r\n");
    EXPECT_TRUE(a.newer);
    EXPECT_EQ(a.downloadAddress, "http://127.0.0.1/get?x=1 y\r\n");  // unchanged
    a = ReadVersionAnswer("3.0.1 http://127.0.0.1/get");
    EXPECT_FALSE(a.newer);
    EXPECT_EQ(a.downloadAddress, "http://127.0.0.1/get");
    // No space: the version text is empty.
    a = ReadVersionAnswer("3.0.2");
    EXPECT_FALSE(a.newer);
    EXPECT_EQ(a.downloadAddress, "");
    // A space and nothing after it: newer, but no address.
    a = ReadVersionAnswer("3.0.2 ");
    EXPECT_TRUE(a.newer);
    EXPECT_EQ(a.downloadAddress, "");
    a = ReadVersionAnswer("");
    EXPECT_FALSE(a.newer);
    // The text ends at a NUL byte.
    a = ReadVersionAnswer(std::string("3.0.2\0 http://x/", 16));
    EXPECT_FALSE(a.newer);
}

TEST(VersionAnswer, BodyIsCutAt500Bytes) {
    const std::string address = "http://127.0.0.1/" + std::string(600, 'd');
    const VersionAnswer a = ReadVersionAnswer("9 " + address);
    EXPECT_TRUE(a.newer);
    EXPECT_EQ(a.downloadAddress, address.substr(0, 498));
    // A space beyond byte 500 is not seen.
    EXPECT_FALSE(ReadVersionAnswer(std::string(500, '9') + " http://x/").newer);
}

TEST(DownloadAddress, OnlyHttpAndHttpsAddressesAreOpened) {
    EXPECT_EQ(OpenableDownloadAddress("https://127.0.0.1/miravo.tar.gz\r\n"),
              "https://127.0.0.1/miravo.tar.gz");
    EXPECT_EQ(OpenableDownloadAddress("HTTP://Example.test:8080/a?b=c#d"),
              "HTTP://Example.test:8080/a?b=c#d");
    for (const char* bad :
         {"", "\r\n", "file:///etc/passwd", "javascript:alert(1)", "ftp://127.0.0.1/x",
          "/usr/bin/xterm", "127.0.0.1/download", "http://", "http:///path", "https://host/a b",
          "http://h\xC3\xB6st/", "smb://server/share", "http:\\\\host\\x", "data:text/html,hi",
          "https://host/\x01"}) {
        EXPECT_EQ(OpenableDownloadAddress(bad), std::nullopt) << bad;
    }
}

class VersionPageTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::ClearProxyEnvironment(); }
    void SetUp() override {
        settings_.versionHost = u16("127.0.0.1:" + std::to_string(server_.port()));
    }
    void answerWith(int status, const std::string& body) {
        server_.setResponder([=](const test::RecordedRequest&) {
            return LoopbackServer::httpAnswer(status, body, "text/plain");
        });
    }

    LoopbackServer server_{nullptr};
    AppSettings settings_;
    std::string address_ = "untouched";
};

TEST_F(VersionPageTest, NewerVersionGivesItsAddress) {
    answerWith(200, "3.0.2 https://127.0.0.1/miravo-3.0.2.tar.gz\n");
    EXPECT_TRUE(CheckForNewerVersion(settings_, address_));
    EXPECT_EQ(address_, "https://127.0.0.1/miravo-3.0.2.tar.gz\n");
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine(), "GET /miravoprinter/version.php HTTP/1.1");
    EXPECT_EQ(requests[0].header("User-Agent"), "Miravo 3.0.1");
    EXPECT_EQ(requests[0].header("Pragma"), "no-cache");
}

TEST_F(VersionPageTest, SameVersionOrNoSpaceIsNotNewer) {
    answerWith(200, "3.0.2");
    EXPECT_FALSE(CheckForNewerVersion(settings_, address_));
    answerWith(200, "");
    EXPECT_FALSE(CheckForNewerVersion(settings_, address_));
    // The address is written whenever one follows the space, newer or not...
    answerWith(200, "3.0.1 https://127.0.0.1/x");
    EXPECT_FALSE(CheckForNewerVersion(settings_, address_));
    EXPECT_EQ(address_, "https://127.0.0.1/x");
    // ...and left alone when nothing follows it.
    answerWith(200, "3.0.2 ");
    EXPECT_TRUE(CheckForNewerVersion(settings_, address_));
    EXPECT_EQ(address_, "https://127.0.0.1/x");
}

TEST_F(VersionPageTest, LongPageIsReadUpTo500Bytes) {
    const std::string body = "4.0 http://127.0.0.1/" + std::string(100000, 'z');
    answerWith(200, body);
    EXPECT_TRUE(CheckForNewerVersion(settings_, address_));
    EXPECT_EQ(address_, body.substr(4, 496));
}

TEST_F(VersionPageTest, ErrorPagesSilentServersAndBadHostsAreNoAnswer) {
    answerWith(404, "404 Not Found");
    EXPECT_FALSE(CheckForNewerVersion(settings_, address_));
    answerWith(500, "9.9.9 http://127.0.0.1/x");
    EXPECT_FALSE(CheckForNewerVersion(settings_, address_));
    server_.setResponder([](const test::RecordedRequest&) { return std::string(); });
    EXPECT_FALSE(CheckForNewerVersion(settings_, address_));
    EXPECT_EQ(address_, "untouched");
    const auto asked = server_.requests().size();
    settings_.versionHost.clear();
    EXPECT_FALSE(CheckForNewerVersion(settings_, address_));
    settings_.versionHost = u"127.0.0.1/evil";
    EXPECT_FALSE(CheckForNewerVersion(settings_, address_));
    EXPECT_EQ(server_.requests().size(), asked);
}

TEST_F(VersionPageTest, DrippingPageEndsByTheDeadline) {
    using namespace std::chrono_literals;
    server_.setStreamer([](const test::RecordedRequest&, const LoopbackServer::Send& send) {
        if (!send("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\n4.0 http://"))
            return;
        while (send("z"))
            std::this_thread::sleep_for(100ms);
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(CheckForNewerVersion(settings_, address_, 1s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2500ms);
    EXPECT_EQ(address_, "untouched");
    server_.setStreamer({});
}

TEST_F(VersionPageTest, BadDownloadAddressIsOfferedButNeverOpenable) {
    answerWith(200, "3.1 file:///etc/passwd");
    EXPECT_TRUE(CheckForNewerVersion(settings_, address_));
    EXPECT_EQ(OpenableDownloadAddress(address_), std::nullopt);
}

}  // namespace
}  // namespace miravo
