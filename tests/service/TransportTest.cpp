#include "service/Transport.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "app/AppSettings.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "tests/TestSupport.h"
#include "tests/service/LoopbackServer.h"

namespace miravo {
namespace {

using test::LoopbackServer;
using test::TestCertificates;

const std::string kAnswer = "<API_RESULT><ERROR>0</ERROR></API_RESULT>";

std::string part(const std::string& name, const std::string& value) {
    return "----AaB03x\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
}

const std::string kDocumentHeader =
    "----AaB03x\r\nContent-Disposition: form-data; name=\"document\"; filename=\"image.tif\"\r\n"
    "Content-Type: application/octet-stream\r\n\r\n";

class TransportTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        test::ClearProxyEnvironment();
        certificates_ =
            new TestCertificates(TestCertificates::make({"DNS:localhost", "IP:127.0.0.1"}));
    }
    static void TearDownTestSuite() {
        delete certificates_;
        certificates_ = nullptr;
    }

    void SetUp() override {
        server_ = std::make_unique<LoopbackServer>(certificates_);
        server_->setResponder(
            [](const test::RecordedRequest&) { return LoopbackServer::httpAnswer(200, kAnswer); });
        test::writeBytes(dir_ / "ca.pem", certificates_->caPem);
        settings_.serviceHost = u16("localhost:" + std::to_string(server_->port()));
        settings_.objectPath = u"api2/proxy.php";
        settings_.caFile = fromUtf8((dir_ / "ca.pem").string());
        OverrideApplicationDataFolder(fromUtf8((dir_ / "appdata").string()));
    }
    void TearDown() override { OverrideApplicationDataFolder(std::nullopt); }

    test::RecordedRequest onlyRequest() const {
        const auto requests = server_->requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? test::RecordedRequest{} : requests.front();
    }

    std::u16string writeDocument(const std::string& name, const std::string& bytes) {
        test::writeBytes(dir_ / name, bytes);
        return fromUtf8((dir_ / name).string());
    }

    static TestCertificates* certificates_;
    test::TempDir dir_;
    std::unique_ptr<LoopbackServer> server_;
    AppSettings settings_;
};

TestCertificates* TransportTest::certificates_ = nullptr;

// ------------------------------------------------------------ text exchange

