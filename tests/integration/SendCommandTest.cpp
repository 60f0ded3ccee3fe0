// miravo-send as a user runs it against miravo-server: the printed status,
// the exit statuses, credentials without a terminal, and Ctrl-C.
#include <chrono>
#include <filesystem>

#include "cli/Send.h"
#include "tests/integration/SendCommandRunner.h"
#include "tests/convert/ConvertTestSupport.h"
#include "tests/server/ServerHarness.h"

#include <QImage>
#include <QPainter>

namespace miravo {
namespace {

using server::test::ServerProcess;
using test::CommandRun;

class SendCommandTest : public ::testing::Test {
  protected:
    void start(std::vector<std::string> args = {}) {
        std::vector<std::string> all = {"--quiet", "--version-port", "-1", "--delivery-time", "0"};
        all.insert(all.end(), args.begin(), args.end());
        server_ = std::make_unique<ServerProcess>(all);
        ASSERT_TRUE(server_->start()) << server_->output();
        settings("demo");
    }
    void settings(const std::string& password, int port = 0) {
        test::writeBytes(
            dir_ / "settings.ini",
            "[OPTIONS]\nSERV_NAME=127.0.0.1:" + std::to_string(port ? port : server_->port()) +
                "\nCA_FILE=" + server_->caFile().string() +
                "\nUSER_NAME=demo@miravo.test\nUSER_PASS=" + password +
                "\nSAVE_PASS=1\nTIMEOUT=1000\n");
    }
    std::string tiff() {
        test::writeBytes(dir_ / "letter.tif", server::test::faxDocument());
        return (dir_ / "letter.tif").string();
    }

    CommandRun send(std::vector<std::string> args, const std::string& interrupt = {}) {
        return test::RunSendCommand(dir_.path(), std::move(args), interrupt);
    }

