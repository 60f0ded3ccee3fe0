// The project's own client transport against miravo-server: every action
// sent exactly as the program sends it, and the faults as the program sees
// them.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "app/AppSettings.h"
#include "app/Text.h"
#include "service/MultipartForm.h"
#include "service/Transport.h"
#include "service/VersionCheck.h"
#include "tests/server/ServerHarness.h"

namespace miravo::server::test {
namespace {

class ServerClientTransportTest : public ::testing::Test {
  protected:
    void startServer(std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"--delivery-time", "4000", "--min-poll-interval", "2000",
                                         "--quiet"};
        args.insert(args.end(), more.begin(), more.end());
        server_ = std::make_unique<ServerProcess>(args);
        ASSERT_TRUE(server_->start()) << server_->output();
        settings_.userName = u16(kDemoLogin);
        settings_.password = u16(kDemoPassword);
        settings_.serviceHost = u"127.0.0.1:" + toU16(server_->port());
        settings_.objectPath = u"api2/proxy.php";
        settings_.caFile = u16(server_->caFile().string());
        settings_.versionHost = u"127.0.0.1:" + toU16(server_->versionPort());
    }
    void TearDown() override {
        if (server_ && server_->running()) {
            EXPECT_EQ(server_->stop(), 0) << server_->output();
        }
    }
    MultipartForm textForm(std::u16string_view action,
                           std::size_t capacity = kSmallFormCapacity) const {
        MultipartForm form(capacity);
        form.add(u"action", action);
        form.add(u"username", settings_.userName);
        form.add(u"password", settings_.password);
        return form;
    }
    FaxForm faxForm(std::string_view action) const {
        FaxForm form;
        form.add("action", action);
        form.add("username", ToAnsi(settings_.userName));
        form.add("password", ToAnsi(settings_.password));
        return form;
    }
    std::string answerOf(const ExchangeResult& r) {
        EXPECT_EQ(r.outcome, Outcome::Answer) << r.error;
        return r.answer;
    }

    std::unique_ptr<ServerProcess> server_;
    AppSettings settings_;
};

TEST_F(ServerClientTransportTest, EveryActionAsTheProgramSendsIt) {
    startServer({"--newest-version", "3.0.2", "--download-url", "https://127.0.0.1/miravo"});

    FaxForm auth = faxForm("authentication");
    auth.add("pagescount", "1");
    auth.add("numbers[1]", LowBytes(u"0301234567"));
    const std::string authAnswer = answerOf(PostFaxRequest(settings_, auth));
    EXPECT_EQ(xmlValue(authAnswer, "API_RESULT/AUTHENTICATION/RESULT"), "0") << authAnswer;
    EXPECT_EQ(xmlValue(authAnswer, "API_RESULT/VALIDATION/RESULT"), "0");

    // Upload with a cover page: the document streamed from a file.
    const auto document = server_->dataDir() / "tosend_res__1.tif";
    std::ofstream(document, std::ios::binary) << faxDocument();
    FaxForm transfer = faxForm("convert_and_transfer");
    transfer.add("numbers[1]", LowBytes(u"0301234567"));
    transfer.add("names[1]", LowBytes(u"M\u00fcller"));
    transfer.add("numbers[2]", LowBytes(u"0301234500"));
    transfer.add("names[2]", "");
    transfer.addCoverPage(CoverTextUtf8(u"Sehr geehrte Frau M\u00fcller,\r\nanbei."));
    transfer.add("pagecount", "2");
    transfer.add("TXAttachType", "NO");
    transfer.addDocumentHeader();
    const std::string sent = answerOf(PostFaxUpload(settings_, transfer, u16(document.string())));
    ASSERT_EQ(xmlValue(sent, "API_RESULT/TRANSFER/RESULT"), "0") << sent;
    EXPECT_EQ(xmlValue(sent, "API_RESULT/TRANSFER/PREBILLING"), "0.40");  // 2 numbers × 2 pages
    const std::string faxId = xmlValue(sent, "API_RESULT/TRANSFER/FAX_ID");

    FaxForm status = faxForm("get_fax_status");
    status.add("pagescount", "1");
    status.add("faxId", ToAnsi(u16(faxId)));
    const std::string pending = answerOf(PostFaxRequest(settings_, status));
    EXPECT_EQ(xmlValue(pending, "API_RESULT/GET_FAX_STATUS/FAX/STATUS", 0), "");
    EXPECT_EQ(xmlValue(pending, "API_RESULT/GET_FAX_STATUS/FAX/FAX_ID", 0), faxId);
    EXPECT_EQ(xmlValue(answerOf(PostFaxRequest(settings_, status)), "API_RESULT/ERROR"), "301");
    std::string final;
    for (int i = 0; i < 60 && xmlValue(final, "API_RESULT/GET_FAX_STATUS/FAX/STATUS").empty();
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(350));
        final = answerOf(PostFaxRequest(settings_, status));
    }
    EXPECT_EQ(xmlValue(final, "API_RESULT/GET_FAX_STATUS/FAX/STATUS", 0), "OK") << final;
    EXPECT_EQ(xmlValue(final, "API_RESULT/GET_FAX_STATUS/FAX/STATUS", 1), "BU");
    EXPECT_EQ(xmlValue(final, "API_RESULT/GET_FAX_STATUS/FAX/COST", 0), "0.20");
    EXPECT_EQ(xmlValue(final, "API_RESULT/GET_FAX_STATUS/FAX/NAME", 0), "M\xc3\xbcller");

