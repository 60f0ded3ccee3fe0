// A fax left while its destinations were under way becomes final in the
// journal after a refresh, by the engine and by miravo-send --refresh.
#include <algorithm>
#include <cstdlib>
#include <thread>

#include "app/Text.h"
#include "journal/BackgroundRefresh.h"
#include "journal/Journal.h"
#include "journal/JournalRefresh.h"
#include "service/Transport.h"
#include "tests/journal/JournalTestSupport.h"

namespace miravo {
namespace {

using server::test::ServerProcess;

class JournalRefreshTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_ = std::make_unique<ServerProcess>(std::vector<std::string>{
            "--quiet", "--version-port", "-1", "--delivery-time", "1500", "--log-requests",
            (dir_ / "requests").string()});
        ASSERT_TRUE(server_->start()) << server_->output();
        ::setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        state_.settings = server::test::transportSettings(*server_);
        state_.settings.userName = u"demo@miravo.test";
        state_.settings.password = u"demo";
    }

    std::int64_t sendAndLeave(Journal& journal, const std::vector<std::u16string>& numbers,
                              std::int64_t sentAt = JournalNow()) {
        return test::SendAndLeave(journal, state_.settings, dir_ / "letter_res__1.tif", numbers,
                                  sentAt);
    }

    // The fax ids of the status requests the service received, in order.
    std::vector<std::string> statusRequests() const {
        std::vector<std::string> bodies;
        for (const auto& entry : std::filesystem::directory_iterator(dir_ / "requests")) {
            if (entry.path().extension() == ".body")
                bodies.push_back(entry.path().string());
        }
        std::sort(bodies.begin(), bodies.end());
        std::vector<std::string> faxIds;
        const std::string field = "name=\"faxId\"\r\n\r\n";
        for (const std::string& body : bodies) {
            const std::string bytes = test::readBytes(body);
            const auto at = bytes.find(field);
            if (bytes.find("get_fax_status") == std::string::npos || at == std::string::npos)
                continue;
            const auto start = at + field.size();
            faxIds.push_back(bytes.substr(start, bytes.find("\r\n", start) - start));
        }
        return faxIds;
    }

    test::TempDir dir_;
    std::unique_ptr<ServerProcess> server_;
    AppState state_;
};

TEST_F(JournalRefreshTest, PendingFaxBecomesFinalAfterRefresh) {
    Journal journal;
    const auto id = sendAndLeave(journal, {u"+49 30 1234567", u"+49 30 1234501"});
    ASSERT_GT(id, 0);
    SilentWorkerReport progress;
    SendTiming timing;
    timing.sleep = [](std::uint32_t) {};
    // A send in another run may be reading "result.xml": the refresh never writes it.
    const std::filesystem::path answerFile = toUtf8(AnswerFilePath());
    test::writeBytes(answerFile, "<another run's answer/>");

    RefreshResult early = RefreshUnfinished(journal, state_, progress, 0, timing);
    EXPECT_EQ(early.end, RefreshEnd::Done);
    EXPECT_EQ(early.asked, 1);
    EXPECT_TRUE(early.changes.empty());
    EXPECT_FALSE(journal.send(id)->final());

    std::this_thread::sleep_for(std::chrono::milliseconds(1700));
    RefreshResult late = RefreshUnfinished(journal, state_, progress, 0, timing);
    ASSERT_EQ(late.changes.size(), 2u);
    const auto send = journal.send(id);
    ASSERT_TRUE(send->final());
    EXPECT_EQ(send->destinations[0].statusCode, u"OK");
    EXPECT_EQ(send->destinations[1].statusCode, u"NA");
    EXPECT_DOUBLE_EQ(send->totalCost, send->destinations[0].cost);
    EXPECT_TRUE(journal.unfinished(0).empty());
    EXPECT_EQ(test::readBytes(answerFile), "<another run's answer/>");

    sendAndLeave(journal, {u"+49 30 7654321"});
    state_.settings.password = u"wrong";
    EXPECT_EQ(RefreshUnfinished(journal, state_, progress, 0, timing).end,
              RefreshEnd::CredentialsRefused);
}

