// miravo-server over real HTTPS on loopback: every action, the service's
// rules, malformed bodies, the request log and every injected fault.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "tests/server/ServerHarness.h"

namespace miravo::server::test {
namespace {

// Short delivery and poll limits keep the run quick.
const std::vector<std::string> kQuick = {"--delivery-time", "2500", "--min-poll-interval", "1000",
                                         "--quiet"};

std::vector<std::string> quick(std::vector<std::string> more = {}) {
    auto args = kQuick;
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

Fields demo(const std::string& action) {
    return {{"action", action}, {"username", kDemoLogin}, {"password", kDemoPassword}};
}

Fields with(Fields fields, const Fields& more) {
    fields.insert(fields.end(), more.begin(), more.end());
    return fields;
}

// Polls until the first destination has a final status (slow builds may
// need longer than the delivery time).
Reply pollUntilFinal(const AppSettings& settings, const Fields& fields) {
    Reply r;
    for (int i = 0; i < 60; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(350));
        r = viaTransport(settings, fields);
        if (!xmlValue(r.body, "API_RESULT/GET_FAX_STATUS/FAX/STATUS").empty())
            break;
    }
    return r;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ServerTest : public ::testing::Test {
  protected:
    void startServer(std::vector<std::string> args = quick()) {
        server_ = std::make_unique<ServerProcess>(std::move(args));
        ASSERT_TRUE(server_->start()) << server_->output();
        client_ = std::make_unique<HttpsClient>(server_->caFile());
        settings_ = transportSettings(*server_);
    }
    void TearDown() override {
        client_.reset();
        if (server_ && server_->running()) {
            EXPECT_EQ(server_->stop(), 0) << server_->output();
        }
    }
    // Raw bytes, for bodies the transport refuses to build.
    RawReply post(const std::string& body) { return client_->post(server_->url(), body); }
    Reply send(const Fields& fields) { return viaTransport(settings_, fields); }
    std::string transfer(const Fields& numbers, const std::string& doc = faxDocument(),
                         const Fields& extra = {}) {
        Fields fields = with(demo("convert_and_transfer"), numbers);
        fields = with(fields, extra);
        fields.push_back({"pagecount", "1"});
        fields.push_back({"TXAttachType", "NO"});
        const Reply r = uploadFax(settings_, fields, doc);
        EXPECT_EQ(r.outcome, Outcome::Answer) << r.error;
        return r.body;
    }

    std::unique_ptr<ServerProcess> server_;
    std::unique_ptr<HttpsClient> client_;
    AppSettings settings_;
};

TEST_F(ServerTest, AuthenticationAcceptsTheAccountAndRefusesOthers) {
    startServer();
    Reply ok =
        send(with(demo("authentication"), {{"pagescount", "1"}, {"numbers[1]", "0301234567"}}));
    ASSERT_EQ(ok.outcome, Outcome::Answer) << ok.error;
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(xmlValue(ok.body, "API_RESULT/ERROR"), "");
    EXPECT_EQ(xmlValue(ok.body, "API_RESULT/AUTHENTICATION/RESULT"), "0");
    EXPECT_EQ(xmlValue(ok.body, "API_RESULT/VALIDATION/RESULT"), "0");

    // An invalid number passes authentication but fails validation.
    Reply invalid = send(with(demo("authentication"), {{"numbers[1]", "12"}}));
    EXPECT_EQ(xmlValue(invalid.body, "API_RESULT/AUTHENTICATION/RESULT"), "0");
    EXPECT_EQ(xmlValue(invalid.body, "API_RESULT/VALIDATION/RESULT"), "1");

    Reply wrong =
        send({{"action", "authentication"}, {"username", kDemoLogin}, {"password", "nope"}});
    EXPECT_EQ(xmlValue(wrong.body, "API_RESULT/ERROR"), "107");
    EXPECT_EQ(xmlValue(wrong.body, "API_RESULT/AUTHENTICATION/RESULT"), "1");
    Reply unknown =
        send({{"action", "authentication"}, {"username", "nobody@x.test"}, {"password", "demo"}});
    EXPECT_EQ(xmlValue(unknown.body, "API_RESULT/ERROR"), "107");
    EXPECT_EQ(xmlValue(send({{"action", "authentication"}, {"username", kDemoLogin}}).body,
                       "API_RESULT/ERROR"),
              "102");
    EXPECT_EQ(xmlValue(send({{"action", "get_address_book"}, {"password", "x"}}).body,
                       "API_RESULT/ERROR"),
              "101");
    EXPECT_EQ(xmlValue(send({{"action", "fly"}}).body, "API_RESULT/ERROR"), "404");
    EXPECT_EQ(xmlValue(send({{"username", "x"}}).body, "API_RESULT/ERROR"), "402");

    // Windows-1252 credentials on the fax actions, UTF-8 on the text exchanges.
    ASSERT_EQ(server_->command({"user", "add", "j\xc3\xbcrgen@x.test", "p\xc3\xa4ss"}), 0);
    EXPECT_EQ(xmlValue(send({{"action", "authentication"},
                             {"username", "j\xfcrgen@x.test"},
                             {"password", "p\xe4ss"}})
                           .body,
                       "API_RESULT/AUTHENTICATION/RESULT"),
              "0");
    EXPECT_EQ(xmlValue(send({{"action", "get_user_preferences"},
                             {"username", "j\xc3\xbcrgen@x.test"},
                             {"password", "p\xc3\xa4ss"}})
                           .body,
                       "API_RESULT/GET_USER_PREFERENCES/RESULT"),
              "0");
}

TEST_F(ServerTest, StatusMovesFromPendingToFinalByTheNumberRules) {
    startServer();
    const std::string answer = transfer({{"numbers[1]", "+49 30 1234567"},
                                         {"names[1]", "Ann"},
                                         {"numbers[2]", "0301234500"},
                                         {"names[2]", "Busy"},
                                         {"numbers[3]", "0301234501"},
                                         {"names[3]", ""},
                                         {"numbers[4]", "0301234502"},
                                         {"names[4]", ""},
                                         {"numbers[5]", "+49 30 1234567"},
                                         {"names[5]", "Again"},
                                         {"numbers[6]", "abc"},
                                         {"names[6]", ""}});
    ASSERT_EQ(xmlValue(answer, "API_RESULT/TRANSFER/RESULT"), "0") << answer;
    EXPECT_EQ(xmlValue(answer, "API_RESULT/AUTHENTICATION/RESULT"), "0");
    EXPECT_EQ(xmlValue(answer, "API_RESULT/VALIDATION/RESULT"), "1");  // "abc"
    const std::string faxId = xmlValue(answer, "API_RESULT/TRANSFER/FAX_ID");
    ASSERT_FALSE(faxId.empty());
    // Four valid destinations (one number sent twice counts once), one page, 0.10 each.
    EXPECT_EQ(xmlValue(answer, "API_RESULT/TRANSFER/PREBILLING"), "0.40");

    const Fields poll = with(demo("get_fax_status"), {{"pagescount", "1"}, {"faxId", faxId}});
    Reply pending = send(poll);
    ASSERT_EQ(xmlValue(pending.body, "API_RESULT/GET_FAX_STATUS/RESULT"), "0") << pending.body;
    ASSERT_EQ(xmlCount(pending.body, "API_RESULT/GET_FAX_STATUS/FAX"), 5u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(xmlValue(pending.body, "API_RESULT/GET_FAX_STATUS/FAX/FAX_ID", i), faxId);
        EXPECT_EQ(xmlValue(pending.body, "API_RESULT/GET_FAX_STATUS/FAX/STATUS", i), "") << i;
    }
    EXPECT_EQ(xmlValue(pending.body, "API_RESULT/GET_FAX_STATUS/FAX/STATUS", 4), "IN");
    EXPECT_EQ(xmlValue(pending.body, "API_RESULT/GET_FAX_STATUS/FAX/RECIPIENT", 0),
              "+49 30 1234567");

    Reply done = pollUntilFinal(settings_, poll);
    const char* expected[] = {"OK", "BU", "NA", "FA", "IN"};
    const char* cost[] = {"0.10", "0.00", "0.00", "0.00", "0.00"};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(xmlValue(done.body, "API_RESULT/GET_FAX_STATUS/FAX/STATUS", i), expected[i]);
        EXPECT_EQ(xmlValue(done.body, "API_RESULT/GET_FAX_STATUS/FAX/COST", i), cost[i]);
    }
}

TEST_F(ServerTest, CoverPageCountsAsAPageOfTheTransfer) {
    startServer();
    const std::string answer = transfer({{"numbers[1]", "0301234567"}, {"names[1]", "Ann"}},
                                        faxDocument(), {{"coverpage", "Hello"}});
    EXPECT_EQ(xmlValue(answer, "API_RESULT/TRANSFER/PREBILLING"), "0.20") << answer;
    const std::string faxId = xmlValue(answer, "API_RESULT/TRANSFER/FAX_ID");
    EXPECT_TRUE(std::filesystem::exists(server_->dataDir() / "faxes" / faxId / "cover.tif"));
    EXPECT_EQ(readFile(server_->dataDir() / "faxes" / faxId / "document.tif"), faxDocument());
}

TEST_F(ServerTest, TransferRefusals) {
    startServer(quick({"--max-destinations", "3"}));
    auto error = [](const std::string& answer) { return xmlValue(answer, "API_RESULT/ERROR"); };
    const Fields one = {{"numbers[1]", "0301234567"}, {"names[1]", ""}};
    EXPECT_EQ(error(send(with(demo("convert_and_transfer"), one)).body), "103");
    EXPECT_EQ(error(transfer(one, "II*\0not a tiff")), "104");
    EXPECT_EQ(error(transfer({{"numbers[1]", "12"}})), "111");
    EXPECT_EQ(error(transfer({})), "111");
    EXPECT_EQ(error(transfer({{"numbers[1]", "11111"},
                              {"numbers[2]", "22222"},
                              {"numbers[3]", "33333"},
                              {"numbers[4]", "44444"}})),
              "112");
    EXPECT_EQ(error(transfer(one, faxDocument(), {{"coverpage", std::string(5998, 'x')}})), "115");
    const std::string refused = transfer(one, faxDocument(), {{"TXAttachType", "MAYBE"}});
    EXPECT_EQ(error(refused), "405");
    EXPECT_EQ(xmlValue(refused, "API_RESULT/TRANSFER/RESULT"), "1");

    ASSERT_EQ(server_->command({"user", "add", "poor@x.test", "pw", "--credit", "0.05"}), 0);
    const Reply poor = uploadFax(settings_,
                                 {{"action", "convert_and_transfer"},
                                  {"username", "poor@x.test"},
                                  {"password", "pw"},
                                  {"numbers[1]", "0301234567"}},
                                 faxDocument());
    EXPECT_EQ(error(poor.body), "110");
    ASSERT_EQ(server_->command({"user", "disable", "poor@x.test"}), 0);
    EXPECT_EQ(
        error(send({{"action", "authentication"}, {"username", "poor@x.test"}, {"password", "pw"}})
                  .body),
        "108");
}

TEST_F(ServerTest, PollingFasterThanAllowedIsAnswered301) {
    startServer();
    const std::string faxId =
        xmlValue(transfer({{"numbers[1]", "0301234567"}}), "API_RESULT/TRANSFER/FAX_ID");
    const Fields poll = with(demo("get_fax_status"), {{"faxId", faxId}});
    EXPECT_EQ(xmlValue(send(poll).body, "API_RESULT/GET_FAX_STATUS/RESULT"), "0");
    const Reply fast = send(poll);
    EXPECT_EQ(xmlValue(fast.body, "API_RESULT/ERROR"), "301");
    EXPECT_EQ(xmlValue(fast.body, "API_RESULT/GET_FAX_STATUS/RESULT"), "1");
    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    EXPECT_EQ(xmlValue(send(poll).body, "API_RESULT/GET_FAX_STATUS/RESULT"), "0");
}

TEST_F(ServerTest, FaxesOfAnotherAccountAnswerLikeUnknownOnes) {
    startServer();
    ASSERT_EQ(server_->command({"user", "add", "eve@x.test", "pw"}), 0);
    const std::string faxId =
        xmlValue(transfer({{"numbers[1]", "0301234567"}}), "API_RESULT/TRANSFER/FAX_ID");
    const Reply other = send({{"action", "get_fax_status"},
                              {"username", "eve@x.test"},
                              {"password", "pw"},
                              {"faxId", faxId}});
    const Reply unknown = send(with(demo("get_fax_status"), {{"faxId", "999999"}}));
    EXPECT_EQ(xmlValue(other.body, "API_RESULT/ERROR"), "113");
    EXPECT_EQ(other.body, unknown.body);
    EXPECT_EQ(
        xmlValue(send(with(demo("get_fax_status"), {{"faxId", "x1"}})).body, "API_RESULT/ERROR"),
        "113");
    EXPECT_EQ(xmlValue(send(demo("get_fax_status")).body, "API_RESULT/ERROR"), "402");
}

TEST_F(ServerTest, CoverPageIsAFaxTiff) {
    startServer();
    const Reply r = send(with(demo("convert"), {{"pagecount", "4"},
                                                {"numbers[1]", "0301234567"},
                                                {"names[1]", "Ann"},
                                                {"numbers[2]", "0301234568"},
                                                {"names[2]", "Sales"},
                                                {"coverpage", "Dear Ann,\r\nhere it comes."}}));
    ASSERT_EQ(r.outcome, Outcome::Answer) << r.error;
    ASSERT_GT(r.body.size(), 100u);
    EXPECT_EQ(r.body.substr(0, 3), "II*");
    const auto file = server_->dataDir() / "cover-test.tif";
    std::ofstream(file, std::ios::binary) << r.body;
    const std::string command = "tiffinfo " + file.string() + " 2>&1";
    std::string info;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, p))
            info += buffer;
        EXPECT_EQ(pclose(p), 0) << info;
    }
    EXPECT_NE(info.find("Image Width: 1728 Image Length: 2292"), std::string::npos) << info;
    EXPECT_NE(info.find("CCITT Group 3"), std::string::npos) << info;
    EXPECT_NE(info.find("2-d encoding"), std::string::npos) << info;
    EXPECT_NE(info.find("Resolution: 204, 196"), std::string::npos) << info;
    EXPECT_NE(info.find("min-is-white"), std::string::npos) << info;

    EXPECT_EQ(
        xmlValue(send({{"action", "convert"}, {"username", kDemoLogin}, {"password", "x"}}).body,
                 "API_RESULT/ERROR"),
        "107");
    EXPECT_EQ(xmlValue(send(with(demo("convert"), {{"coverpage", std::string(6000, 'x')}})).body,
                       "API_RESULT/ERROR"),
              "115");
}

