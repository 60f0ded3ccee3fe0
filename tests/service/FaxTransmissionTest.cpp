// One step of the send against a scripted loopback service: the requests
// byte for byte, the readings of each answer, the error codes, and the
// sleeps that end every step.
#include "service/FaxTransmission.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/SettingsStore.h"
#include "tests/service/SendTestSupport.h"
#include "app/TextIds.h"
#include "app/ControlIds.h"
#include "service/ServiceTexts.h"

namespace miravo {
namespace {

using test::formField;
using test::formFieldNames;
using test::xmlAnswer;
using namespace std::string_literals;

const std::string kAuthOk = xmlAnswer(
    "<AUTHENTICATION><RESULT>0</RESULT></AUTHENTICATION><VALIDATION><RESULT>0</RESULT>"
    "</VALIDATION>");
const std::string kTransferOk = xmlAnswer(
    "<TRANSFER><RESULT>0</RESULT><FAX_ID>4711</FAX_ID><PREBILLING>0.9</PREBILLING></TRANSFER>"
    "<AUTHENTICATION><RESULT>0</RESULT></AUTHENTICATION><VALIDATION><RESULT>0</RESULT>"
    "</VALIDATION>");

class FaxTransmissionTest : public test::SendFixture {
  protected:
    StepOutcome run(FaxStep step) { return RunFaxStep(state_, report_, step, waits_.timing()); }
};

TEST_F(FaxTransmissionTest, AuthenticationSendsEveryListedNumberInAnsiAndLowBytes) {
    state_.settings.userName = u"jos\u00e9";
    state_.settings.password = u"p\u20acss";  // the euro sign has a Windows-1252 byte
    state_.job.recipients = {single(u"+49 30 1", u"Anna"), single(u"+49 30 1", u"Bob"),
                             group(u"Sales", {u"+44 1", u"+44 2"})};
    answer("authentication", {kAuthOk});
    const StepOutcome outcome = run(FaxStep::Authenticate);
    EXPECT_TRUE(outcome.ok);
    const auto sent = requests("authentication");
    ASSERT_EQ(sent.size(), 1u);
    const std::string& body = sent[0].body;
    EXPECT_EQ(formFieldNames(body),
              (std::vector<std::string>{"action", "username", "password", "pagescount",
                                        "numbers[1]", "numbers[2]", "numbers[3]"}));
    EXPECT_EQ(formField(body, "username"), "jos\xE9");
    EXPECT_EQ(formField(body, "password"), "p\x80ss");
    EXPECT_EQ(formField(body, "pagescount"), "3");
    // No duplicate removal, and a group sends its own number.
    EXPECT_EQ(formField(body, "numbers[2]"), "+49 30 1");
    EXPECT_EQ(formField(body, "numbers[3]"), "[Sales]");
    EXPECT_EQ(report_.label(controlid::kLabelAuthentication), text(35));
    EXPECT_FALSE(report_.hasLabel(controlid::kStatusLine));
    EXPECT_EQ(waits_.waits, std::vector<std::uint32_t>{1000});
    EXPECT_EQ(test::readBytes(dir_ / "appdata/result.xml"), kAuthOk);
}

TEST_F(FaxTransmissionTest, AuthenticationVerdicts) {
    // RESULT 0 without a VALIDATION element: validated, text 35.
    answer("authentication",
           {xmlAnswer("<AUTHENTICATION><RESULT>0</RESULT></AUTHENTICATION>"),
            xmlAnswer("<VALIDATION><RESULT>0</RESULT></VALIDATION>"),
            xmlAnswer("<AUTHENTICATION><RESULT></RESULT></AUTHENTICATION>"),
            xmlAnswer("<AUTHENTICATION><RESULT>0</RESULT></AUTHENTICATION><VALIDATION><RESULT>1"
                      "</RESULT></VALIDATION>"),
            xmlAnswer("<AUTHENTICATION><RESULT>0</RESULT></AUTHENTICATION><VALIDATION><RESULT>1"
                      "</RESULT></VALIDATION>")});
    EXPECT_TRUE(run(FaxStep::Authenticate).ok);
    EXPECT_TRUE(state_.job.send.validated);
    EXPECT_EQ(report_.label(controlid::kLabelAuthentication), text(35));
    // No AUTHENTICATION element, or an empty one: refused with 107, and
    // shown as failed even when validated.
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(run(FaxStep::Authenticate).ok);
        EXPECT_EQ(state_.job.send.errorCode, 107);
        EXPECT_FALSE(state_.job.send.authenticated);
        EXPECT_EQ(report_.label(controlid::kLabelAuthentication), text(36));
    }
    // Accepted but with numbers the service does not take: the credentials
    // line says OK, and the transfer's line names the number; nothing is
    // uploaded after that.
    state_.job.recipients = {single(u"+49 30 CALL ME", u"Anna")};
    const StepOutcome refused = run(FaxStep::Authenticate);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.numbersRefused);
    EXPECT_EQ(report_.label(controlid::kLabelAuthentication), text(35));
    EXPECT_EQ(report_.label(controlid::kLabelTransfer),
              GetText(state_.language, text::kNumbersRefused, std::u16string(u"+49 30 CALL ME")));
    // A group goes as its bracketed name, which never validates: the
    // transfer's answer decides then.
    state_.job.recipients = {group(u"Sales", {u"+49 30 1234567"})};
    EXPECT_TRUE(run(FaxStep::Authenticate).ok);
}