TEST_F(TransportTest, UserPreferencesBodyIsExactlyTwelveLines) {
    MultipartForm form(kSmallFormCapacity);
    form.add(u"action", u"get_user_preferences");
    form.add(u"username", u"anna");
    form.add(u"password", u"pw 1");
    const ExchangeResult result = PostForm(settings_, form);
    ASSERT_EQ(result.outcome, Outcome::Answer) << result.error;
    EXPECT_EQ(result.answer, kAnswer);
    EXPECT_EQ(result.httpStatus, 200);

    const auto request = onlyRequest();
    const std::string body =
        "----AaB03x\r\n"
        "Content-Disposition: form-data; name=\"action\"\r\n"
        "\r\n"
        "get_user_preferences\r\n"
        "----AaB03x\r\n"
        "Content-Disposition: form-data; name=\"username\"\r\n"
        "\r\n"
        "anna\r\n"
        "----AaB03x\r\n"
        "Content-Disposition: form-data; name=\"password\"\r\n"
        "\r\n"
        "pw 1\r\n";
    EXPECT_EQ(request.body, body);
    EXPECT_EQ(request.requestLine(), "POST /api2/proxy.php HTTP/1.1");
    EXPECT_EQ(request.header("Content-Type"), "multipart/form-data; boundary=--AaB03x");
    EXPECT_EQ(request.header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(request.header("User-Agent"), "Miravo 3.0.1");
    EXPECT_EQ(request.header("Accept"), "*/*");
    EXPECT_EQ(request.header("Connection"), "Keep-Alive");
    EXPECT_EQ(request.header("Host"), "localhost:" + std::to_string(server_->port()));
    EXPECT_EQ(request.header("Cookie"), "");
    EXPECT_EQ(request.header("Expect"), "");
    // One header of each: Content-Length is ours, not doubled by the library.
    int lengths = 0;
    for (const std::string& line : request.headerLines())
        lengths += line.rfind("Content-Length:", 0) == 0;
    EXPECT_EQ(lengths, 1);
}

TEST_F(TransportTest, EmptyFormIsAnEmptyBodyWithLengthZero) {
    const ExchangeResult result = PostForm(settings_, MultipartForm(kSmallFormCapacity));
    ASSERT_EQ(result.outcome, Outcome::Answer) << result.error;
    const auto request = onlyRequest();
    EXPECT_EQ(request.body, "");
    EXPECT_EQ(request.header("Content-Length"), "0");
}

TEST_F(TransportTest, TextExchangeSendsNonAsciiAsUtf8) {
    MultipartForm form(kSmallFormCapacity);
    form.add(u"username", u"J\u00FCrgen \u0416");
    ASSERT_EQ(PostForm(settings_, form).outcome, Outcome::Answer);
    EXPECT_EQ(onlyRequest().body, part("username", "J\xC3\xBCrgen \xD0\x96"));
}

TEST_F(TransportTest, PortDefaultsTo443AndObjectPathIsKept) {
    settings_.serviceHost = u"fax.example";
    settings_.objectPath = u"api2/proxy.php";
    EXPECT_EQ(ServiceUrl(settings_), "https://fax.example/api2/proxy.php");
    settings_.serviceHost = u"[::1]:8443";
    settings_.objectPath = u"/x.php";
    EXPECT_EQ(ServiceUrl(settings_), "https://[::1]:8443/x.php");
    for (const char16_t* bad : {u"", u"host/path", u"user@host", u"host:0", u"host:99999", u"host:",
                                u"ho st", u"[::1", u"h\u00F6st"}) {
        settings_.serviceHost = bad;
        EXPECT_EQ(ServiceUrl(settings_), "") << toUtf8(bad);
        EXPECT_EQ(PostForm(settings_, MultipartForm()).outcome, Outcome::Failed);
    }
}

// ------------------------------------------------------------- fax exchange

TEST_F(TransportTest, FaxRequestSendsAnsiNamesAndLowByteDestinations) {
    FaxForm form;
    form.add("action", "authentication");
    form.add("username", ToAnsi(u"J\u00FCrgen \u0416"));
    form.add("password", ToAnsi(u"p\u00E4ss"));
    form.add("pagescount", "3");
    form.add("numbers[1]", LowBytes(u"+49301234"));
    const ExchangeResult result = PostFaxRequest(settings_, form);
    ASSERT_EQ(result.outcome, Outcome::Answer) << result.error;
    EXPECT_EQ(result.answer, kAnswer);
    const auto request = onlyRequest();
    EXPECT_EQ(request.body, part("action", "authentication") + part("username", "J\xFCrgen ?") +
                                part("password", "p\xE4ss") + part("pagescount", "3") +
                                part("numbers[1]", "+49301234"));
    EXPECT_EQ(request.header("Content-Length"), std::to_string(form.bytes().size()));
    EXPECT_EQ(request.header("Content-Type"), "multipart/form-data; boundary=--AaB03x");
    EXPECT_EQ(request.header("User-Agent"), "Miravo 3.0.1");
}

TEST_F(TransportTest, UploadOfAnEmptyFileIsPrefixAndClosingDelimiter) {
    FaxForm prefix;
    prefix.add("action", "convert_and_transfer");
    prefix.add("username", ToAnsi(u"J\u00FCrgen"));
    prefix.add("numbers[1]", LowBytes(u"123"));
    prefix.add("names[1]", LowBytes(u"\u03A9mega \u4E2D"));
    prefix.addDocumentHeader();
    std::vector<std::uint64_t> begins;
    int steps = 0;
    const UploadHooks hooks{[&](std::uint64_t blocks) { begins.push_back(blocks); },
                            [&] { ++steps; }};
    const ExchangeResult result =
        PostFaxUpload(settings_, prefix, writeDocument("empty.tif", ""), hooks);
    ASSERT_EQ(result.outcome, Outcome::Answer) << result.error;
    const auto request = onlyRequest();
    EXPECT_EQ(request.body, part("action", "convert_and_transfer") + part("username", "J\xFCrgen") +
                                part("numbers[1]", "123") + part("names[1]", "\xA9mega \x2D") +
                                kDocumentHeader + "\r\n----AaB03x--\r\n");
    EXPECT_EQ(request.header("Content-Length"), std::to_string(prefix.bytes().size() + 16));
    EXPECT_EQ(begins, std::vector<std::uint64_t>{0});
    EXPECT_EQ(steps, 1);  // the one read that finds the end
}

TEST_F(TransportTest, UploadStreamsTheFileBlockByBlockWithHookCalls) {
    FaxForm prefix;
    prefix.add("action", "convert_and_transfer");
    prefix.addDocumentHeader();
    std::string file;
    for (int i = 0; i < 3 * 1024; ++i)
        file.push_back(static_cast<char>(i * 7 % 251));
    std::vector<std::string> calls;
    const UploadHooks hooks{
        [&](std::uint64_t blocks) { calls.push_back("begin " + std::to_string(blocks)); },
        [&] { calls.push_back("step"); }};
    ASSERT_EQ(PostFaxUpload(settings_, prefix, writeDocument("three.tif", file), hooks).outcome,
              Outcome::Answer);
    const auto request = onlyRequest();
    EXPECT_EQ(request.body, prefix.bytes() + file + "\r\n----AaB03x--\r\n");
    EXPECT_EQ(request.header("Content-Length"),
              std::to_string(prefix.bytes().size() + file.size() + 16));
    EXPECT_EQ(calls, (std::vector<std::string>{"begin 3", "step", "step", "step", "step"}));

    // A last partial block is a block of its own; the range counts whole blocks.
    calls.clear();
    const std::string partial = file.substr(0, 2 * 1024 + 100);
    ASSERT_EQ(
        PostFaxUpload(settings_, prefix, writeDocument("partial.tif", partial), hooks).outcome,
        Outcome::Answer);
    EXPECT_EQ(server_->requests().back().body, prefix.bytes() + partial + "\r\n----AaB03x--\r\n");
    EXPECT_EQ(calls, (std::vector<std::string>{"begin 2", "step", "step", "step", "step"}));
}

TEST_F(TransportTest, OverLongCoverTextAndPasswordAreCutNeverOverrun) {
    std::u16string cover = u"a";
    cover.append(3000, u'\u20AC');
    const std::u16string password(3000, u'k');
    FaxForm prefix;
    prefix.add("password", ToAnsi(password));
    prefix.addCoverPage(CoverTextUtf8(cover));
    prefix.addDocumentHeader();
    ASSERT_EQ(
        PostFaxUpload(settings_, prefix, writeDocument("d.tif", std::string("II*\0", 4))).outcome,
        Outcome::Answer);
    std::string expectedCover = "a";
    for (int i = 0; i < 1998; ++i)
        expectedCover += "\xE2\x82\xAC";
    EXPECT_EQ(onlyRequest().body, part("password", std::string(1023, 'k')) + "\r\n" +
                                      part("coverpage", expectedCover) + kDocumentHeader +
                                      std::string("II*\0", 4) + "\r\n----AaB03x--\r\n");
}

TEST_F(TransportTest, UploadOfAMissingDocumentFailsWithoutSending) {
    FaxForm prefix;
    prefix.addDocumentHeader();
    int steps = 0;
    const ExchangeResult result = PostFaxUpload(
        settings_, prefix, fromUtf8((dir_ / "missing.tif").string()), {{}, [&] { ++steps; }});
    EXPECT_EQ(result.outcome, Outcome::Unreadable);
    EXPECT_EQ(result.answer, "");
    EXPECT_EQ(steps, 0);
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(TransportTest, DocumentThatShrinksWhileSentFailsTheExchange) {
    FaxForm prefix;
    prefix.addDocumentHeader();
    const std::u16string path = writeDocument("shrinking.tif", std::string(3000, 'x'));
    const UploadHooks hooks{{}, [&] { std::filesystem::resize_file(test::pathOf(path), 10); }};
    const ExchangeResult result = PostFaxUpload(settings_, prefix, path, hooks);
    EXPECT_EQ(result.outcome, Outcome::Unreadable);
    EXPECT_EQ(result.answer, "");
}

// ------------------------------------------------------- refused requests

TEST_F(TransportTest, ValueCarryingTheDelimiterIsNeverSent) {
    MultipartForm form(kSmallFormCapacity);
    form.add(u"action", u"update_user_preferences");
    form.add(u"email", u"x\r\n----AaB03x\r\nContent-Disposition: form-data; name=\"action\"");
    const ExchangeResult text = PostForm(settings_, form);
    EXPECT_EQ(text.outcome, Outcome::Refused);
    EXPECT_NE(text.error.find("delimiter"), std::string::npos);

    FaxForm fax;
    fax.add("names[1]", LowBytes(u"\u012D\u012D\u012D\u012DAaB03x"));
    EXPECT_EQ(PostFaxRequest(settings_, fax).outcome, Outcome::Refused);
    fax.addDocumentHeader();
    EXPECT_EQ(PostFaxUpload(settings_, fax, writeDocument("d.tif", "data")).outcome,
              Outcome::Refused);
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(TransportTest, DocumentCarryingTheDelimiterIsStoppedBeforeThatBlock) {
    FaxForm prefix;
    prefix.addDocumentHeader();
    // The delimiter straddles the first and second block.
    std::string file(3000, 'x');
    file.replace(1020, 10, "----AaB03x");
    const ExchangeResult result = PostFaxUpload(settings_, prefix, writeDocument("d.tif", file));
    EXPECT_EQ(result.outcome, Outcome::Refused);
    for (const auto& request : server_->requests())
        EXPECT_EQ(request.body.find("AaB03x", prefix.bytes().size()), std::string::npos);
}

TEST_F(TransportTest, TooLargeBodiesAreRefused) {
    MultipartForm form(kLargeFormCapacity);
    form.add(u"coverpage", std::u16string(kLargeFormCapacity - 200, u'\u20AC'));
    ASSERT_FALSE(form.body().empty());
    EXPECT_EQ(PostForm(settings_, form).outcome, Outcome::Refused);
    EXPECT_TRUE(server_->requests().empty());
}

// --------------------------------------------------------------- answers

TEST_F(TransportTest, OnlyAWholeAnswerWithStatus200IsAnAnswer) {
    const std::string success = "<API_RESULT><ERROR>0</ERROR></API_RESULT>";
    const std::string full(kMaxAnswerBytes, 'a');
    const struct {
        int status;
        std::string body;
        Outcome outcome;
        const char* inError;
    } cases[] = {
        {200, full, Outcome::Answer, ""},                  // exactly the cap
        {200, full + "b", Outcome::TooLong, "1,048,575"},  // cut: never read
        {500, "<API_RESULT><ERROR>200</ERROR></API_RESULT>", Outcome::HttpStatus, "500"},
        {302, success, Outcome::HttpStatus, "302"},  // redirects are not followed, nor read
        {404, "", Outcome::HttpStatus, "404"},
    };
    for (const auto& c : cases) {
        server_->setResponder([&](const test::RecordedRequest&) {
            return LoopbackServer::httpAnswer(c.status, c.body);
        });
        const ExchangeResult result = PostForm(settings_, MultipartForm());
        EXPECT_EQ(result.outcome, c.outcome) << c.status << " " << result.error;
        EXPECT_EQ(result.httpStatus, c.status);
        EXPECT_NE(result.error.find(c.inError), std::string::npos) << result.error;
        EXPECT_EQ(result.answer, c.outcome == Outcome::Answer ? c.body : "");
    }
}

TEST_F(TransportTest, ConnectionClosedWithoutAnswerIsAFailure) {
    server_->setResponder([](const test::RecordedRequest&) { return std::string(); });
    const ExchangeResult result = PostForm(settings_, MultipartForm());
    EXPECT_EQ(result.outcome, Outcome::Failed);
    EXPECT_FALSE(result.hostUnavailable());
    EXPECT_EQ(result.answer, "");
}

TEST_F(TransportTest, UnreachableAndUnresolvableHostsAreToldApart) {
    settings_.serviceHost = u16("127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()));
    const ExchangeResult unreachable = PostForm(settings_, MultipartForm());
    EXPECT_EQ(unreachable.outcome, Outcome::HostNotReached) << unreachable.error;
    EXPECT_TRUE(unreachable.hostUnavailable());

    // A label longer than 63 characters fails in the local resolver, before
    // any name server is asked.
    settings_.serviceHost = u16(std::string(70, 'a') + ".invalid");
    const ExchangeResult unresolved = PostForm(settings_, MultipartForm());
    EXPECT_EQ(unresolved.outcome, Outcome::NameNotResolved) << unresolved.error;
    EXPECT_TRUE(unresolved.hostUnavailable());
}

// ----------------------------------------------------------- certificates

TEST_F(TransportTest, CertificateFromAnUntrustedIssuerIsRefused) {
    settings_.caFile.clear();
    const ExchangeResult result = PostForm(settings_, MultipartForm());
    EXPECT_EQ(result.outcome, Outcome::Failed);
    EXPECT_EQ(result.answer, "");
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(TransportTest, CertificateForAnotherNameIsRefused) {
    // The certificate names localhost and 127.0.0.1, not 127.0.0.2.
    auto other = std::make_unique<LoopbackServer>(certificates_);
    settings_.serviceHost = u16("127.0.0.1:" + std::to_string(other->port()));
    EXPECT_EQ(PostForm(settings_, MultipartForm()).outcome, Outcome::Answer);

    const TestCertificates onlyLocalhost = TestCertificates::make({"DNS:localhost"});
    test::writeBytes(dir_ / "ca2.pem", onlyLocalhost.caPem);
    settings_.caFile = fromUtf8((dir_ / "ca2.pem").string());
    LoopbackServer named(&onlyLocalhost);
    settings_.serviceHost = u16("127.0.0.1:" + std::to_string(named.port()));
    EXPECT_EQ(PostForm(settings_, MultipartForm()).outcome, Outcome::Failed);
    EXPECT_TRUE(named.requests().empty());
    settings_.serviceHost = u16("localhost:" + std::to_string(named.port()));
    EXPECT_EQ(PostForm(settings_, MultipartForm()).outcome, Outcome::Answer);
}

TEST_F(TransportTest, ExpiredAndNotYetValidCertificatesAreRefused) {
    for (const auto& [from, to] :
         {std::pair{-2 * 86400L, -86400L}, std::pair{86400L, 2 * 86400L}}) {
        const TestCertificates dated = TestCertificates::make({"DNS:localhost"}, from, to);
        test::writeBytes(dir_ / "dated.pem", dated.caPem);
        settings_.caFile = fromUtf8((dir_ / "dated.pem").string());
        LoopbackServer server(&dated);
        settings_.serviceHost = u16("localhost:" + std::to_string(server.port()));
        EXPECT_EQ(PostForm(settings_, MultipartForm()).outcome, Outcome::Failed);
        EXPECT_TRUE(server.requests().empty());
    }
}

TEST_F(TransportTest, UnreadableCaFileFailsEveryExchange) {
    settings_.caFile = fromUtf8((dir_ / "missing.pem").string());
    EXPECT_EQ(PostForm(settings_, MultipartForm()).outcome, Outcome::Failed);
    test::writeBytes(dir_ / "junk.pem", "not a certificate");
    settings_.caFile = fromUtf8((dir_ / "junk.pem").string());
    const ExchangeResult junk = PostFaxRequest(settings_, FaxForm());
    EXPECT_EQ(junk.outcome, Outcome::Failed);
    EXPECT_NE(junk.error.find("junk.pem"), std::string::npos);
    EXPECT_TRUE(server_->requests().empty());
}

// ----------------------------------------------------------- result.xml

TEST_F(TransportTest, StoreAnswerWritesUpToTheFirstNul) {
    ASSERT_TRUE(StoreAnswer(std::string("<A>1</A>\0tail", 13)));
    const auto path = test::pathOf(UserDataFilePath(u"result.xml"));
    EXPECT_EQ(test::readBytes(path), "<A>1</A>");
    ASSERT_TRUE(StoreAnswer(""));
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(test::readBytes(path), "");
}

TEST_F(TransportTest, StoreAnswerKeepsThePreviousFileWhenItCannotWrite) {
    // A folder in the place of result.xml cannot be replaced by the new answer.
    std::filesystem::create_directories(dir_ / "appdata" / "result.xml" / "keep");
    EXPECT_FALSE(StoreAnswer("<A/>"));
    EXPECT_TRUE(std::filesystem::exists(dir_ / "appdata" / "result.xml" / "keep"));
    // No application-data folder at all.
    test::writeBytes(dir_ / "plain-file", "x");
    OverrideApplicationDataFolder(fromUtf8((dir_ / "plain-file" / "sub").string()));
    EXPECT_FALSE(StoreAnswer("<A/>"));
}

}  // namespace
}  // namespace miravo
