// The send engine against miravo-server: every destination followed to its
// final status, credentials, back-off, restarts, the end of the polling,
// service errors and the cover page. Waits are shortened: TIMEOUT and the
// fixed pauses are tens of milliseconds, the service delivers within
// a few hundred.
#include <algorithm>
#include <filesystem>

#include "app/Paths.h"
#include "app/SettingsStore.h"
#include "convert/FaxTiff.h"
#include "service/CoverPage.h"
#include "service/SendWorker.h"
#include "service/ServiceTexts.h"
#include "tests/server/ServerHarness.h"
#include "tests/service/SendTestSupport.h"
#include "app/ControlIds.h"

namespace miravo {
namespace {

using server::test::ServerProcess;
using test::RecordingReport;
using test::ScriptedPrompt;

constexpr std::uint32_t kTimeout = 40;

class SendIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ClearProxyEnvironment();
        OverrideApplicationDataFolder(fromUtf8((dir_ / "appdata").string()));
        ASSERT_EQ(
            LoadLanguage(state_.language, fromUtf8(MIRAVO_SOURCE_DIR "/data/lang.ini"), u"en"), 1);
        test::writeBytes(dir_ / "fax_res__1.tif", server::test::faxDocument());
        state_.job.documentPath = fromUtf8((dir_ / "fax_res__1.tif").string());
        state_.settings.objectPath = u"api2/proxy.php";
        state_.settings.userName = u"demo@miravo.test";
        state_.settings.password = u"demo";
        state_.settings.timeoutMs = kTimeout;
        options_.timing.stepPauseMs = 30;
        options_.timing.pollPauseMs = 30;
        options_.timing.closeTickMs = 5;
        options_.waitForClose = false;
        options_.maxHostRetries = 50;
        options_.timing.sleep = [this](std::uint32_t ms) {
            waits_.push_back(ms);
            if (hook_)
                hook_(ms);
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        };
    }
    void TearDown() override { OverrideApplicationDataFolder(std::nullopt); }

    void start(std::vector<std::string> args = {}) {
        std::vector<std::string> all = {"--quiet", "--version-port",  "-1", "--min-poll-interval",
                                        "0",       "--delivery-time", "250"};
        all.insert(all.end(), args.begin(), args.end());
        server_ = std::make_unique<ServerProcess>(all);
        ASSERT_TRUE(server_->start()) << server_->output();
        state_.settings.serviceHost = u16("127.0.0.1:" + std::to_string(server_->port()));
        state_.settings.caFile = fromUtf8(server_->caFile().string());
    }
    void to(std::initializer_list<std::u16string> numbers) {
        for (const auto& n : numbers)
            state_.job.recipients.push_back(single(n));
    }
    static Recipient single(const std::u16string& number, const std::u16string& name = u"") {
        Recipient r;
        r.kind = Single;
        r.number = number;
        r.name = name;
        return r;
    }
    SendSummary send() { return RunSend(state_, report_, prompt_, options_); }
    std::u16string text(int id) const { return GetText(state_.language, id); }
    std::vector<std::u16string> statuses(const SendSummary& s) const {
        std::vector<std::u16string> out;
        for (const auto& d : s.destinations)
            out.push_back(d.status);
        return out;
    }

    test::TempDir dir_;
    AppState state_;
    RecordingReport report_;
    ScriptedPrompt prompt_;
    SendOptions options_;
    std::vector<std::uint32_t> waits_;
    std::function<void(std::uint32_t)> hook_;
    std::unique_ptr<ServerProcess> server_;
};