    MultipartForm cover = textForm(u"convert", kLargeFormCapacity);
    cover.add(u"pagecount", u"2");
    cover.add(u"numbers[1]", u"0301234567");
    cover.add(u"names[1]", u"M\u00fcller");
    cover.add(u"coverpage", u"Guten Tag");
    const std::string tiff = answerOf(PostForm(settings_, cover));
    EXPECT_EQ(tiff.substr(0, 3), "II*");

    MultipartForm update = textForm(u"update_user_preferences", kLargeFormCapacity);
    update.add(u"faxHeader", u"B\u00fcro Nord");
    update.add(u"redirectToEmail", u"OFF");
    update.add(u"redirectFileFormat", u"TIFF");
    update.add(u"smsAlert", u"OFF");
    update.add(u"emailAlert", u"ON");
    update.add(u"smsNumber", u"+491701234567");
    EXPECT_EQ(xmlValue(answerOf(PostForm(settings_, update)),
                       "API_RESULT/UPDATE_USER_PREFERENCES/RESULT"),
              "0");
    const std::string prefs = answerOf(PostForm(settings_, textForm(u"get_user_preferences")));
    EXPECT_EQ(xmlValue(prefs, "API_RESULT/GET_USER_PREFERENCES/FAX_HEADER_STRING"),
              "B\xc3\xbcro Nord");
    EXPECT_EQ(xmlValue(prefs, "API_RESULT/GET_USER_PREFERENCES/REDIRECTION_FILE_FORMAT"), "TIFF");
    EXPECT_EQ(xmlValue(prefs, "API_RESULT/GET_USER_PREFERENCES/SMS_NUMBER"), "+491701234567");

    MultipartForm book = textForm(u"update_address_book", kLargeFormCapacity);
    book.add(u"contacts[0][id]", u"0");
    book.add(u"contacts[0][name]", u"J\u00fcrgen");
    book.add(u"contacts[0][number]", u"0309999999");
    const std::string updated = answerOf(PostForm(settings_, book));
    EXPECT_EQ(xmlValue(updated, "API_RESULT/GET_ADDRESS_BOOK/RESULT"), "0");
    const std::string fetched = answerOf(PostForm(settings_, textForm(u"get_address_book")));
    EXPECT_EQ(xmlCount(fetched, "API_RESULT/GET_ADDRESS_BOOK/CONTACT"), 5u);
    EXPECT_EQ(xmlValue(fetched, "API_RESULT/GET_ADDRESS_BOOK/CONTACT/NAME", 4), "J\xc3\xbcrgen");

    std::string address;
    EXPECT_TRUE(CheckForNewerVersion(settings_, address));
    EXPECT_EQ(address, "https://127.0.0.1/miravo");
}

TEST_F(ServerClientTransportTest, RefusedCredentialsAndTheWireBytesOfATextExchange) {
    miravo::test::TempDir logs;
    startServer({"--log-requests", logs.path().string()});
    const std::string prefs = answerOf(PostForm(settings_, textForm(u"get_user_preferences")));
    EXPECT_EQ(xmlValue(prefs, "API_RESULT/GET_USER_PREFERENCES/RESULT"), "0");
    std::ifstream in(logs / "000001.body", std::ios::binary);
    const std::string body((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(body,
              "----AaB03x\r\nContent-Disposition: form-data; name=\"action\"\r\n\r\n"
              "get_user_preferences\r\n"
              "----AaB03x\r\nContent-Disposition: form-data; name=\"username\"\r\n\r\n"
              "demo@miravo.test\r\n"
              "----AaB03x\r\nContent-Disposition: form-data; name=\"password\"\r\n\r\ndemo\r\n");

    settings_.password = u"wrong";
    const std::string refused = answerOf(PostFaxRequest(settings_, faxForm("authentication")));
    EXPECT_EQ(xmlValue(refused, "API_RESULT/ERROR"), "107");
    EXPECT_EQ(
        xmlValue(answerOf(PostForm(settings_, textForm(u"get_address_book"))), "API_RESULT/ERROR"),
        "107");
}

TEST_F(ServerClientTransportTest, FaultsAsTheProgramSeesThem) {
    startServer({"--fault", "refuse:1", "--fault", "close,action=get_address_book,count=1",
                 "--fault", "empty,action=get_user_preferences,count=1"});
    EXPECT_EQ(PostForm(settings_, textForm(u"get_address_book")).outcome, Outcome::HostNotReached);
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    const ExchangeResult closed = PostForm(settings_, textForm(u"get_address_book"));
    EXPECT_EQ(closed.outcome, Outcome::Failed);
    EXPECT_TRUE(closed.answer.empty());
    const ExchangeResult empty = PostForm(settings_, textForm(u"get_user_preferences"));
    EXPECT_EQ(empty.outcome, Outcome::Answer);
    EXPECT_TRUE(empty.answer.empty());
    EXPECT_EQ(xmlValue(answerOf(PostForm(settings_, textForm(u"get_user_preferences"))),
                       "API_RESULT/GET_USER_PREFERENCES/RESULT"),
              "0");
}

}  // namespace
}  // namespace miravo::server::test