TEST_F(ServerTest, PreferencesRoundTripAndLoginChanges) {
    startServer();
    const Reply initial = send(demo("get_user_preferences"));
    EXPECT_EQ(xmlValue(initial.body, "API_RESULT/GET_USER_PREFERENCES/RESULT"), "0");
    for (const char* element :
         {"REDIRECTION_TO_EMAIL", "REDIRECTION_FILE_FORMAT", "SMS_ALERT", "EMAIL_ALERT",
          "FAX_HEADER_STRING", "FAX_HEADER_EDITABLE", "SMS_NUMBER"})
        EXPECT_EQ(xmlCount(initial.body, std::string("API_RESULT/GET_USER_PREFERENCES/") + element),
                  1u)
            << element;

    const Reply update =
        send(with(demo("update_user_preferences"), {{"faxHeader", "Miravo Ltd"},
                                                    {"redirectToEmail", "ON"},
                                                    {"redirectFileFormat", "TIFF"},
                                                    {"smsAlert", "ON"},
                                                    {"smsNumber", "+44 7700 900123"}}));
    EXPECT_EQ(xmlValue(update.body, "API_RESULT/UPDATE_USER_PREFERENCES/RESULT"), "0")
        << update.body;
    const Reply after = send(demo("get_user_preferences"));
    const std::string p = "API_RESULT/GET_USER_PREFERENCES/";
    EXPECT_EQ(xmlValue(after.body, p + "REDIRECTION_TO_EMAIL"), "ON");
    EXPECT_EQ(xmlValue(after.body, p + "REDIRECTION_FILE_FORMAT"), "TIFF");
    EXPECT_EQ(xmlValue(after.body, p + "SMS_ALERT"), "ON");
    EXPECT_EQ(xmlValue(after.body, p + "EMAIL_ALERT"), "ON");  // left out while redirecting: kept
    EXPECT_EQ(xmlValue(after.body, p + "FAX_HEADER_STRING"), "Miravo Ltd");
    EXPECT_EQ(xmlValue(after.body, p + "FAX_HEADER_EDITABLE"), "1");
    EXPECT_EQ(xmlValue(after.body, p + "SMS_NUMBER"), "+44 7700 900123");

    // The dialog leaves an emptied SMS number out: it is cleared.
    send(with(demo("update_user_preferences"), {{"faxHeader", "Miravo Ltd"},
                                                {"redirectToEmail", "OFF"},
                                                {"redirectFileFormat", "PDF"},
                                                {"smsAlert", "OFF"},
                                                {"emailAlert", "OFF"}}));
    const Reply cleared = send(demo("get_user_preferences"));
    EXPECT_EQ(xmlValue(cleared.body, p + "SMS_NUMBER"), "");
    EXPECT_EQ(xmlValue(cleared.body, p + "EMAIL_ALERT"), "OFF");

    const Reply bad = send(with(demo("update_user_preferences"), {{"redirectToEmail", "MAYBE"}}));
    EXPECT_EQ(xmlValue(bad.body, "API_RESULT/ERROR"), "405");
    EXPECT_EQ(xmlValue(bad.body, "API_RESULT/UPDATE_USER_PREFERENCES/RESULT"), "1");
    EXPECT_EQ(xmlValue(send(demo("update_user_preferences")).body, "API_RESULT/ERROR"), "402");

    // Password, then e-mail: each takes over for the next request.
    EXPECT_EQ(xmlValue(send(with(demo("update_user_preferences"), {{"newPassword", "n3w"}})).body,
                       "API_RESULT/UPDATE_USER_PREFERENCES/RESULT"),
              "0");
    EXPECT_EQ(xmlValue(send(demo("get_user_preferences")).body, "API_RESULT/ERROR"), "107");
    const Fields newPass = {
        {"action", "update_user_preferences"}, {"username", kDemoLogin}, {"password", "n3w"}};
    ASSERT_EQ(server_->command({"user", "add", "taken@x.test", "pw"}), 0);
    EXPECT_EQ(
        xmlValue(send(with(newPass, {{"newEmail", "taken@x.test"}})).body, "API_RESULT/ERROR"),
        "116");
    // Whether it is taken is not told about a request that is wrong anyway.
    EXPECT_EQ(xmlValue(send(with(newPass, {{"newEmail", "taken@x.test"}, {"smsAlert", "MAYBE"}}))
                           .body,
                       "API_RESULT/ERROR"),
              "405");
    EXPECT_EQ(
        xmlValue(send(with(newPass, {{"newEmail", "not-an-address"}})).body, "API_RESULT/ERROR"),
        "116");
    EXPECT_EQ(xmlValue(send(with(newPass, {{"newEmail", "ann@new.test"}})).body,
                       "API_RESULT/UPDATE_USER_PREFERENCES/RESULT"),
              "0");
    EXPECT_EQ(
        xmlValue(send({{"action", "authentication"}, {"username", kDemoLogin}, {"password", "n3w"}})
                     .body,
                 "API_RESULT/ERROR"),
        "107");
    EXPECT_EQ(
        xmlValue(
            send({{"action", "authentication"}, {"username", "ann@new.test"}, {"password", "n3w"}})
                .body,
            "API_RESULT/AUTHENTICATION/RESULT"),
        "0");
}