TEST_F(SendIntegrationTest, NumbersAreFollowedToTheirFinalStatusOncePerNumber) {
    start();
    to({u"+49 30 1234567", u"+44 20 7946 0001", u"+33 1 42 00 00 11"});
    const SendSummary summary = send();
    ASSERT_EQ(summary.end, SendEnd::Finished);
    EXPECT_EQ(statuses(summary), (std::vector<std::u16string>{u"OK", u"NA", u"OK"}));
    EXPECT_EQ(report_.label(controlid::kLabelAuthentication), text(35));
    EXPECT_EQ(report_.label(controlid::kLabelTransfer), text(35));
    EXPECT_EQ(report_.label(controlid::kLabelFaxId), state_.job.send.faxId);
    EXPECT_FALSE(state_.job.send.faxId.empty());
    EXPECT_EQ(report_.label(controlid::kLabelPages), GetText(state_.language, 500, 3, 1, 3));
    EXPECT_EQ(report_.label(controlid::kLabelPrebilling), u"0.30 " + text(32));
    // More than one number: the rows show the mass-fax text.
    EXPECT_TRUE(state_.job.massFaxOn);
    EXPECT_EQ(report_.label(controlid::kLabelRecipient), text(117));
    EXPECT_EQ(report_.label(controlid::kLabelTotalCost), u"0.20 " + text(32));
    EXPECT_EQ(report_.label(controlid::kStatusLine), u"");
    EXPECT_EQ(report_.polling.front(), true);
    EXPECT_EQ(report_.polling.back(), false);
    EXPECT_GT(report_.progressSteps, 0);

    // Duplicates and a group overlapping a single number: once per number.
    RecordingReport second;
    Recipient group;
    group.kind = Group;
    group.name = u"Sales";
    group.number = u"[Sales]";
    group.members = {u"+44 20 7946 0018", u"+44 20 7946 0029"};
    state_.job.recipients = {single(u"+44 20 7946 0018", u"Single"), group,
                             single(u"+44 20 7946 0018", u"Again")};
    state_.job.coverPageOn = true;
    state_.job.coverText = u"Two pages each";
    const SendSummary again = RunSend(state_, second, prompt_, options_);
    ASSERT_EQ(again.end, SendEnd::Finished);
    ASSERT_EQ(again.destinations.size(), 2u);
    // Two numbers x (1 page + the cover page).
    EXPECT_EQ(second.label(controlid::kLabelPages), GetText(state_.language, 500, 4, 2, 2));
    EXPECT_EQ(second.label(controlid::kLabelPrebilling), u"0.40 " + text(32));
    EXPECT_EQ(again.totalCost, 0.4);
}

TEST_F(SendIntegrationTest, CredentialsMissingThenRefusedThenRight) {
    start();
    to({u"+49 30 1234567"});
    state_.settings.password.clear();
    prompt_.entries = {{true, u"demo@miravo.test", u"wrong"}, {true, u"demo@miravo.test", u"demo"}};
    const SendSummary summary = send();
    EXPECT_EQ(summary.end, SendEnd::Finished);
    EXPECT_EQ(prompt_.asked, 2);
    EXPECT_EQ(report_.history.front(), std::make_pair(controlid::kLabelAuthentication, u"#107 " + text(84)));
}

TEST_F(SendIntegrationTest, Two301AnswersDoubleTimeoutTwiceAndItIsSaved) {
    start({"--fault", "error:301,action=get_fax_status,count=2"});
    to({u"+49 30 1234567"});
    AppPaths paths;
    SettingsLocation location;
    location.appDataFolder = dir_ / "settings";
    location.moduleFolder = fromUtf8(MIRAVO_SOURCE_DIR "/data/");
    LoadSettings(paths, state_, location);
    state_.settings.serviceHost = u16("127.0.0.1:" + std::to_string(server_->port()));
    state_.settings.caFile = fromUtf8(server_->caFile().string());
    state_.settings.userName = u"demo@miravo.test";
    state_.settings.password = u"demo";
    state_.settings.timeoutMs = kTimeout;
    const SendSummary summary = send();
    EXPECT_EQ(summary.end, SendEnd::Finished);
    // auth, transfer, then 2x and 4x TIMEOUT after the two 301 answers.
    ASSERT_GE(waits_.size(), 6u);
    EXPECT_EQ(waits_[2], 2 * kTimeout);
    EXPECT_EQ(waits_[4], 4 * kTimeout);
    EXPECT_EQ(state_.settings.timeoutMs, 4 * kTimeout);
    ASSERT_TRUE(SaveSettings(paths));
    const std::u16string file =
        test::fromUtf16le(test::readBytes(dir_ / "settings" / "app_config.ini"));
    EXPECT_NE(file.find(u"TIMEOUT=160"), std::u16string::npos);
}

TEST_F(SendIntegrationTest, PollingGoesOnThroughALoginHoldAndEndsWithTheFinalStatus) {
    start({"--login-hold-max", "1000"});
    to({u"+49 30 1234567"});
    // Once the polling has begun, a stranger's guesses hold the account:
    // the status polls, carrying the owner's password, are held too.
    bool guessed = false;
    hook_ = [&](std::uint32_t ms) {
        if (ms != kTimeout || guessed)
            return;
        guessed = true;
        const AppSettings settings = server::test::transportSettings(*server_);
        for (int i = 0; i < 6; ++i)
            server::test::viaTransport(settings, {{"action", "authentication"},
                                                  {"username", "demo@miravo.test"},
                                                  {"password", "guess" + std::to_string(i)}});
    };
    const SendSummary summary = send();
    EXPECT_TRUE(guessed);
    EXPECT_EQ(summary.end, SendEnd::Finished);
    EXPECT_EQ(statuses(summary), std::vector<std::u16string>{u"OK"});
    const auto heldShown = std::make_pair(controlid::kLabelAuthentication,
                                          u"#200 " + ErrorText(state_.language, 200));
    EXPECT_NE(std::find(report_.history.begin(), report_.history.end(), heldShown),
              report_.history.end());
    EXPECT_EQ(prompt_.asked, 0);
}