    test::TempDir dir_;
    std::unique_ptr<ServerProcess> server_;
};

TEST_F(SendCommandTest, PrintedPdfReachesEveryNumber) {
    start();
    const CommandRun run =
        send({"--to", "+49 30 1234567:Anna", "--to", "+33 1 42 00 00 11", "--report", "none",
              std::string(MIRAVO_SOURCE_DIR) + "/data/sample.pdf"});
    EXPECT_EQ(run.status, cli::kExitOk) << run.out;
    for (const char* line :
         {"document: ", "(3 pages)", "Authentication: OK", "Transfer: OK", "Fax ID: 1",
          "Pages: 6 fax pages: 3-page document \u00d7 2 numbers",
          "Estimated cost: 0.60 EUR", "  +49 30 1234567: OK 0.30 EUR",
          "  +33 1 42 00 00 11: OK 0.30 EUR", "Total cost: 0.60 EUR\nAll delivered\n"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
}

// Several documents are one fax, in order: its pages are those of each
// document sent alone; a fax passing the page limit is refused whole.
TEST_F(SendCommandTest, SeveralDocumentsAreOneFaxOfTheirPagesInOrder) {
    start();
    QImage picture(600, 400, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter(&picture).fillRect(50, 50, 300, 120, Qt::black);
    const std::string png = (dir_ / "b.png").string();
    ASSERT_TRUE(picture.save(QString::fromStdString(png)));
    const std::string pdf = std::string(MIRAVO_SOURCE_DIR) + "/data/sample.pdf";
    auto stored = [&](int fax) {
        return test::readTiff(server_->dataDir() / "faxes" / std::to_string(fax) / "document.tif");
    };
    for (const auto& document : {pdf, png}) {
        const CommandRun alone = send({"--to", "+49 30 1234567", "--report", "none", document});
        ASSERT_EQ(alone.status, cli::kExitOk) << alone.out;
    }
    const CommandRun both =
        send({"--to", "+49 30 1234567", "--report", "none", pdf, png});
    ASSERT_EQ(both.status, cli::kExitOk) << both.out;
    EXPECT_NE(both.out.find("fax: 2 documents (4 pages)"), std::string::npos) << both.out;
    const auto pdfPages = stored(1), pngPages = stored(2), fax = stored(3);
    ASSERT_EQ(pdfPages.size(), 3u);
    ASSERT_EQ(pngPages.size(), 1u);
    ASSERT_EQ(fax.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& alone = i < 3 ? pdfPages[i] : pngPages[0];
        EXPECT_EQ(fax[i].bits.bits, alone.bits.bits) << "page " << i + 1;
        EXPECT_EQ(fax[i].pageIndex, i);
        EXPECT_EQ(fax[i].pageTotal, 4);
    }
    // Three pages allowed: the two documents are refused, nothing is sent.
    test::writeBytes(dir_ / "settings.ini", test::readBytes(dir_ / "settings.ini") + "MAX_PAGES=3\n");
    const CommandRun refused = send({"--to", "+49 30 1234567", "--report", "none", pdf, png});
    EXPECT_EQ(refused.status, cli::kExitDocument) << refused.out;
    EXPECT_NE(refused.out.find("b.png was not added"), std::string::npos) << refused.out;
    EXPECT_FALSE(std::filesystem::exists(server_->dataDir() / "faxes" / "4"));
}

TEST_F(SendCommandTest, FailedDestinationAndServiceErrorHaveTheirOwnStatus) {
    start({"--fault", "error:110,action=authentication,after=1"});
    const CommandRun failed = send({"--to", "+49 30 1234502", tiff()});
    EXPECT_EQ(failed.status, cli::kExitDestinationsFailed) << failed.out;
    EXPECT_NE(failed.out.find("+49 30 1234502: Failed [FA]"), std::string::npos) << failed.out;
    EXPECT_NE(failed.out.find("Pages: 1"), std::string::npos) << failed.out;
    EXPECT_NE(failed.out.find("None delivered\n"), std::string::npos) << failed.out;

    const CommandRun error = send({"--to", "+49 30 1234567", tiff()});
    EXPECT_EQ(error.status, cli::kExitServiceError) << error.out;
    // The service's error is printed as such, not as the verdict of a step.
    EXPECT_NE(error.out.find("\n#110 Not enough credit"), std::string::npos) << error.out;
    EXPECT_NE(error.out.find("+49 30 1234567: not sent"), std::string::npos) << error.out;
}

TEST_F(SendCommandTest, CredentialsWithoutATerminal) {
    start();
    settings("");
    const CommandRun missing = send({"--to", "+49 30 1234567", tiff()});
    EXPECT_EQ(missing.status, cli::kExitCredentials) << missing.out;
    EXPECT_NE(missing.out.find("USER_PASS"), std::string::npos) << missing.out;

    settings("wrong");
    const CommandRun refused = send({"--to", "+49 30 1234567", tiff()});
    EXPECT_EQ(refused.status, cli::kExitCredentials) << refused.out;
    EXPECT_NE(refused.out.find("\n#107"), std::string::npos) << refused.out;
    EXPECT_NE(refused.out.find("refused by the service"), std::string::npos) << refused.out;
}

TEST_F(SendCommandTest, UnreachableServiceAndBadCommandLines) {
    start();
    const int port = server_->port();
    server_->stop();
    settings("demo", port);
    const CommandRun run = send({"--to", "+49 30 1234567", "--retries", "1", tiff()});
    EXPECT_EQ(run.status, cli::kExitUnreachable) << run.out;
    EXPECT_NE(run.out.find("cannot be reached"), std::string::npos) << run.out;

    EXPECT_EQ(send({tiff()}).status, cli::kExitUsage);
    EXPECT_EQ(send({"--to", "1", "--report", "maybe", tiff()}).status, cli::kExitUsage);
    EXPECT_EQ(send({"--to", "1", "--retries", "-1", tiff()}).status, cli::kExitUsage);
    EXPECT_EQ(send({"--to", "1"}).status, cli::kExitUsage);
    EXPECT_EQ(send({"--to", "1", (dir_ / "none.pdf").string()}).status, cli::kExitDocument);
    test::writeBytes(dir_ / "text.txt", "not a document");
    EXPECT_EQ(send({"--to", "1", (dir_ / "text.txt").string()}).status, cli::kExitDocument);
}

// A CA file the settings name that cannot be used is told as such, with a
// status of its own: the service is not the one to blame.
TEST_F(SendCommandTest, AnUnusableCaFileHasItsOwnWordsAndStatus) {
    start();
    const std::string settingsText = test::readBytes(dir_ / "settings.ini");
    const std::string named = "CA_FILE=" + server_->caFile().string();
    const struct {
        const char* what;
        std::string caFile;
        const char* says;
    } cases[] = {
        {"missing", (dir_ / "none.pem").string(), "cannot be read: No such file"},
        {"a folder", dir_.path().string(), "cannot be read"},
        {"no certificate in it", (dir_ / "junk.pem").string(), "holds no PEM certificate"},
    };
    test::writeBytes(dir_ / "junk.pem", "not a certificate\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string changed = settingsText;
        changed.replace(changed.find(named), named.size(), "CA_FILE=" + c.caFile);
        test::writeBytes(dir_ / "settings.ini", changed);
        const CommandRun run = send({"--to", "+49 30 1234567", tiff()});
        EXPECT_EQ(run.status, cli::kExitCaFile) << run.out;
        EXPECT_NE(run.out.find("the CA file " + c.caFile + " " + c.says), std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("CA_FILE"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("cannot be reached"), std::string::npos) << run.out;
    }
}

TEST_F(SendCommandTest, CtrlCStopsWhilePolling) {
    start({"--delivery-time", "600000"});
    const auto started = std::chrono::steady_clock::now();
    const CommandRun run =
        send({"--to", "+49 30 1234567", tiff()}, "Waiting for the delivery status");
    EXPECT_EQ(run.status, cli::kExitInterrupted) << run.out;
    EXPECT_NE(run.out.find("stopped"), std::string::npos) << run.out;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
}

// A list file of more numbers than one fax carries: checked first (with
// --strict an invalid number stops everything), then sent in batches,
// printed one line per destination and one summary that agrees with the
// service's records; the settings file stays as it was.
TEST_F(SendCommandTest, AListGoesOutInBatchesWithOneSummary) {
    start({"--max-destinations", "500"});
    std::string list;
    for (int i = 0; i < 800; ++i)
        list += "+49 30 " + std::to_string(20000000 + i) + "\n";
    test::writeBytes(dir_ / "list.txt", list);
    test::writeBytes(dir_ / "bad.txt", list + "Fax office\n");
    const std::string settingsBefore = test::readBytes(dir_ / "settings.ini");

    const CommandRun strict = send({"--list", (dir_ / "bad.txt").string(), "--strict", tiff()});
    EXPECT_EQ(strict.status, cli::kExitUsage) << strict.out;
    EXPECT_NE(strict.out.find("Fax office cannot be a valid number"), std::string::npos)
        << strict.out;

    const CommandRun run = send({"--list", (dir_ / "list.txt").string(), tiff()});
    EXPECT_EQ(run.status, cli::kExitDestinationsFailed) << run.out;
    // Last digits 00 to 04 fail: 40 of 800.
    EXPECT_NE(run.out.find("Destination: 800 (760 OK, 40 failed)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Total cost: 76.00 EUR"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  +49 30 20000799: OK 0.10 EUR"), std::string::npos);
    // The estimate once, after both faxes went out.
    const auto estimate = run.out.find("Estimated cost:");
    ASSERT_NE(estimate, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Estimated cost:", estimate + 1), std::string::npos) << run.out;
    EXPECT_EQ(test::readBytes(dir_ / "settings.ini"), settingsBefore);
}

}  // namespace
}  // namespace miravo
