// miravo-send against a service that misbehaves: it never crashes, its
// exit status names the failure, no failure is worded "OK", and the first
// Ctrl-C ends it within a second even while an exchange hangs.
#include <chrono>
#include <filesystem>

#include "cli/Send.h"
#include "tests/integration/SendCommandRunner.h"
#include "tests/server/ServerHarness.h"
#include "tests/service/HostileService.h"

namespace miravo {
namespace {

using namespace std::chrono_literals;

class HostileSendCommandTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        test::ClearProxyEnvironment();
        certificates_ = new test::TestCertificates(test::TestCertificates::make({"IP:127.0.0.1"}));
    }
    static void TearDownTestSuite() {
        delete certificates_;
        certificates_ = nullptr;
    }
    void SetUp() override {
        server_ = std::make_unique<test::LoopbackServer>(certificates_);
        test::writeBytes(dir_ / "ca.pem", certificates_->caPem);
        test::writeBytes(dir_ / "settings.ini",
                         "[OPTIONS]\nSERV_NAME=127.0.0.1:" + std::to_string(server_->port()) +
                             "\nCA_FILE=" + (dir_ / "ca.pem").string() +
                             "\nUSER_NAME=demo@miravo.test\nUSER_PASS=demo\nSAVE_PASS=1\nTIMEOUT=1000\n");
        test::writeBytes(dir_ / "letter.tif", server::test::faxDocument());
    }
    test::CommandRun send(const std::string& interrupt = {}) {
        return test::RunSendCommand(
            dir_.path(),
            {"--to", "+49 30 1", "--timeout", "2", "--retries", "0",
             (dir_ / "letter.tif").string()},
            interrupt, 500ms);
    }

    static test::TestCertificates* certificates_;
    test::TempDir dir_;
    std::unique_ptr<test::LoopbackServer> server_;
};

test::TestCertificates* HostileSendCommandTest::certificates_ = nullptr;

TEST_F(HostileSendCommandTest, EveryFaultEndsWithTheStatusOfItsFailure) {
    for (const test::HostileCase& hostile : test::HostileCases()) {
        SCOPED_TRACE(hostile.name);
        test::ServeHostile(*server_, hostile);
        const test::CommandRun run = send();
        // The service gave nothing at all in time, or something unusable.
        const bool nothing = hostile.kind == test::HostileCase::Kind::Drip ||
                             hostile.kind == test::HostileCase::Kind::Drop;
        EXPECT_EQ(run.status, nothing ? cli::kExitUnreachable : cli::kExitServiceError) << run.out;
        EXPECT_EQ(run.out.find(": OK)"), std::string::npos) << run.out;
        const std::string verdict =
            std::string(hostile.action) == "convert_and_transfer" ? "Transfer: OK"
            : std::string(hostile.action) == "authentication"     ? "Authentication: OK"
                                                                  : "Total cost";
        EXPECT_EQ(run.out.find(verdict), std::string::npos) << run.out;
    }
}

TEST_F(HostileSendCommandTest, FirstCtrlCEndsAHangingExchangeWithinOneSecond) {
    for (const test::HostileCase& hostile : test::HostileCases()) {
        if (hostile.kind != test::HostileCase::Kind::Drip)
            continue;
        test::ServeHostile(*server_, hostile);
        const test::CommandRun run = send("document:");
        EXPECT_EQ(run.status, cli::kExitInterrupted) << run.out;
        EXPECT_GE(run.afterInterrupt.count(), 0);
        EXPECT_LT(run.afterInterrupt, 1000ms) << run.out;
    }
}

}  // namespace
}  // namespace miravo