TEST_F(ServerTest, AddressBookUpdateThenFetch) {
    startServer();
    ASSERT_EQ(server_->command({"user", "add", "eve@x.test", "pw"}), 0);
    const std::string c = "API_RESULT/GET_ADDRESS_BOOK/CONTACT/";
    const Reply book = send(demo("get_address_book"));
    ASSERT_EQ(xmlValue(book.body, "API_RESULT/GET_ADDRESS_BOOK/RESULT"), "0");
    ASSERT_EQ(xmlCount(book.body, "API_RESULT/GET_ADDRESS_BOOK/CONTACT"), 4u);
    for (const char* child : {"ID", "NAME", "NUMBER", "GSMNUMBER", "GROUPID", "GROUPNAME"})
        EXPECT_EQ(xmlCount(book.body, c + child), 4u) << child;
    EXPECT_EQ(xmlValue(book.body, c + "GROUPNAME", 2), "Sales");
    EXPECT_EQ(xmlValue(book.body, c + "GROUPNAME", 3), "Sales");
    EXPECT_EQ(xmlValue(book.body, c + "GROUPID", 0), "0");
    const std::string firstId = xmlValue(book.body, c + "ID", 0);
    const std::string secondId = xmlValue(book.body, c + "ID", 1);

    // New (id 0), changed (all fields), deleted (id alone); another
    // account's contacts are out of reach.
    const Reply eve = send({{"action", "update_address_book"},
                            {"username", "eve@x.test"},
                            {"password", "pw"},
                            {"contacts[0][id]", secondId}});
    EXPECT_EQ(xmlCount(eve.body, "API_RESULT/GET_ADDRESS_BOOK/CONTACT"), 0u);
    const Reply updated =
        send(with(demo("update_address_book"), {{"contacts[0][id]", "0"},
                                                {"contacts[0][name]", "Neu"},
                                                {"contacts[0][number]", "0301111111"},
                                                {"contacts[1][id]", firstId},
                                                {"contacts[1][name]", "Anna B."},
                                                {"contacts[1][number]", "+49 30 7654321"},
                                                {"contacts[2][id]", secondId}}));
    ASSERT_EQ(xmlValue(updated.body, "API_RESULT/GET_ADDRESS_BOOK/RESULT"), "0") << updated.body;
    EXPECT_EQ(xmlValue(updated.body, "API_RESULT/UPDATE_ADDRESS_BOOK/RESULT"), "0");
    const Reply fetched = send(demo("get_address_book"));
    EXPECT_EQ(updated.body.substr(updated.body.find("<CONTACT>")),
              fetched.body.substr(fetched.body.find("<CONTACT>")));
    ASSERT_EQ(xmlCount(fetched.body, "API_RESULT/GET_ADDRESS_BOOK/CONTACT"), 4u);
    EXPECT_EQ(xmlValue(fetched.body, c + "NAME", 0), "Anna B.");
    EXPECT_EQ(xmlValue(fetched.body, c + "NUMBER", 0), "+49 30 7654321");
    EXPECT_EQ(xmlValue(fetched.body, c + "GSMNUMBER", 0), "");  // not sent: emptied
    EXPECT_EQ(xmlValue(fetched.body, c + "NAME", 3), "Neu");
    EXPECT_NE(xmlValue(fetched.body, c + "ID", 3), "0");
    EXPECT_EQ(fetched.body.find(">Office Paris<"), std::string::npos);

    EXPECT_EQ(xmlValue(send(with(demo("update_address_book"), {{"contacts[0][name]", "x"}})).body,
                       "API_RESULT/ERROR"),
              "402");
    EXPECT_EQ(xmlValue(send(with(demo("update_address_book"),
                                 {{"contacts[0][id]", "0"},
                                  {"contacts[0][name]", std::string(60, 'n')},
                                  {"contacts[0][number]", "1"}}))
                           .body,
                       "API_RESULT/ERROR"),
              "405");
    EXPECT_EQ(
        xmlValue(send(with(demo("update_address_book"), {{"contacts[0][colour]", "red"}})).body,
                 "API_RESULT/ERROR"),
        "401");
}

