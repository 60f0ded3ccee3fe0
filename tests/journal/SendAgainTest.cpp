// miravo-send keeps what it sent, remembers a refused send (by the service
// or for invalid numbers), and sends a record again: the kept bytes are the
// service's own copy, a corrected number goes out from a refused record,
// --failed repeats only the failed destination, and the records are linked;
// --report writes the report.
#include <cstdio>

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "app/TextIds.h"
#include "journal/Journal.h"
#include "journal/SentDocuments.h"
#include "tests/journal/SendCommandService.h"

namespace miravo {
namespace {

namespace fs = std::filesystem;
using server::test::ServerProcess;

class SendAgainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_ = test::StartServiceForSendCommand(dir_.path(), "300");
        ASSERT_TRUE(server_) << "the fax service did not start";
    }

    // miravo-send with the settings: its exit status, output and errors together.
    int send(const std::string& args, std::string* out = nullptr) {
        const std::string command = std::string(MIRAVO_BINARY_DIR) + "/bin/miravo-send --settings '" +
                                    (dir_ / "settings.ini").string() + "' " + args + " 2>&1";
        std::string text;
        FILE* pipe = ::popen(command.c_str(), "r");
        char buffer[4096];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            text.append(buffer, n);
        const int status = ::pclose(pipe);
        if (out)
            *out = text;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string serverCopy(const std::u16string& faxId) const {
        return test::readBytes(server_->dataDir() / "faxes" / toUtf8(faxId) / "document.tif");
    }

    test::TempDir dir_;
    std::unique_ptr<ServerProcess> server_;
};

TEST_F(SendAgainTest, KeepsSendsAgainAndLinksTheRecords) {
    const std::string letter = (dir_ / "letter.tif").string();
    std::string out;
    // One OK and one "No answer" destination.
    EXPECT_EQ(send("--to '+49 30 1234567:Anna' --to '+49 30 1234501:Bert' --cover Hello " + letter,
                   &out), 5) << out;
    Journal journal;
    const std::int64_t first = journal.latest();
    ASSERT_GT(first, 0);
    const JournalSend sent = *journal.send(first);
    ASSERT_EQ(journal.keeping(first).document, KeptDocument::Kept);
    const std::string kept = test::readBytes(KeptDocumentPath(journal, first));
    EXPECT_EQ(kept, serverCopy(sent.faxId));
    EXPECT_EQ(KeptCoverText(journal, first), u"Hello");

    EXPECT_EQ(send("--resend last --failed", &out), 5) << out;
    const std::int64_t again = journal.latest();
    ASSERT_EQ(again, first + 1);
    const JournalSend repeated = *journal.send(again);
    ASSERT_EQ(repeated.destinations.size(), 1u);
    EXPECT_EQ(repeated.destinations[0].number, u"+49 30 1234501");
    EXPECT_EQ(repeated.destinations[0].statusCode, u"NA");
    EXPECT_TRUE(repeated.cover);
    EXPECT_EQ(repeated.title, sent.title);
    EXPECT_EQ(journal.keeping(again).repeats, first);
    EXPECT_EQ(serverCopy(repeated.faxId), kept);

    // A refused send is remembered with its reason and its document, and
    // goes out from its record once the number is corrected.
    EXPECT_EQ(send("--to 123:Carla " + letter, &out), 4) << out;
    const std::int64_t refused = journal.latest();
    const JournalKeeping why = journal.keeping(refused);
    EXPECT_NE(toUtf8(why.reason).find("#111"), std::string::npos) << toUtf8(why.reason);
    EXPECT_EQ(why.document, KeptDocument::Kept);
    ASSERT_EQ(journal.send(refused)->destinations.size(), 1u);
    EXPECT_EQ(journal.send(refused)->destinations[0].number, u"123");
    EXPECT_EQ(send("--resend " + std::to_string(refused) + " --failed --to '+49 30 7654399:Carla'",
                   &out), 0) << out;
    EXPECT_EQ(journal.keeping(journal.latest()).repeats, refused);
    EXPECT_EQ(send("--resend last --failed", &out), 2) << out;  // nothing failed
    EXPECT_EQ(send("--resend 999", &out), 2) << out;

    // Numbers refused as invalid before sending (--strict) are remembered
    // the same way, with the cover text.
    EXPECT_EQ(send("--strict --to 123:Dora --cover Hi " + letter, &out), 2) << out;
    const std::int64_t strict = journal.latest();
    LanguageTable language;
    ASSERT_EQ(LoadLanguage(language, fromUtf8(MIRAVO_SOURCE_DIR "/data/lang.ini"), u"en"), 1);
    EXPECT_EQ(journal.keeping(strict).reason, GetText(language, text::kInvalidNumbersRefused));
    EXPECT_EQ(journal.keeping(strict).document, KeptDocument::Kept);
    EXPECT_EQ(KeptCoverText(journal, strict), u"Hi");
    ASSERT_EQ(journal.send(strict)->destinations.size(), 1u);
    EXPECT_FALSE(journal.send(strict)->destinations[0].sent);

    // The listing numbers the records and says what is kept.
    EXPECT_EQ(send("--journal", &out), 0);
    EXPECT_NE(out.find("#" + std::to_string(refused) + " "), std::string::npos) << out;
    EXPECT_NE(out.find("[document kept]"), std::string::npos) << out;
    EXPECT_NE(out.find("not sent: #111"), std::string::npos) << out;
    EXPECT_EQ(send("--journal --csv", &out), 0);
    EXPECT_EQ(out.rfind("record,sent,", 0), 0u) << out;

    EXPECT_EQ(send("--report " + std::to_string(first) + " '" + (dir_ / "r.pdf").string() + "'",
                   &out), 0) << out;
    EXPECT_EQ(test::readBytes(dir_ / "r.pdf").rfind("%PDF", 0), 0u);
}

}  // namespace
}  // namespace miravo