// A crash between two batches leaves the rows of the batches not yet sent
// without a fax id: the refresh follows the faxes that went out and asks
// about nothing else (never the send's list of fax ids as one).
TEST_F(JournalRefreshTest, RowsWithoutAFaxLeftByACrashAreNotAskedAbout) {
    Journal scratch(dir_ / "scratch.sqlite");
    const JournalSend first = *scratch.send(sendAndLeave(scratch, {u"+49 30 1234567"}));
    const JournalSend second = *scratch.send(sendAndLeave(scratch, {u"+49 30 1234501"}));
    // As the send records its batches: the whole list with the first.
    JournalSend left = first;
    left.destinations.push_back({u"+49 30 1234501", u"", u"", u"", 0, false, 0, u"", true});
    left.destinations.push_back({u"+49 30 1234568", u"", u"", u"", 0, false, 0, u"", true});
    Journal journal;
    const std::int64_t id = journal.recordTransfer(left);
    ASSERT_TRUE(journal.recordBatch(id, 1, 1, second.faxId, 0));
    const std::size_t before = statusRequests().size();

    std::this_thread::sleep_for(std::chrono::milliseconds(1700));
    SilentWorkerReport progress;
    SendTiming timing;
    timing.sleep = [](std::uint32_t) {};
    const RefreshResult result = RefreshUnfinished(journal, state_, progress, 0, timing);
    EXPECT_EQ(result.end, RefreshEnd::Done);
    EXPECT_EQ(result.changes.size(), 2u);
    const std::vector<std::string> asked = statusRequests();
    EXPECT_EQ(std::vector<std::string>(asked.begin() + static_cast<std::ptrdiff_t>(before),
                                       asked.end()),
              (std::vector<std::string>{toUtf8(first.faxId), toUtf8(second.faxId)}));
    const JournalSend after = *journal.send(id);
    EXPECT_EQ(after.destinations[0].statusCode, u"OK");
    EXPECT_EQ(after.destinations[1].statusCode, u"NA");
    EXPECT_FALSE(after.destinations[2].final);
    EXPECT_TRUE(after.destinations[2].faxId.empty());
}

TEST_F(JournalRefreshTest, StartRefreshAsksOnlyAboutTheLastSevenDays) {
    Journal journal;
    const auto old = sendAndLeave(journal, {u"+49 30 1234567"}, JournalNow() - 8 * 86400);
    const auto recent = sendAndLeave(journal, {u"+49 30 1234567"}, JournalNow() - 6 * 86400);
    std::this_thread::sleep_for(std::chrono::milliseconds(1700));
    BackgroundRefresh refresh(state_);
    const RefreshResult& result = refresh.wait();
    EXPECT_EQ(result.asked, 1);
    EXPECT_FALSE(journal.send(old)->final());
    EXPECT_TRUE(journal.send(recent)->final());

    // Ending the program ends a refresh waiting between two requests.
    sendAndLeave(journal, {u"+49 30 1234567"});
    sendAndLeave(journal, {u"+49 30 1234567"});
    state_.settings.timeoutMs = 60000;
    const auto start = std::chrono::steady_clock::now();
    { BackgroundRefresh stopped(state_); }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(JournalRefreshTest, SendCommandRefreshesAndLists) {
    Journal journal;
    const auto id = sendAndLeave(journal, {u"+49 30 1234502"});
    ASSERT_GT(id, 0);
    test::writeBytes(dir_ / "settings.ini",
                     "[OPTIONS]\nSERV_NAME=127.0.0.1:" + std::to_string(server_->port()) +
                         "\nCA_FILE=" + server_->caFile().string() +
                         "\nUSER_NAME=demo@miravo.test\nUSER_PASS=demo\nTIMEOUT=1000\n");
    auto run = [&](const std::string& args) {
        std::string out;
        const std::string command = std::string(MIRAVO_BINARY_DIR) +
                                    "/bin/miravo-send --settings " +
                                    (dir_ / "settings.ini").string() + " " + args + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            out.append(buffer, n);
        return std::make_pair(WEXITSTATUS(pclose(pipe)), out);
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(1700));
    const auto [status, out] = run("--refresh");
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("+49 30 1234502: In progress [--] -> Failed [FA]"), std::string::npos) << out;
    EXPECT_TRUE(journal.send(id)->final());

    const auto [listed, text] = run("--journal --csv");
    EXPECT_EQ(listed, 0) << text;
    EXPECT_NE(text.find(",+49 30 1234502,,FA,Failed,0.00,yes,"), std::string::npos) << text;
}

}  // namespace
}  // namespace miravo