TEST_F(ServerTest, MalformedBodiesGetErrorAnswersAndTheServerKeepsServing) {
    startServer(quick({"--max-body", "16000000"}));
    auto error = [](const auto& r) { return xmlValue(r.body, "API_RESULT/ERROR"); };
    const std::string good = form(demo("get_user_preferences"));
    EXPECT_EQ(error(client_->post(server_->url(), good, "multipart/form-data")), "401");
    EXPECT_EQ(error(client_->post(server_->url(), good, "text/plain")), "401");
    EXPECT_EQ(error(post(good.substr(0, good.size() - 7))), "401");
    EXPECT_EQ(error(post(good.substr(0, 30))), "401");
    EXPECT_EQ(error(send(with(demo("convert"), {{"coverpage", std::string(200000, 'x')}}))), "403");
    std::string garbage;
    unsigned s = 7;
    for (int i = 0; i < 300000; ++i) {
        s = s * 1103515245u + 12345u;
        garbage.push_back(static_cast<char>(s >> 16));
    }
    EXPECT_EQ(error(post(garbage)), "401");
    std::string numbers = form(demo("authentication"));
    for (int i = 1; numbers.size() < 10 * 1024 * 1024; ++i)
        numbers += part("numbers[" + std::to_string(i) + "]", "030123456");
    const RawReply many = post(numbers);
    EXPECT_EQ(many.code, CURLE_OK);
    EXPECT_EQ(error(many), "403");
    // Beyond the body limit: answered without reading it all.
    const RawReply huge = post(std::string(17000000, 'x'));
    EXPECT_EQ(huge.code, CURLE_OK);
    EXPECT_EQ(error(huge), "403");
    // Still serving, on a new connection as on this one.
    HttpsClient fresh(server_->caFile());
    EXPECT_EQ(
        xmlValue(fresh.post(server_->url(), good).body, "API_RESULT/GET_USER_PREFERENCES/RESULT"),
        "0");
    EXPECT_EQ(xmlValue(post(good).body, "API_RESULT/GET_USER_PREFERENCES/RESULT"), "0");
}

