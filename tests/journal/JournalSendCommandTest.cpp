// miravo-send records its sends in the journal: final statuses, a send
// stopped while under way and finished by --refresh, a damaged journal set
// aside without stopping the send, and two senders at once.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "app/Text.h"
#include "cli/Send.h"
#include "journal/Journal.h"
#include "tests/journal/SendCommandService.h"

namespace miravo {
namespace {

using server::test::ServerProcess;

struct CommandRun {
    int status = -1;
    std::string out;
};

class JournalSendCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_ = test::StartServiceForSendCommand(dir_.path(), "1500");
        ASSERT_TRUE(server_) << "the fax service did not start";
    }

    // miravo-send with the settings; SIGINT once the output holds `stopAt`.
    CommandRun send(std::vector<std::string> args, const std::string& stopAt = {}) {
        std::vector<std::string> argv = {std::string(MIRAVO_BINARY_DIR) + "/bin/miravo-send",
                                         "--settings", (dir_ / "settings.ini").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            test::DieWithParent(parent);
            ::dup2(fds[1], 1);
            ::dup2(fds[1], 2);
            std::vector<char*> v;
            for (auto& a : argv)
                v.push_back(a.data());
            v.push_back(nullptr);
            ::execv(v[0], v.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        CommandRun run;
        char buffer[4096];
        for (bool stopped = false;;) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 60000) <= 0)
                break;
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            run.out.append(buffer, static_cast<std::size_t>(n));
            if (!stopAt.empty() && !stopped && run.out.find(stopAt) != std::string::npos) {
                ::kill(pid, SIGINT);
                stopped = true;
            }
        }
        ::close(fds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }
    CommandRun sendLetter(const std::string& number, const std::string& stopAt = {}) {
        return send({"--to", number, "--report", "none", (dir_ / "letter.tif").string()}, stopAt);
    }

    std::vector<JournalSend> journal() const {
        const Journal j;
        return j.sends(j.find({}));
    }

    test::TempDir dir_;
    std::unique_ptr<ServerProcess> server_;
};

TEST_F(JournalSendCommandTest, SendIsRecordedWithItsFinalStatuses) {
    const CommandRun run = send({"--to", "+49 30 1234567:Anna", "--to", "+49 30 1234501", "--report",
                          "none", (dir_ / "letter.tif").string()});
    EXPECT_EQ(run.status, cli::kExitDestinationsFailed) << run.out;
    const auto sends = journal();
    ASSERT_EQ(sends.size(), 1u) << run.out;
    const JournalSend& s = sends[0];
    EXPECT_EQ(s.title, u"letter");
    EXPECT_EQ(s.pages, 1);
    EXPECT_EQ(s.reportOptions, u"NOT_AT_ALL");
    EXPECT_FALSE(s.faxId.empty());
    EXPECT_DOUBLE_EQ(s.estimatedCost, 0.2);
    EXPECT_DOUBLE_EQ(s.totalCost, 0.1);
    ASSERT_EQ(s.destinations.size(), 2u);
    EXPECT_EQ(s.destinations[0].name, u"Anna");
    EXPECT_EQ(s.destinations[0].statusCode, u"OK");
    EXPECT_EQ(s.destinations[1].statusCode, u"NA");
    EXPECT_TRUE(s.final());
}

TEST_F(JournalSendCommandTest, StoppedSendBecomesFinalAfterRefresh) {
    const CommandRun stopped = sendLetter("+49 30 1234567", "Fax ID");
    EXPECT_EQ(stopped.status, cli::kExitInterrupted) << stopped.out;
    ASSERT_EQ(journal().size(), 1u) << stopped.out;
    EXPECT_FALSE(journal()[0].final());

    std::this_thread::sleep_for(std::chrono::milliseconds(1700));
    const CommandRun refreshed = send({"--refresh"});
    EXPECT_EQ(refreshed.status, 0) << refreshed.out;
    EXPECT_NE(refreshed.out.find("+49 30 1234567: In progress [--] -> OK\n"),
              std::string::npos)
        << refreshed.out;
    EXPECT_TRUE(journal()[0].final());
}

TEST_F(JournalSendCommandTest, DamagedJournalIsSetAsideAndTheSendGoesOn) {
    const auto file = Journal::DefaultPath();
    std::filesystem::create_directories(file.parent_path());
    test::writeBytes(file, std::string(4096, '\x5a'));
    const CommandRun run = sendLetter("+49 30 1234567");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("could not be read; it was kept as " + file.string() + ".broken-"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(journal().size(), 1u);
    std::size_t kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path()))
        kept += entry.path().filename().string().rfind("journal.sqlite.broken-", 0) == 0 &&
                test::readBytes(entry.path()) == std::string(4096, '\x5a');
    EXPECT_EQ(kept, 1u);
}

TEST_F(JournalSendCommandTest, TwoSendersAtOnceAreBothRecorded) {
    CommandRun one, two;
    std::thread first([&] { one = sendLetter("+49 30 1111111"); });
    std::thread second([&] { two = sendLetter("+49 30 2222222"); });
    first.join();
    second.join();
    EXPECT_EQ(one.status, 0) << one.out;
    EXPECT_EQ(two.status, 0) << two.out;
    const auto sends = journal();
    ASSERT_EQ(sends.size(), 2u);
    for (const JournalSend& s : sends)
        EXPECT_TRUE(s.final());
    EXPECT_NE(sends[0].destinations[0].number, sends[1].destinations[0].number);
}

}  // namespace
}  // namespace miravo
