// The reading of status answers: rows, costs, pending destinations, the
// end of the polling, and answers that lack or misplace elements.
#include "service/StatusPolling.h"

#include "tests/service/SendTestSupport.h"
#include "app/TextIds.h"
#include "app/ControlIds.h"

namespace miravo {
namespace {

using test::xmlAnswer;

std::string fax(const std::string& id, const std::string& recipient, const std::string& cost,
                const std::string& status) {
    return "<FAX><FAX_ID>" + id + "</FAX_ID><RECIPIENT>" + recipient + "</RECIPIENT><COST>" + cost +
           "</COST><STATUS>" + status + "</STATUS></FAX>";
}

std::string statusAnswer(const std::string& faxes) {
    return xmlAnswer("<GET_FAX_STATUS><RESULT>0</RESULT>" + faxes + "</GET_FAX_STATUS>");
}

class StatusPollingTest : public test::SendFixture {
  protected:
    void SetUp() override {
        SendFixture::SetUp();
        state_.job.send.faxId = u"12";
        report_.setLabel(controlid::kStatusLine, u"busy");
    }
    StepOutcome poll(const std::string& answerBody) {
        answer("get_fax_status", {answerBody});
        return RunFaxStep(state_, report_, FaxStep::Status, waits_.timing());
    }
};

TEST_F(StatusPollingTest, PendingDestinationKeepsThePollingGoing) {
    const StepOutcome outcome =
        poll(statusAnswer(fax("12", "+49 1", "0.30", "OK") + fax("12", "+49 2", "0.30", "")));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(state_.job.send.errorCode, -1);
    EXPECT_EQ(report_.label(controlid::kLabelRecipient), u"+49 1");
    EXPECT_EQ(report_.label(controlid::kLabelRecipient + 1), u"+49 2");
    EXPECT_EQ(report_.label(controlid::kLabelStatus), text(35));
    EXPECT_EQ(report_.label(controlid::kLabelStatus + 1), text(37));
    EXPECT_EQ(report_.label(controlid::kLabelTotalCost), u"0.60 " + text(32));
    EXPECT_EQ(report_.label(controlid::kStatusLine), text(53));
    EXPECT_TRUE(report_.polling.empty());
    EXPECT_EQ(waits_.waits, std::vector<std::uint32_t>{1000});
}

TEST_F(StatusPollingTest, AllFinalFillsThreeRowsAndSumsEveryCost) {
    const StepOutcome outcome =
        poll(statusAnswer(fax("12", "a", "0.5", "OK") + fax("12", "b", "0.25", "BU") +
                          fax("12", "c", "1", "OK") + fax("12", "d", "1", "NA")));
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(state_.job.send.errorCode, 0);
    EXPECT_EQ(report_.label(controlid::kLabelRecipient + 2), u"c");
    EXPECT_EQ(report_.label(controlid::kLabelStatus + 1), text(41));
    EXPECT_FALSE(report_.hasLabel(controlid::kLabelRecipient + 3));
    EXPECT_EQ(report_.label(controlid::kLabelTotalCost), u"2.75 " + text(32));
    EXPECT_EQ(report_.label(controlid::kStatusLine), u"");
    EXPECT_EQ(report_.polling, std::vector<bool>{false});
    ASSERT_EQ(outcome.destinations.size(), 4u);
    EXPECT_EQ(outcome.destinations[3].status, u"NA");
    EXPECT_DOUBLE_EQ(outcome.totalCost, 2.75);
}

TEST_F(StatusPollingTest, AnswerAboutAnotherFaxEndsWithoutTouchingTheRows) {
    const StepOutcome outcome = poll(statusAnswer(fax("13", "a", "1", "")));
    EXPECT_TRUE(outcome.ok);
    EXPECT_FALSE(outcome.aboutThisFax);
    EXPECT_FALSE(report_.hasLabel(controlid::kLabelRecipient));
    EXPECT_FALSE(report_.hasLabel(controlid::kLabelTotalCost));
    EXPECT_EQ(report_.polling, std::vector<bool>{false});
}

TEST_F(StatusPollingTest, AnswersNamingNoDestinationAreNeverASuccess) {
    std::string empties;
    for (int i = 0; i < 100000; ++i)
        empties += "<FAX/>";
    const struct {
        const char* storedId;
        std::string answer;
        bool namesNoDestination;  // else: no usable answer at all
    } cases[] = {
        {"12", "<drop>", false},
        {"", "<drop>", false},
        {"12", statusAnswer(""), true},
        {"", statusAnswer(""), true},  // even the empty fax id of a bad transfer
        {"12", statusAnswer(empties), true},
    };
    for (const auto& c : cases) {
        state_.job.send.faxId = u16(c.storedId);
        report_.labels.clear();
        report_.polling.clear();
        const StepOutcome outcome = poll(c.answer);
        EXPECT_FALSE(outcome.ok) << c.storedId;
        EXPECT_EQ(outcome.namesNoDestination, c.namesNoDestination);
        EXPECT_EQ(outcome.unusable, !c.namesNoDestination);
        EXPECT_EQ(state_.job.send.errorCode, text::kNoUsableAnswer);
        EXPECT_EQ(report_.label(controlid::kLabelAuthentication), u"#999 " + text(999));
        EXPECT_EQ(report_.label(controlid::kStatusLine), text(999));
        EXPECT_FALSE(report_.hasLabel(controlid::kLabelTotalCost));
    }
    EXPECT_EQ(storedAnswer().size(), statusAnswer(empties).size());
}

TEST_F(StatusPollingTest, OnlyRecordsWithAFaxIdAreDestinations) {
    // 160,000 empty records around a real one: one destination, final.
    std::string empties;
    for (int i = 0; i < 80000; ++i)
        empties += "<FAX/>";
    const StepOutcome outcome = poll(statusAnswer(empties + fax("12", "a", "1", "OK") + empties));
    EXPECT_TRUE(outcome.ok);
    ASSERT_EQ(outcome.destinations.size(), 1u);
    EXPECT_EQ(outcome.destinations[0].recipient, u"a");
}

TEST_F(StatusPollingTest, RecordsMissingElementsStayWithTheirOwnDestination) {
    // The first destination has no STATUS element at all; the second is
    // final. The first is pending, and the second's status stays its own.
    const StepOutcome outcome =
        poll(statusAnswer("<FAX><FAX_ID>12</FAX_ID><RECIPIENT>a</RECIPIENT><COST>1</COST></FAX>" +
                          fax("12", "b", "2", "OK")));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(report_.label(controlid::kLabelStatus), text(37));
    EXPECT_EQ(report_.label(controlid::kLabelStatus + 1), text(35));
    ASSERT_EQ(outcome.destinations.size(), 2u);
    EXPECT_EQ(outcome.destinations[0].status, u"");
    EXPECT_EQ(outcome.destinations[1].status, u"OK");
    // An empty STATUS element is under way too.
    EXPECT_FALSE(poll(statusAnswer(fax("12", "a", "1", ""))).ok);
    EXPECT_EQ(state_.job.send.errorCode, -1);
}

TEST_F(StatusPollingTest, LongValuesAreCutAndNonNumbersCostNothing) {
    const std::string longName(400, 'n');
    const StepOutcome outcome =
        poll(statusAnswer(fax("12", longName, "lots", "OK") + fax("12", "b", "1.5", "OK")));
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(report_.label(controlid::kLabelRecipient).size(), 259u);
    EXPECT_EQ(report_.label(controlid::kLabelTotalCost), u"1.50 " + text(32));
    EXPECT_EQ(report_.label(controlid::kLabelStatus), text(35));
    EXPECT_EQ(poll(statusAnswer(fax("12", "a", "1", "ZZ"))).ok, true);
    EXPECT_EQ(report_.label(controlid::kLabelStatus), text(51));
}

}  // namespace
}  // namespace miravo
