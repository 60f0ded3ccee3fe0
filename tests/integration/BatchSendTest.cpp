// Long mass-fax lists against miravo-server with a cap of destinations per
// fax: the list goes out in batches, each number exactly once in the
// service's own records; the window's totals, the summary and the journal
// agree with those records; a send stopped after its second batch sends no
// more and records the rest "not sent"; a service with a smaller cap than
// the setting is met by halving.
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "app/ControlIds.h"
#include "app/Paths.h"
#include "app/TextIds.h"
#include "journal/JournalRefresh.h"
#include "journal/SendJournal.h"
#include "service/SendOutcome.h"
#include "service/SendWorker.h"
#include "tests/server/ServerHarness.h"
#include "tests/service/SendTestSupport.h"

namespace miravo {
namespace {

using server::test::ServerProcess;

// The destination the service holds, per number: its fax and status.
struct ServiceRecord {
    std::int64_t fax = 0;
    std::string status;
    int times = 0;
};

std::map<std::string, ServiceRecord> serviceRecords(const std::filesystem::path& dataDir) {
    std::map<std::string, ServiceRecord> out;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2((dataDir / "miravo.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT number, fax_id, final_status FROM destinations", -1, &st,
                           nullptr);
        while (st && sqlite3_step(st) == SQLITE_ROW) {
            ServiceRecord& r = out[reinterpret_cast<const char*>(sqlite3_column_text(st, 0))];
            r.fax = sqlite3_column_int64(st, 1);
            r.status = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
            ++r.times;
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
}

// Ten-digit Berlin numbers; their last two digits choose the outcome.
std::u16string numberFor(int i) {
    return u16("+4930" + std::to_string(20000000 + i));
}

// Records into the journal, and closes the window once `stopAfter`
// batches went out (0: never).
class StoppingRecorder : public SendRecorder {
  public:
    StoppingRecorder(SendJournal& journal, test::RecordingReport& report, std::size_t stopAfter)
        : journal_(journal), report_(report), stopAfter_(stopAfter) {}
    void batchSent(const AppState& s, const SendProgress& p, std::size_t i) override {
        journal_.batchSent(s, p, i);
        if (stopAfter_ != 0 && p.batches.size() == stopAfter_)
            report_.open = false;
    }
    void statusAnswered(const AppState& s, const SendProgress& p, std::size_t i) override {
        journal_.statusAnswered(s, p, i);
    }
    void sendEnded(const AppState& s, const SendProgress& p) override { journal_.sendEnded(s, p); }

  private:
    SendJournal& journal_;
    test::RecordingReport& report_;
    std::size_t stopAfter_;
};

class BatchSendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ClearProxyEnvironment();
        OverrideApplicationDataFolder(fromUtf8((dir_ / "appdata").string()));
        ASSERT_EQ(
            LoadLanguage(state_.language, fromUtf8(MIRAVO_SOURCE_DIR "/data/lang.ini"), u"en"), 1);
        test::writeBytes(dir_ / "fax_res__1.tif", server::test::faxDocument());
        state_.job.documentPath = fromUtf8((dir_ / "fax_res__1.tif").string());
        state_.settings.userName = u"demo@miravo.test";
        state_.settings.password = u"demo";
        state_.settings.objectPath = u"api2/proxy.php";
        state_.settings.timeoutMs = 40;
        state_.settings.defaultRegion = u"DE";
        options_.timing.stepPauseMs = 0;
        options_.timing.pollPauseMs = 20;
        options_.waitForClose = false;
    }
    void TearDown() override { OverrideApplicationDataFolder(std::nullopt); }

    void start(const std::string& cap) {
        server_ = std::make_unique<ServerProcess>(std::vector<std::string>{
            "--quiet", "--version-port", "-1", "--min-poll-interval", "0", "--delivery-time",
            "200", "--max-destinations", cap});
        ASSERT_TRUE(server_->start()) << server_->output();
        // An account whose credit lasts for the longest list.
        ASSERT_EQ(server_->command({"user", "add", "bulk@miravo.test", "bulk", "--credit",
                                    "100000"}),
                  0);
        state_.settings.userName = u"bulk@miravo.test";
        state_.settings.password = u"bulk";
        state_.settings.serviceHost = u16("127.0.0.1:" + std::to_string(server_->port()));
        state_.settings.caFile = fromUtf8(server_->caFile().string());
    }
    void list(int count) {
        for (int i = 0; i < count; ++i)
            state_.job.recipients.push_back(Recipient::entry(u"0", u"", numberFor(i), u""));
    }
    SendSummary send(std::size_t stopAfter = 0) {
        SendJournal journal(u"list", dir_ / "journal.sqlite");
        StoppingRecorder recorder(journal, report_, stopAfter);
        options_.recorder = &recorder;
        SendSummary summary = RunSend(state_, report_, prompt_, options_);
        sendId_ = journal.sendId();
        return summary;
    }
    JournalSend journalRecord() {
        Journal journal(dir_ / "journal.sqlite");
        return journal.send(sendId_).value_or(JournalSend{});
    }

    test::TempDir dir_;
    AppState state_;
    test::RecordingReport report_;
    test::ScriptedPrompt prompt_;
    SendOptions options_;
    std::unique_ptr<ServerProcess> server_;
    std::int64_t sendId_ = 0;
};

TEST_F(BatchSendTest, ALongListGoesOutInBatchesAndEveryAccountAgrees) {
    start("500");
    list(25000);
    // The same numbers again, written the national way: each goes out once.
    for (int i = 0; i < 300; ++i)
        state_.job.recipients.push_back(
            Recipient::entry(u"0", u"", u"030 " + numberFor(i).substr(5), u""));
    const SendSummary summary = send();
    ASSERT_EQ(summary.end, SendEnd::Finished)
        << static_cast<int>(summary.failedStep) << " " << state_.job.send.errorCode << " "
        << summary.last.error << " " << summary.faxIds.size() << " "
        << toUtf8(report_.label(controlid::kLabelAuthentication));
    EXPECT_EQ(summary.faxIds.size(), 50u);
    ASSERT_EQ(summary.destinations.size(), 25000u);

    const auto service = serviceRecords(server_->dataDir());
    ASSERT_EQ(service.size(), 25000u);
    std::set<std::int64_t> faxes;
    std::size_t ok = 0;
    double total = 0;
    for (const DestinationStatus& d : summary.destinations) {
        const auto found = service.find(toUtf8(d.recipient));
        ASSERT_NE(found, service.end()) << toUtf8(d.recipient);
        EXPECT_EQ(found->second.times, 1);
        EXPECT_EQ(toUtf8(d.status), found->second.status) << toUtf8(d.recipient);
        EXPECT_EQ(toUtf8(d.faxId), std::to_string(found->second.fax));
        faxes.insert(found->second.fax);
        ok += d.status == u"OK";
        total += DecimalValue(d.cost);
    }
    EXPECT_EQ(faxes.size(), 50u);
    // Last digits 00 to 04 fail: 5 in every 100.
    EXPECT_EQ(ok, 25000u - 1250u);

    // The window: rows as for any mass fax, totals over all destinations.
    EXPECT_EQ(report_.label(controlid::kLabelRecipient), GetText(state_.language, text::kMassFax));
    EXPECT_EQ(report_.label(controlid::kStatusLine),
              GetText(state_.language, text::kDestinationsDone, 25000, 25000, 23750, 1250));
    EXPECT_EQ(report_.label(controlid::kLabelTotalCost),
              MoneyText(total, GetText(state_.language, text::kCurrency)));
    EXPECT_EQ(report_.label(controlid::kLabelPages),
              GetText(state_.language, text::kFaxPagesTimesNumbers, 25000, 1, 25000));
    EXPECT_DOUBLE_EQ(summary.totalCost, total);

    // The journal: one record, all fax ids, every destination as the service has it.
    const JournalSend record = journalRecord();
    ASSERT_EQ(record.destinations.size(), 25000u);
    EXPECT_EQ(std::count(record.faxId.begin(), record.faxId.end(), u',') + 1, 50);
    for (std::size_t i = 0; i < record.destinations.size(); ++i) {
        EXPECT_EQ(record.destinations[i].statusCode, summary.destinations[i].status);
        EXPECT_TRUE(record.destinations[i].final);
    }
    EXPECT_NEAR(record.totalCost, total, 1e-6);
}

// A number the service calls invalid (letters of a vanity number) in a
// list of 600: the list goes out to the rest in one send, the service holds
// every other number once, and the journal names the invalid one as such.
// Typed numbers (not a list) come back to be mended instead.
TEST_F(BatchSendTest, AnInvalidNumberNeverBlocksTheRestOfAList) {
    for (const bool fromList : {true, false}) {
        SCOPED_TRACE(fromList ? "list" : "typed");
        start("250");
        state_.job.recipients.clear();
        list(600);
        state_.job.recipients[5].number = u"+1-800-FLOWERS";
        state_.job.fromList = fromList;
        const SendSummary summary = send();
        const auto service = serviceRecords(server_->dataDir());
        if (!fromList) {
            EXPECT_TRUE(service.empty());
            EXPECT_TRUE(summary.faxIds.empty());
            server_.reset();
            continue;
        }
        ASSERT_EQ(summary.end, SendEnd::Finished) << state_.job.send.errorCode;
        EXPECT_EQ(summary.faxIds.size(), 3u);
        ASSERT_EQ(summary.destinations.size(), 600u);
        for (int i = 0; i < 600; ++i) {
            if (i == 5)
                continue;
            const auto found = service.find(toUtf8(numberFor(i)));
            ASSERT_NE(found, service.end()) << i;
            EXPECT_EQ(found->second.times, 1) << i;
        }
        EXPECT_EQ(summary.destinations[5].status, u"IN");
        const JournalSend record = journalRecord();
        ASSERT_EQ(record.destinations.size(), 600u);
        EXPECT_EQ(record.destinations[5].number, u"+1-800-FLOWERS");
        EXPECT_EQ(record.destinations[5].statusCode, u"IN");
        EXPECT_EQ(record.destinations[5].statusText, GetText(state_.language, 45));
        EXPECT_TRUE(record.destinations[5].final);
        // The summary row tells the outcome with the invalid number among the failed.
        const OutcomeCounts counts = CountOutcome(summary.destinations);
        EXPECT_EQ(counts.delivered + counts.failed, 600u);
        EXPECT_EQ(report_.label(controlid::kLabelStatus), OutcomeText(state_.language, counts));
        server_.reset();
    }
}

TEST_F(BatchSendTest, StoppedAfterTheSecondBatchSendsNothingMore) {
    start("500");
    list(25000);
    const SendSummary summary = send(2);
    EXPECT_EQ(summary.end, SendEnd::Stopped);
    EXPECT_EQ(summary.faxIds.size(), 2u);
    EXPECT_EQ(summary.notSent, 24000u);

    const auto service = serviceRecords(server_->dataDir());
    EXPECT_EQ(service.size(), 1000u);
    const JournalSend record = journalRecord();
    ASSERT_EQ(record.destinations.size(), 25000u);
    for (std::size_t i = 0; i < record.destinations.size(); ++i) {
        const JournalDestination& d = record.destinations[i];
        const bool held = service.count(toUtf8(d.number)) > 0;
        EXPECT_EQ(held, i < 1000) << i;
        EXPECT_EQ(d.sent, i < 1000) << i;
        EXPECT_EQ(summary.destinations[i].notSent, i >= 1000);
        if (i >= 1000) {
            EXPECT_EQ(d.statusText, GetText(state_.language, text::kDestinationNotSent));
            EXPECT_TRUE(d.final);
        }
    }

    // Refresh follows both faxes that went out, and only them.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Journal journal(dir_ / "journal.sqlite");
    SilentWorkerReport progress;
    SendTiming noPause;
    noPause.sleep = [](std::uint32_t) {};
    const RefreshResult refreshed = RefreshUnfinished(journal, state_, progress, 0, noPause);
    EXPECT_EQ(refreshed.end, RefreshEnd::Done);
    EXPECT_EQ(refreshed.changes.size(), 1000u);
    const JournalSend after = journalRecord();
    EXPECT_TRUE(after.final());
    EXPECT_EQ(after.destinations[999].statusCode,
              fromUtf8(service.at(toUtf8(after.destinations[999].number)).status));
}

TEST_F(BatchSendTest, CreditRunningOutStopsTheBatchesAfterIt) {
    start("500");
    // The demo account's credit lasts for two faxes of 500.
    state_.settings.userName = u"demo@miravo.test";
    state_.settings.password = u"demo";
    list(25000);
    const SendSummary summary = send();
    EXPECT_EQ(summary.end, SendEnd::Failed);
    EXPECT_EQ(summary.failedStep, FaxStep::Transfer);
    EXPECT_EQ(state_.job.send.errorCode, 110);
    const std::size_t sent = 500 * summary.faxIds.size();
    ASSERT_GT(sent, 0u);
    EXPECT_EQ(summary.notSent, 25000u - sent);
    EXPECT_EQ(serviceRecords(server_->dataDir()).size(), sent);
    // What went out is still followed to its end.
    for (std::size_t i = 0; i < sent; ++i)
        EXPECT_FALSE(summary.destinations[i].status.empty()) << i;
}

TEST_F(BatchSendTest, AServiceWithASmallerCapIsMetByHalving) {
    start("120");
    list(1000);
    const SendSummary summary = send();
    ASSERT_EQ(summary.end, SendEnd::Finished);
    // 500 -> 250 -> 125 -> 62 + 63: each batch of 125 went as two halves.
    EXPECT_EQ(summary.faxIds.size(), 16u);
    const auto service = serviceRecords(server_->dataDir());
    ASSERT_EQ(service.size(), 1000u);
    for (const auto& [number, record] : service)
        EXPECT_EQ(record.times, 1) << number;
    for (const DestinationStatus& d : summary.destinations)
        EXPECT_FALSE(d.status.empty());
}

}  // namespace
}  // namespace miravo