TEST_F(SendIntegrationTest, RefusedConnectionsRestartTheSequence) {
    start({"--fault", "refuse:1"});
    to({u"+49 30 1234567"});
    const SendSummary summary = send();
    EXPECT_EQ(summary.end, SendEnd::Finished);
    EXPECT_GE(summary.hostRetries, 1);
    EXPECT_GE(report_.closeEnabled, summary.hostRetries + 2);
    EXPECT_EQ(prompt_.asked, 0);
}

TEST_F(SendIntegrationTest, EmptyStatusAnswersAreNoUsableAnswerAndNeverAnEnd) {
    start({"--fault", "empty,action=get_fax_status", "--delivery-time", "60000"});
    to({u"+49 30 1234567"});
    // The window's user would close it; here the polling gives up after three.
    options_.maxUnusablePolls = 2;
    const SendSummary summary = send();
    EXPECT_EQ(summary.end, SendEnd::Failed);
    EXPECT_TRUE(summary.last.unusable);
    // The fax went out; nothing is known of its destination.
    ASSERT_EQ(summary.destinations.size(), 1u);
    EXPECT_FALSE(summary.destinations[0].notSent);
    EXPECT_TRUE(summary.destinations[0].status.empty());
    EXPECT_EQ(report_.label(controlid::kLabelTransfer), text(35));
    EXPECT_EQ(report_.label(controlid::kLabelAuthentication), u"#999 " + text(999));
}

TEST_F(SendIntegrationTest, PendingDestinationPollsUntilTheWindowCloses) {
    start({"--delivery-time", "60000"});
    to({u"+49 30 1234567"});
    // The window closes during the third poll's TIMEOUT sleep.
    int polls = 0;
    hook_ = [&](std::uint32_t ms) {
        if (ms == kTimeout && ++polls == 3)
            report_.open = false;
    };
    const SendSummary summary = send();
    EXPECT_EQ(summary.end, SendEnd::Stopped);
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(state_.job.send.errorCode, -1);
    ASSERT_EQ(summary.destinations.size(), 1u);
    EXPECT_EQ(summary.destinations[0].status, u"");
    EXPECT_EQ(report_.label(controlid::kLabelStatus), text(37));
    EXPECT_EQ(report_.label(controlid::kStatusLine), text(53));
}

TEST_F(SendIntegrationTest, ServiceErrorOnTheTransferShowsCodeAndText) {
    start({"--fault", "error:110,action=convert_and_transfer"});
    to({u"+49 30 1234567"});
    const SendSummary summary = send();
    EXPECT_EQ(summary.end, SendEnd::Failed);
    EXPECT_EQ(summary.failedStep, FaxStep::Transfer);
    EXPECT_EQ(report_.label(controlid::kLabelTransfer), u"#110 " + text(86));
    ASSERT_EQ(summary.destinations.size(), 1u);
    EXPECT_TRUE(summary.destinations[0].notSent);
    EXPECT_EQ(summary.notSent, 1u);
}

TEST_F(SendIntegrationTest, CoverPageSuccessErrorAndEmptyAnswer) {
    start({"--fault", "empty,action=convert,after=1"});
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    std::filesystem::create_directories(dir_ / "home");
    setenv("HOME", (dir_ / "home").c_str(), 1);
    AppPaths paths;
    paths.state = &state_;
    to({u"+49 30 1234567"});
    state_.job.coverText = u"Hello";

    RecordingReport ok;
    EXPECT_EQ(CoverPageTask(paths, ok), 0);
    EXPECT_EQ(ok.closes, std::vector<int>{0});
    EXPECT_EQ(CountTiffPages(ToFsPath(CacheFolder()) / "coverpage_and_fax.tiff"), 2);

    state_.settings.password = u"wrong";
    RecordingReport refused;
    EXPECT_EQ(CoverPageTask(paths, refused), 0);
    EXPECT_TRUE(refused.closes.empty());
    EXPECT_EQ(refused.label(controlid::kStatusLine), text(84));
    EXPECT_FALSE(std::filesystem::exists(ToFsPath(CacheFolder()) / "coverpage_and_fax.tiff"));
    EXPECT_EQ(state_.job.coverText, u"Hello");

    state_.settings.password = u"demo";
    RecordingReport empty;
    EXPECT_EQ(CoverPageTask(paths, empty), 0);
    EXPECT_EQ(empty.label(controlid::kStatusLine), text(999));
    EXPECT_TRUE(state_.job.coverText.empty());
    EXPECT_FALSE(std::filesystem::exists(ToFsPath(CacheFolder()) / "coverpage.tiff"));
    setenv("HOME", oldHome.c_str(), 1);
}

}  // namespace
}  // namespace miravo
