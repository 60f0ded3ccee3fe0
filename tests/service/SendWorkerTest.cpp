// The whole send against a scripted loopback service: credentials, the
// sequence and its restarts, the polling and its end, the closing.
#include "service/SendWorker.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/service/SendTestSupport.h"
#include "app/ControlIds.h"
#include "app/LanguageTable.h"
#include "app/TextIds.h"
#include "journal/SendJournal.h"
#include "service/ServiceTexts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace miravo {
namespace {

using test::formField;
using test::xmlAnswer;

const std::string kAuthOk = xmlAnswer(
    "<AUTHENTICATION><RESULT>0</RESULT></AUTHENTICATION><VALIDATION><RESULT>0</RESULT>"
    "</VALIDATION>");
const std::string kTransferOk = xmlAnswer(
    "<TRANSFER><RESULT>0</RESULT><FAX_ID>5</FAX_ID><PREBILLING>0.3</PREBILLING></TRANSFER>"
    "<AUTHENTICATION><RESULT>0</RESULT></AUTHENTICATION>");
const std::string kPending = xmlAnswer(
    "<GET_FAX_STATUS><RESULT>0</RESULT><FAX><FAX_ID>5</FAX_ID><RECIPIENT>+49 1</RECIPIENT>"
    "<COST>0.3</COST><STATUS></STATUS></FAX></GET_FAX_STATUS>");
const std::string kDone = xmlAnswer(
    "<GET_FAX_STATUS><RESULT>0</RESULT><FAX><FAX_ID>5</FAX_ID><RECIPIENT>+49 1</RECIPIENT>"
    "<COST>0.3</COST><STATUS>OK</STATUS></FAX></GET_FAX_STATUS>");

class SendWorkerTest : public test::SendFixture {
  protected:
    void SetUp() override {
        SendFixture::SetUp();
        state_.job.recipients = {single(u"+49 1", u"Anna")};
        answer("authentication", {kAuthOk});
        answer("convert_and_transfer", {kTransferOk});
        answer("get_fax_status", {kPending, kDone});
        options_.timing = waits_.timing();
        options_.waitForClose = false;
    }
    SendSummary send() { return RunSend(state_, report_, prompt_, options_); }