TEST_F(ServerTest, RequestLogHoldsTheWireBytesInArrivalOrder) {
    miravo::test::TempDir logs;
    startServer(quick({"--log-requests", logs.path().string()}));
    const std::string first = form(demo("get_address_book"));
    const std::string second =
        upload(demo("convert_and_transfer"), std::string("II*\0\r\n\xff", 7));
    send(demo("get_address_book"));
    uploadFax(settings_, demo("convert_and_transfer"), std::string("II*\0\r\n\xff", 7));
    EXPECT_EQ(readFile(logs / "000001.body"), first);
    EXPECT_EQ(readFile(logs / "000002.body"), second);
    const std::string headers = readFile(logs / "000001.headers");
    EXPECT_EQ(headers.rfind("POST /api2/proxy.php HTTP/1.1\r\n", 0), 0u) << headers;
    EXPECT_NE(headers.find("Content-Type: multipart/form-data; boundary=--AaB03x\r\n"),
              std::string::npos)
        << headers;
    EXPECT_NE(headers.find("Content-Length: " + std::to_string(first.size()) + "\r\n"),
              std::string::npos);
    EXPECT_NE(headers.find("User-Agent: Miravo 3.0.1\r\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(logs / "000003.body"));
    // They hold passwords in clear.
    for (const char* name : {"000001.body", "000001.headers"})
        EXPECT_EQ(std::filesystem::status(logs / name).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
            << name;
}

TEST_F(ServerTest, DataFolderIsPrivateAndServedByOneServerOnly) {
    startServer();
    namespace fs = std::filesystem;
    const fs::path data = server_->dataDir();
    EXPECT_EQ(fs::status(data).permissions(), fs::perms::owner_all);
    for (const char* name : {"miravo.db", "ca.pem", "ca-key.pem", "server.pem"})
        EXPECT_EQ(fs::status(data / name).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write)
            << name;
    // A second server on the same folder stops at once instead of sharing it.
    EXPECT_EQ(server_->command({"--port", "0", "--version-port", "-1"}), 1);

    // Nor does a second server on the same port share it.
    ServerProcess samePort(quick({"--port", std::to_string(server_->port())}));
    EXPECT_FALSE(samePort.start());
    EXPECT_NE(samePort.output().find("cannot listen"), std::string::npos) << samePort.output();

    ServerProcess shared(quick());
    fs::permissions(shared.dataDir(), fs::perms::all);
    EXPECT_FALSE(shared.start());
    EXPECT_NE(shared.output().find("writable by other users"), std::string::npos)
        << shared.output();
}

TEST_F(ServerTest, VersionPageAndCleanStopKeepingTheData) {
    startServer(quick({"--newest-version", "3.0.2", "--download-url", "https://127.0.0.1/get"}));
    const RawReply version =
        client_->get("http://127.0.0.1:" + std::to_string(server_->versionPort()) +
                     "/miravoprinter/version.php");
    EXPECT_EQ(version.status, 200);
    EXPECT_EQ(version.body, "3.0.2 https://127.0.0.1/get");

    const std::string faxId =
        xmlValue(transfer({{"numbers[1]", "0301234567"}}), "API_RESULT/TRANSFER/FAX_ID");
    client_.reset();
    EXPECT_EQ(server_->stop(), 0);
    EXPECT_NE(server_->output().find("stopped"), std::string::npos) << server_->output();
    // The same data folder again: the fax is still there (and has been delivered).
    ServerProcess restarted(quick());
    std::filesystem::copy(server_->dataDir(), restarted.dataDir(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(restarted.start()) << restarted.output();
    const Reply status = pollUntilFinal(transportSettings(restarted),
                                        with(demo("get_fax_status"), {{"faxId", faxId}}));
    EXPECT_EQ(xmlValue(status.body, "API_RESULT/GET_FAX_STATUS/FAX/STATUS"), "OK") << status.body;
    EXPECT_EQ(restarted.stop(), 0);
}

// --- injected faults --------------------------------------------------------

TEST_F(ServerTest, FaultsCountOnlyRequestsWithAcceptedCredentials) {
    startServer(quick({"--fault", "error:201,action=get_address_book,count=1", "--fault",
                       "delay:3000,action=get_address_book,count=1"}));
    auto error = [](const auto& r) { return xmlValue(r.body, "API_RESULT/ERROR"); };
    // A stranger neither sets them off nor uses them up.
    const Reply stranger = send(
        {{"action", "get_address_book"}, {"username", kDemoLogin}, {"password", "wrong"}});
    EXPECT_EQ(error(stranger), "107");
    EXPECT_LT(stranger.seconds, 2.5);
    EXPECT_EQ(error(post("garbage")), "401");
    EXPECT_EQ(error(send(demo("get_address_book"))), "201");
    EXPECT_EQ(error(send(demo("get_address_book"))), "");
}

TEST_F(ServerTest, FaultDelayHoldsTheAnswer) {
    startServer(quick({"--fault", "delay:600,action=get_address_book,count=1"}));
    const Reply slow = send(demo("get_address_book"));
    EXPECT_GE(slow.seconds, 0.55);
    EXPECT_EQ(xmlValue(slow.body, "API_RESULT/GET_ADDRESS_BOOK/RESULT"), "0");
    EXPECT_LT(send(demo("get_address_book")).seconds, slow.seconds - 0.4);
}

TEST_F(ServerTest, FaultCloseDropsTheConnectionBeforeAnswering) {
    startServer(quick({"--fault", "close,action=authentication,count=1"}));
    const Reply dropped = send(demo("authentication"));
    EXPECT_NE(dropped.outcome, Outcome::Answer);
    EXPECT_TRUE(dropped.body.empty());
    EXPECT_EQ(xmlValue(send(demo("authentication")).body, "API_RESULT/AUTHENTICATION/RESULT"), "0");
}

TEST_F(ServerTest, FaultEmptyAndTruncatedAnswers) {
    startServer(quick({"--fault", "empty,action=get_user_preferences,count=1", "--fault",
                       "truncate,action=get_address_book,count=1"}));
    const Reply empty = send(demo("get_user_preferences"));
    EXPECT_EQ(empty.outcome, Outcome::Answer) << empty.error;
    EXPECT_EQ(empty.status, 200);
    EXPECT_TRUE(empty.body.empty());
    const Reply cut = send(demo("get_address_book"));
    const Reply whole = send(demo("get_address_book"));
    ASSERT_FALSE(cut.body.empty());
    EXPECT_LT(cut.body.size(), whole.body.size());
    EXPECT_EQ(whole.body.rfind(cut.body, 0), 0u);
    EXPECT_EQ(xmlCount(cut.body, "API_RESULT"), 0u);  // does not parse
    EXPECT_EQ(xmlValue(whole.body, "API_RESULT/GET_ADDRESS_BOOK/RESULT"), "0");
}

TEST_F(ServerTest, FaultForcedErrorCodes) {
    miravo::test::TempDir plans;
    std::ofstream(plans / "plan") << "# forced answers\n\nerror:301,action=get_fax_status,count=2\n"
                                     "error:107,action=authentication,after=1,count=1\n";
    startServer(quick({"--fault-plan", (plans / "plan").string(), "--min-poll-interval", "0"}));
    const Fields poll = with(demo("get_fax_status"), {{"faxId", "1"}});
    for (int i = 0; i < 2; ++i) {
        const Reply r = send(poll);
        EXPECT_EQ(xmlValue(r.body, "API_RESULT/ERROR"), "301");
        EXPECT_EQ(xmlValue(r.body, "API_RESULT/GET_FAX_STATUS/RESULT"), "1");
    }
    EXPECT_EQ(xmlValue(send(poll).body, "API_RESULT/ERROR"), "113");  // the real answer again
    EXPECT_EQ(xmlValue(send(demo("authentication")).body, "API_RESULT/ERROR"), "");
    EXPECT_EQ(xmlValue(send(demo("authentication")).body, "API_RESULT/ERROR"), "107");
    EXPECT_EQ(xmlValue(send(demo("authentication")).body, "API_RESULT/ERROR"), "");
}

TEST_F(ServerTest, FaultRefusedConnectionsAtStartAndAfterARequest) {
    startServer(quick({"--fault", "refuse:1", "--fault", "refuse:1,after=1"}));
    const Reply refused = send(demo("authentication"));
    EXPECT_EQ(refused.outcome, Outcome::HostNotReached) << refused.error;
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    EXPECT_EQ(xmlValue(send(demo("authentication")).body, "API_RESULT/AUTHENTICATION/RESULT"), "0");
    // That was request 1: now refused again for a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(send(demo("authentication")).outcome, Outcome::HostNotReached);
    Reply back;
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        back = send(demo("authentication"));
        if (back.outcome == Outcome::Answer)
            break;
    }
    EXPECT_EQ(xmlValue(back.body, "API_RESULT/AUTHENTICATION/RESULT"), "0");
}

}  // namespace
}  // namespace miravo::server::test