TEST(RefusedNumbers, NameTheNumbersNotWrittenLikeNumbersElseAll) {
    auto one = [](std::u16string number) { return Contact::entry(u"0", u"", number, u""); };
    const std::vector<std::pair<std::vector<Recipient>, std::u16string>> cases = {
        {{one(u"+49 30 1234567"), one(u"+49 30 CALL ME")}, u"+49 30 CALL ME"},
        {{one(u"+49 (30) 123-45.67")}, u"+49 (30) 123-45.67"},
        {{one(u"12"), one(u"x1"), one(u"x2"), one(u"x3")}, u"12, x1, x2, \u2026"},
    };
    for (const auto& [recipients, named] : cases)
        EXPECT_EQ(RefusedNumbersText(recipients), named);
}

TEST_F(FaxTransmissionTest, TransferSendsEachNumberOnceWithGroupNames) {
    state_.job.recipients = {single(u"+49 30 1", u"Anna"),
                             group(u"Sales", {u"+44 1", u"+44 2", u"+49 30 1"}),
                             single(u"+44 2", u"Other"), single(u"+33 \u00e9", u"")};
    state_.settings.transmissionReport = true;
    state_.settings.reportAttach = false;
    answer("convert_and_transfer", {kTransferOk});
    const StepOutcome outcome = run(FaxStep::Transfer);
    EXPECT_TRUE(outcome.ok);
    const auto sent = requests("convert_and_transfer");
    ASSERT_EQ(sent.size(), 1u);
    const std::string& body = sent[0].body;
    EXPECT_EQ(
        formFieldNames(body),
        (std::vector<std::string>{"action", "username", "password", "numbers[1]", "names[1]",
                                  "numbers[2]", "names[2]", "numbers[3]", "names[3]", "numbers[4]",
                                  "names[4]", "pagecount", "TXAttachType", "document"}));
    EXPECT_EQ(formField(body, "numbers[2]"), "+44 1");
    EXPECT_EQ(formField(body, "names[2]"), "Sales");
    EXPECT_EQ(formField(body, "names[3]"), "Sales");
    EXPECT_EQ(formField(body, "numbers[4]"), "+33 \xE9");
    EXPECT_EQ(formField(body, "names[4]"), "");
    EXPECT_EQ(formField(body, "pagecount"), "3");
    EXPECT_EQ(formField(body, "TXAttachType"), "NO");
    EXPECT_NE(body.find("filename=\"image.tif\"\r\nContent-Type: application/octet-stream\r\n\r\n"
                        "II*\0fax pages\r\n----AaB03x--\r\n"s),
              std::string::npos);
    EXPECT_TRUE(state_.job.massFaxOn);
    // Labels: verdicts, fax id, 4 numbers x 3 pages, prebilling; polling starts.
    EXPECT_EQ(report_.label(controlid::kStatusLine), text(52));
    EXPECT_EQ(report_.label(controlid::kLabelTransfer), text(35));
    EXPECT_EQ(report_.label(controlid::kLabelFaxId), u"4711");
    EXPECT_EQ(report_.label(controlid::kLabelPages), GetText(state_.language, 500, 12, 3, 4));
    EXPECT_EQ(report_.label(controlid::kLabelPrebilling), u"0.90 " + text(32));
    EXPECT_EQ(report_.label(controlid::kLabelAuthentication), text(35));
    EXPECT_EQ(report_.polling, std::vector<bool>{true});
    EXPECT_EQ(state_.job.send.faxId, u"4711");
    EXPECT_EQ(waits_.waits, std::vector<std::uint32_t>{1000});
    EXPECT_EQ(report_.progressMaximum, 0);  // 15 bytes: no whole block
    EXPECT_EQ(report_.progressSteps, 2);
}