    test::ScriptedPrompt prompt_;
    SendOptions options_;
};

TEST_F(SendWorkerTest, SequenceRunsUntilEveryDestinationIsFinal) {
    const SendSummary summary = send();
    EXPECT_EQ(summary.end, SendEnd::Finished);
    EXPECT_EQ(requests("authentication").size(), 1u);
    EXPECT_EQ(requests("convert_and_transfer").size(), 1u);
    EXPECT_EQ(requests("get_fax_status").size(), 2u);
    // auth, transfer, TIMEOUT, poll pause, TIMEOUT.
    EXPECT_EQ(waits_.waits, (std::vector<std::uint32_t>{1000, 1000, 1000, 1000, 1000}));
    ASSERT_EQ(summary.destinations.size(), 1u);
    EXPECT_EQ(summary.destinations[0].status, u"OK");
    EXPECT_EQ(report_.label(controlid::kLabelStatus), text(35));
    EXPECT_EQ(report_.closeEnabled, 2);  // after the transfer and at the end
    EXPECT_EQ(prompt_.asked, 0);
    EXPECT_TRUE(report_.closes.empty());
}

TEST_F(SendWorkerTest, MissingCredentialsAreAskedForAndCancelEnds) {
    state_.settings.password.clear();
    prompt_.entries = {{true, u"demo@miravo.test", u"demo"}};
    EXPECT_EQ(send().end, SendEnd::Finished);
    EXPECT_EQ(prompt_.asked, 1);
    EXPECT_EQ(formField(requests("authentication")[0].body, "password"), "demo");

    test::RecordingReport other;
    state_.settings.userName.clear();
    test::ScriptedPrompt cancel;
    cancel.entries = {{false, u"", u""}};
    EXPECT_EQ(RunSend(state_, other, cancel, options_).end, SendEnd::CredentialsCancelled);
    EXPECT_EQ(other.closes, std::vector<int>{1});
    EXPECT_EQ(requests("authentication").size(), 1u);
}

// An attempt that sent nothing is recorded for every destination with why,
// and keeps its document: stopped on this side, refused by the service, or
// never reached it.
TEST_F(SendWorkerTest, AttemptsThatSendNothingAreRecordedWithWhy) {
    const std::u16string working = state_.settings.serviceHost;
    const std::u16string document = state_.job.documentPath;
    const std::filesystem::path gone = dir_ / "gone_res__1.tif", folder = dir_ / "folder_res__1.tif";
    std::filesystem::create_directory(folder);
    const struct {
        const char* what;
        std::function<void()> arrange;
        SendEnd end;
        std::u16string reason;
        KeptDocument kept = KeptDocument::Kept;
    } cases[] = {
        {"a document that is gone",
         [&] { state_.job.documentPath = fromUtf8(gone.string()); }, SendEnd::Failed,
         GetText(state_.language, text::kNotSentBecause,
                 fromUtf8("the document " + gone.string() +
                          " cannot be read: No such file or directory")),
         KeptDocument::NotKept},
        {"a document that is a folder",
         [&] { state_.job.documentPath = fromUtf8(folder.string()); }, SendEnd::Failed,
         GetText(state_.language, text::kNotSentBecause,
                 fromUtf8("the document " + folder.string() + " is not a regular file")),
         KeptDocument::NotKept},
        {"a name carrying the form's delimiter",
         [&] { state_.job.recipients = {single(u"+49 1", u"Anna ----AaB03x")}; },
         SendEnd::Refused, text(text::kValueRefusedBeforeSending)},
        {"the first credentials prompt cancelled",
         [&] {
             state_.settings.password.clear();
             prompt_.entries = {{false, u"", u""}};
         },
         SendEnd::CredentialsCancelled, text(text::kNoCredentialsGiven)},
        {"refused credentials, then the prompt cancelled",
         [&] {
             answer("authentication", {xmlAnswer("<ERROR>107</ERROR>")});
             prompt_.entries = {{false, u"", u""}};
         },
         SendEnd::CredentialsCancelled, u"#107 " + ErrorText(state_.language, 107)},
        {"the service never reached",
         [&] {
             state_.settings.serviceHost =
                 u16("127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()));
             options_.maxHostRetries = 0;
         },
         SendEnd::Unreachable, text(text::kServiceUnreachable)},
    };
    const std::filesystem::path file = dir_ / "journal.sqlite";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        state_.job.recipients = {single(u"+49 1", u"Anna"), single(u"+49 2")};
        state_.job.send.clear();
        state_.settings.serviceHost = working;
        state_.settings.password = u"demo";
        state_.job.documentPath = document;
        c.arrange();
        SendJournal journal(u"letter", file);
        options_.recorder = &journal;
        test::RecordingReport report;
        EXPECT_EQ(RunSend(state_, report, prompt_, options_).end, c.end);
        ASSERT_NE(journal.sendId(), 0);
        Journal read(file);
        const JournalSend record = *read.send(journal.sendId());
        ASSERT_EQ(record.destinations.size(), state_.job.recipients.size());
        for (const JournalDestination& d : record.destinations) {
            EXPECT_FALSE(d.sent);
            EXPECT_EQ(d.statusText, c.reason);
        }
        EXPECT_EQ(read.keeping(journal.sendId()).reason, c.reason);
        EXPECT_EQ(read.keeping(journal.sendId()).document, c.kept);
    }
    EXPECT_TRUE(requests("convert_and_transfer").empty());
}

// No room for the sent document is told once per run; the sends go on.
TEST_F(SendWorkerTest, AFullDiskForTheKeptDocumentIsToldOnceAndTheSendGoesOn) {
    const std::filesystem::path file = dir_ / "journal.sqlite";
    int kept = 0;
    const auto full = [&](Journal&, std::int64_t, const std::filesystem::path&,
                          const std::u16string&) {
        ++kept;
        return KeepResult{false, true, std::strerror(ENOSPC)};
    };
    std::vector<std::string> told;
    for (int run = 0; run < 2; ++run) {
        answer("get_fax_status", {kPending, kDone});
        SendJournal journal(u"letter", file);
        journal.setKeeper(full);
        options_.recorder = &journal;
        EXPECT_EQ(send().end, SendEnd::Finished);
        told.push_back(journal.takeKeepWarning());
        EXPECT_EQ(Journal(file).send(journal.sendId())->destinations.at(0).statusCode, u"OK");
    }
    EXPECT_EQ(kept, 2);
    EXPECT_EQ(told, (std::vector<std::string>{std::strerror(ENOSPC), ""}));
}

TEST_F(SendWorkerTest, UnreachableHostRestartsTheSequenceWithCloseEnabled) {
    const std::u16string working = state_.settings.serviceHost;
    const std::u16string unreachable =
        u16("127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()));
    state_.settings.serviceHost = unreachable;
    // The service comes back after the second failed attempt.
    int attempts = 0;
    waits_.hook = [&](std::uint32_t) {
        if (++attempts == 2)
            state_.settings.serviceHost = working;
    };
    const SendSummary summary = send();
    EXPECT_EQ(summary.end, SendEnd::Finished);
    EXPECT_EQ(summary.hostRetries, 2);
    EXPECT_EQ(requests("authentication").size(), 1u);
    EXPECT_EQ(report_.closeEnabled, 4);
    // Said at once on the step's line and the status line, with the wait
    // before the next attempt (1 s, then 2 s) and the attempt's number.
    EXPECT_EQ(waits_.waits[0], 1000u);
    EXPECT_EQ(waits_.waits[1], 2000u);
    std::vector<std::u16string> said;
    for (const auto& [id, shown] : report_.history) {
        if (id == controlid::kStatusLine && shown.find(u"2000") == std::u16string::npos)
            said.push_back(shown);
    }
    ASSERT_GE(said.size(), 2u);
    EXPECT_EQ(said[0], GetText(state_.language, text::kRetryingUnreachable, 1, 2));
    EXPECT_EQ(said[1], GetText(state_.language, text::kRetryingUnreachable, 2, 3));
    EXPECT_TRUE(std::any_of(report_.history.begin(), report_.history.end(), [&](const auto& h) {
        return h.first == controlid::kLabelAuthentication &&
               h.second == text(text::kServiceUnreachable);
    }));

    // A limit on the restarts ends the send as unreachable.
    state_.settings.serviceHost = unreachable;
    waits_.hook = nullptr;
    options_.maxHostRetries = 1;
    const SendSummary limited = send();
    EXPECT_EQ(limited.end, SendEnd::Unreachable);
    EXPECT_EQ(limited.hostRetries, 1);
}

TEST(HostRetryPause, DoublesFromOneSecondUpToAMinute) {
    const std::vector<std::pair<int, std::uint32_t>> cases = {
        {1, 1000}, {2, 2000}, {3, 4000}, {6, 32000}, {7, 60000}, {50, 60000}};
    for (const auto& [attempt, pause] : cases)
        EXPECT_EQ(HostRetryPauseMs(attempt), pause) << attempt;
}

TEST_F(SendWorkerTest, ASilentServiceDuringThePollingIsToldAndSoIsItsReturn) {
    const std::u16string working = state_.settings.serviceHost;
    answer("get_fax_status", {kPending, kPending, kDone});
    // The service is away for the second poll only.
    int polls = 0;
    waits_.hook = [&](std::uint32_t) {
        ++polls;
        if (polls == 3)
            state_.settings.serviceHost =
                u16("127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()));
        if (polls == 5)
            state_.settings.serviceHost = working;
    };
    EXPECT_EQ(send().end, SendEnd::Finished);
    std::vector<std::u16string> said;
    for (const auto& [id, shown] : report_.history) {
        if (id == controlid::kStatusLine)
            said.push_back(shown);
    }
    const auto silent = std::find_if(said.begin(), said.end(), [&](const std::u16string& line) {
        return line.rfind(GetText(state_.language, text::kServiceSilent, 0).substr(0, 20), 0) == 0;
    });
    ASSERT_NE(silent, said.end());
    EXPECT_NE(std::find(silent, said.end(), text(text::kServiceBack)), said.end());
}

TEST_F(SendWorkerTest, ClosingTheWindowEndsThePollingAtOnce) {
    answer("get_fax_status", {kPending});
    // Waits: 1 authentication, 2 transfer, then per poll its TIMEOUT and the pause.
    const struct {
        int closedAtWait;
        std::size_t polls;
        std::size_t waits;
    } cases[] = {
        {5, 2u, 5u},  // during the second poll's TIMEOUT: no further poll
        {6, 2u, 6u},  // during the pause: no further poll either
    };
    for (const auto& c : cases) {
        test::RecordingReport report;
        waits_.waits.clear();
        int waits = 0;
        waits_.hook = [&](std::uint32_t) {
            if (++waits == c.closedAtWait)
                report.open = false;
        };
        const std::size_t before = requests("get_fax_status").size();
        const SendSummary summary = RunSend(state_, report, prompt_, options_);
        EXPECT_EQ(summary.end, SendEnd::Stopped);
        EXPECT_EQ(requests("get_fax_status").size() - before, c.polls);
        EXPECT_EQ(waits_.waits.size(), c.waits);
        EXPECT_EQ(summary.destinations.size(), 1u);
        EXPECT_TRUE(report.closes.empty());
    }
}

TEST_F(SendWorkerTest, ErrorsDuringPollingDoNotEndIt) {
    answer("get_fax_status",
           {xmlAnswer("<ERROR>301</ERROR>"), xmlAnswer("<ERROR>402</ERROR>"), kDone});
    EXPECT_EQ(send().end, SendEnd::Finished);
    EXPECT_EQ(waits_.waits, (std::vector<std::uint32_t>{1000, 1000, 2000, 1000, 2000, 1000, 2000}));
    EXPECT_EQ(state_.settings.timeoutMs, 2000u);
}

TEST_F(SendWorkerTest, CloseWindowSettingClosesAfterFortyTicks) {
    options_.waitForClose = true;
    state_.settings.closeWindow = true;
    send();
    EXPECT_EQ(report_.closes, std::vector<int>{1});
    EXPECT_EQ(std::count(waits_.waits.begin(), waits_.waits.end(), 100u), 40);

    // Closed by the user meanwhile: not closed again.
    test::RecordingReport other;
    int ticks = 0;
    waits_.hook = [&](std::uint32_t ms) {
        if (ms == 100 && ++ticks == 5)
            other.open = false;
    };
    RunSend(state_, other, prompt_, options_);
    EXPECT_TRUE(other.closes.empty());
    EXPECT_EQ(ticks, 5);

    // Without the setting the worker waits for the user.
    state_.settings.closeWindow = false;
    test::RecordingReport waiting;
    ticks = 0;
    waits_.hook = [&](std::uint32_t ms) {
        if (ms == 100 && ++ticks == 60)
            waiting.open = false;
    };
    RunSend(state_, waiting, prompt_, options_);
    EXPECT_EQ(ticks, 60);
    EXPECT_TRUE(waiting.closes.empty());
}

}  // namespace
}  // namespace miravo
