// The send against a service that misbehaves in every way the faults
// table knows: it never crashes, ends within its deadline, and never shows
// a step that failed as "OK".
#include <chrono>
#include <thread>

#include "service/SendWorker.h"
#include "tests/service/HostileService.h"
#include "tests/service/SendTestSupport.h"
#include "app/TextIds.h"
#include "app/ControlIds.h"

namespace miravo {
namespace {

using namespace std::chrono_literals;

class HostileServiceTest : public test::SendFixture {
  protected:
    void SetUp() override {
        SendFixture::SetUp();
        state_.job.documentPath = document(1, std::string("II*\0", 4) + std::string(8000, 'x'));
        state_.job.recipients = {single(u"+49 30 1")};
        options_.timing = waits_.timing();
        options_.timing.exchangeDeadline = 1500ms;
        options_.waitForClose = false;
    }
    SendOptions options_;
    test::ScriptedPrompt prompt_;
};

TEST_F(HostileServiceTest, EveryFaultEndsTheSendAsAFailureInTime) {
    for (const test::HostileCase& hostile : test::HostileCases()) {
        SCOPED_TRACE(hostile.name);
        test::ServeHostile(*server_, hostile);
        test::RecordingReport report;
        const auto started = std::chrono::steady_clock::now();
        const SendSummary summary = RunSend(state_, report, prompt_, options_);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
        EXPECT_EQ(summary.end, SendEnd::Failed);
        EXPECT_EQ(prompt_.asked, 0);  // no answer is taken for refused credentials

        const std::string action = hostile.action;
        const bool nested = std::string(hostile.name).rfind("nesting", 0) == 0;
        const std::u16string failure =
            nested ? u"#110 " + text(86) : u"#999 " + text(text::kNoUsableAnswer);
        if (action == "convert_and_transfer") {
            EXPECT_EQ(report.label(controlid::kLabelTransfer), failure);
            EXPECT_EQ(report.label(controlid::kLabelFaxId), u"");
            EXPECT_NE(report.label(controlid::kStatusLine), text(52));  // not "Sending..."
        } else {
            EXPECT_EQ(report.label(controlid::kLabelAuthentication), failure);
            EXPECT_EQ(report.hasLabel(controlid::kLabelTransfer), action == "get_fax_status");
        }
    }
}

TEST_F(HostileServiceTest, ClosingTheWindowEndsADrippingExchangeWithinOneSecond) {
    for (const test::HostileCase& hostile : test::HostileCases()) {
        if (hostile.kind != test::HostileCase::Kind::Drip)
            continue;
        test::ServeHostile(*server_, hostile);
        options_.timing = SendTiming{};  // real pauses: they too must end on Close
        options_.timing.exchangeDeadline = 60s;
        test::RecordingReport report;
        std::thread closer([&report] {
            std::this_thread::sleep_for(300ms);
            report.open = false;
        });
        const auto started = std::chrono::steady_clock::now();
        const SendSummary summary = RunSend(state_, report, prompt_, options_);
        closer.join();
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1300ms);
        EXPECT_EQ(summary.end, SendEnd::Stopped);
        EXPECT_TRUE(summary.last.cancelled());
        EXPECT_FALSE(report.hasLabel(controlid::kLabelAuthentication));
    }
}

}  // namespace
}  // namespace miravo