TEST_F(FaxTransmissionTest, TransferWithCoverPageAndReportChoices) {
    state_.job.recipients = {single(u"+49 30 1"), single(u"+49 30 1")};
    state_.job.coverPageOn = true;
    state_.job.coverText = u"Gr\u00fc\u00dfe";
    answer("convert_and_transfer", {kTransferOk});
    const struct {
        bool report, attach;
        const char* expected;
    } cases[] = {{true, true, "YES"},
                 {true, false, "NO"},
                 {false, true, "NOT_AT_ALL"},
                 {false, false, "NOT_AT_ALL"}};
    for (const auto& c : cases) {
        state_.settings.transmissionReport = c.report;
        state_.settings.reportAttach = c.attach;
        EXPECT_TRUE(run(FaxStep::Transfer).ok);
        const std::string body = requests("convert_and_transfer").back().body;
        EXPECT_EQ(formField(body, "TXAttachType"), c.expected);
        EXPECT_EQ(formField(body, "pagecount"), "4");
        EXPECT_NE(body.find("\r\n\r\n----AaB03x\r\nContent-Disposition: form-data; "
                            "name=\"coverpage\"\r\n\r\nGr\xC3\xBC\xC3\x9F"
                            "e\r\n"),
                  std::string::npos);
    }
    // One distinct number: one pair, pages counted once, no mass fax.
    EXPECT_EQ(formField(requests("convert_and_transfer").back().body, "numbers[2]"), "");
    EXPECT_EQ(report_.label(controlid::kLabelPages), u"4");
    EXPECT_FALSE(state_.job.massFaxOn);
}

TEST_F(FaxTransmissionTest, TransferWithoutAuthenticationVerdictFails) {
    answer("convert_and_transfer",
           {xmlAnswer("<TRANSFER><RESULT>0</RESULT><FAX_ID>9</FAX_ID></TRANSFER>")});
    EXPECT_FALSE(run(FaxStep::Transfer).ok);
    EXPECT_EQ(state_.job.send.errorCode, 107);
    EXPECT_TRUE(state_.job.send.transferred);
    // No numbers: the page count alone.
    EXPECT_EQ(report_.label(controlid::kLabelPages), u"3");
}

TEST_F(FaxTransmissionTest, MissingDocumentSendsNothing) {
    state_.job.documentPath = fromUtf8((dir_ / "gone_res__2.tif").string());
    const StepOutcome outcome = run(FaxStep::Transfer);
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.requested);
    EXPECT_TRUE(server_->requests().empty());
    EXPECT_EQ(waits_.waits, std::vector<std::uint32_t>{1000});
}

TEST_F(FaxTransmissionTest, ServiceErrorsShowTheirCodeAndText) {
    // On the line of the step the service refused; a refusal of the
    // numbers names them.
    state_.job.recipients = {single(u"+49 30 CALL ME", u"Anna")};
    answer("convert_and_transfer",
           {xmlAnswer("<ERROR>110</ERROR>"), xmlAnswer("<ERROR>111</ERROR>")});
    EXPECT_FALSE(run(FaxStep::Transfer).ok);
    EXPECT_EQ(state_.job.send.errorCode, 110);
    EXPECT_EQ(report_.label(controlid::kLabelTransfer), u"#110 " + text(86));
    EXPECT_FALSE(run(FaxStep::Transfer).ok);
    EXPECT_EQ(report_.label(controlid::kLabelTransfer),
              u"#111 " + ErrorText(state_.language, 111) + u": +49 30 CALL ME");
    EXPECT_FALSE(report_.hasLabel(controlid::kLabelAuthentication));
    // Once the window is closed nothing is sent, read or written.
    report_.open = false;
    answer("get_fax_status", {xmlAnswer("<ERROR>404</ERROR>")});
    report_.labels.clear();
    const StepOutcome closed = run(FaxStep::Status);
    EXPECT_TRUE(closed.cancelled());
    EXPECT_TRUE(requests("get_fax_status").empty());
    EXPECT_TRUE(report_.labels.empty());
    EXPECT_EQ(state_.job.send.errorCode, 111);
}

TEST_F(FaxTransmissionTest, Error301DoublesTimeoutBeforeTheSleepAndSaturates) {
    state_.settings.timeoutMs = 1000;
    state_.job.send.faxId = u"4711";
    answer("get_fax_status", {xmlAnswer("<ERROR>301</ERROR>")});
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(run(FaxStep::Status).ok);
    EXPECT_EQ(waits_.waits, (std::vector<std::uint32_t>{2000, 4000, 8000}));
    EXPECT_FALSE(report_.hasLabel(controlid::kLabelAuthentication));
    EXPECT_EQ(formField(requests("get_fax_status").back().body, "faxId"), "4711");

    EXPECT_EQ(DoubledTimeout(0x7FFFFFFFu), 0xFFFFFFFEu);
    EXPECT_EQ(DoubledTimeout(0x80000000u), 0xFFFFFFFFu);
    EXPECT_EQ(DoubledTimeout(0xFFFFFFFFu), 0xFFFFFFFFu);
    state_.settings.timeoutMs = 0xFFFFFFFFu;
    waits_.waits.clear();
    EXPECT_FALSE(run(FaxStep::Status).ok);
    EXPECT_EQ(waits_.waits, std::vector<std::uint32_t>{0xFFFFFFFFu});
}

TEST_F(FaxTransmissionTest, StatusRequestFieldsInOrder) {
    state_.job.send.faxId = u"77";
    state_.job.coverPageOn = true;
    run(FaxStep::Status);
    const std::string body = requests("get_fax_status").at(0).body;
    EXPECT_EQ(formFieldNames(body),
              (std::vector<std::string>{"action", "username", "password", "pagescount", "faxId"}));
    EXPECT_EQ(formField(body, "pagescount"), "3");  // no cover page here
}

TEST_F(FaxTransmissionTest, ValueCarryingTheDelimiterIsNotSent) {
    std::filesystem::create_directories(dir_ / "appdata");
    test::writeBytes(dir_ / "appdata/result.xml", "old");
    state_.settings.password = u"x----AaB03xy";
    const StepOutcome outcome = run(FaxStep::Authenticate);
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.refused());
    EXPECT_TRUE(server_->requests().empty());
    EXPECT_EQ(report_.label(controlid::kLabelAuthentication), text(79));
    EXPECT_EQ(storedAnswer(), "old");
    EXPECT_NE(state_.job.send.errorCode, 107);  // no credentials loop over it
}

TEST_F(FaxTransmissionTest, UnreachableHostReadsNoAnswer) {
    std::filesystem::create_directories(dir_ / "appdata");
    test::writeBytes(dir_ / "appdata/result.xml", "old");
    state_.settings.serviceHost = u16("127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()));
    const StepOutcome outcome = run(FaxStep::Authenticate);
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.hostUnavailable());
    EXPECT_EQ(state_.job.send.errorCode, 0);
    EXPECT_EQ(storedAnswer(), "old");
    // Said at once; the send worker waits before trying again.
    EXPECT_EQ(report_.label(controlid::kLabelAuthentication), text(text::kServiceUnreachable));
    EXPECT_TRUE(waits_.waits.empty());
}

TEST_F(FaxTransmissionTest, DroppedAnswerIsKeptEmptyAndShownAsNoUsableAnswer) {
    answer("authentication", {"<drop>"});
    const StepOutcome outcome = run(FaxStep::Authenticate);
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.hostUnavailable());
    EXPECT_TRUE(outcome.unusable);
    EXPECT_EQ(state_.job.send.errorCode, text::kNoUsableAnswer);  // no credentials loop over it
    EXPECT_EQ(report_.label(controlid::kLabelAuthentication), u"#999 " + text(999));
    EXPECT_TRUE(std::filesystem::exists(dir_ / "appdata/result.xml"));
    EXPECT_EQ(storedAnswer(), "");
}

TEST(FaxTransmissionValues, DecimalsAndDestinations) {
    EXPECT_DOUBLE_EQ(DecimalValue(u"0.25"), 0.25);
    EXPECT_DOUBLE_EQ(DecimalValue(u" +1.5x"), 1.5);
    EXPECT_DOUBLE_EQ(DecimalValue(u"abc"), 0);
    EXPECT_DOUBLE_EQ(DecimalValue(u""), 0);
    EXPECT_DOUBLE_EQ(DecimalValue(u"nan"), 0);
    EXPECT_EQ(MoneyText(2.75, u"EUR"), u"2.75 EUR");
    EXPECT_EQ(MoneyText(0, u"EUR"), u"0.00 EUR");
    Recipient g;
    g.kind = Group;
    g.name = u"G";
    g.members = {u"1", u"2", u"1"};
    Recipient a;
    a.kind = Single;
    a.number = u"2";
    a.name = u"A";
    const auto d = DistinctDestinations({g, a});
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].number, u"1");
    EXPECT_EQ(d[1].name, u"G");
}

}  // namespace
}  // namespace miravo
