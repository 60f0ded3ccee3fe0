// The journal file: records and status answers, searches, a damaged file
// moved aside, and two writers at once.
#include "journal/Journal.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <thread>

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "app/TextIds.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

JournalSend sendTo(std::u16string title, std::int64_t at,
                   std::vector<std::pair<std::u16string, std::u16string>> to) {
    JournalSend s;
    s.sentAt = at;
    s.title = std::move(title);
    s.pages = 2;
    s.faxId = u"F-" + s.title;
    s.estimatedCost = 1.5;
    for (auto& [number, name] : to)
        s.destinations.push_back({number, name, {}, {}, 0, false, 0});
    return s;
}

class JournalTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    std::filesystem::path file_ = dir_ / "Miravo/journal.sqlite";
    LanguageTable language_;
};

TEST_F(JournalTest, StatusAnswersFillTheRowsOfTheirNumbers) {
    Journal journal(file_);
    ASSERT_TRUE(journal.isOpen());
    EXPECT_EQ((std::filesystem::status(file_).permissions() & std::filesystem::perms::all),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const auto id = journal.recordTransfer(
        sendTo(u"Tax return", 100, {{u"+4930111", u"Tax office"}, {u"+4930222", u"Bank"},
                                    {u"+4930333", u""}}));
    ASSERT_GT(id, 0);

    struct Case {
        std::vector<DestinationStatus> answer;
        std::vector<std::u16string> codes;
        int delivered, failed, pending;
    } cases[] = {
        // answers list destinations in another order: matched by number
        {{{u"+4930222", u"0.50", u""}, {u"+4930111", u"0.50", u"OK"}},
         {u"OK", u"", u""}, 1, 0, 2},
        {{{u"+4930111", u"0.50", u"OK"}, {u"+4930222", u"0.50", u"NO_ANSWER"},
          {u"+4930333", u"0.50", u"OK"}},
         {u"OK", u"NO_ANSWER", u"OK"}, 2, 1, 0},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(journal.recordStatus(id, c.answer, 1.0, language_));
        const auto send = journal.send(id);
        ASSERT_TRUE(send);
        for (std::size_t i = 0; i < c.codes.size(); ++i) {
            EXPECT_EQ(send->destinations[i].statusCode, c.codes[i]);
            EXPECT_EQ(send->destinations[i].final, !c.codes[i].empty());
        }
        const auto rows = journal.rows({id});
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].delivered, c.delivered);
        EXPECT_EQ(rows[0].failed, c.failed);
        EXPECT_EQ(rows[0].pending, c.pending);
    }
    const auto send = journal.send(id);
    EXPECT_TRUE(send->final());
    EXPECT_EQ(send->totalCost, 1.0);
    EXPECT_EQ(send->destinations[1].name, u"Bank");
    EXPECT_GT(send->destinations[1].lastChecked, 0);
    EXPECT_TRUE(journal.unfinished(0).empty());
    EXPECT_EQ(journal.rows({id})[0].destinations, u"Tax office (+4930111), Bank (+4930222), +4930333");
}

TEST_F(JournalTest, SearchFindsNumbersNamesAndTitlesNewestFirst) {
    Journal journal(file_);
    const auto a = journal.recordTransfer(sendTo(u"Invoice März", 100, {{u"+4930111", u"Müller"}}));
    const auto b = journal.recordTransfer(sendTo(u"Contract", 200, {{u"+4940999", u"Ölhandel"}}));
    const auto c = journal.recordTransfer(sendTo(u"contract annex", 300, {{u"+4930555", u""}}));
    struct Case {
        JournalFilter filter;
        std::vector<std::int64_t> ids;
    } cases[] = {
        {{u"", 0}, {c, b, a}},
        {{u"CONTRACT", 0}, {c, b}},
        {{u"müller", 0}, {a}},
        {{u"ölhandel", 0}, {b}},
        {{u"+4930", 0}, {c, a}},
        {{u"", 200}, {c, b}},
        {{u"märz", 150}, {}},
        {{u"'; DROP TABLE sends; --", 0}, {}},
    };
    for (const Case& k : cases)
        EXPECT_EQ(journal.find(k.filter), k.ids) << toUtf8(k.filter.search);
    EXPECT_EQ(journal.unfinished(150).size(), 2u);
}

TEST_F(JournalTest, UnusableJournalIsMovedAsideAndAFreshOneStarted) {
    const std::pair<const char*, std::string> cases[] = {
        {"not a database", std::string(8192, 'x')},
        {"damaged header", std::string("SQLite format 3\0", 16) + std::string(4096, '\xff')},
    };
    int n = 0;
    for (const auto& [what, bytes] : cases) {
        const auto file = dir_ / std::to_string(++n) / "journal.sqlite";
        std::filesystem::create_directories(file.parent_path());
        test::writeBytes(file, bytes);
        Journal journal(file);
        ASSERT_TRUE(journal.isOpen()) << what;
        ASSERT_FALSE(journal.movedAside().empty()) << what;
        EXPECT_EQ(test::readBytes(journal.movedAside()), bytes) << what;
        EXPECT_GT(journal.recordTransfer(sendTo(u"After", 1, {{u"1", u""}})), 0) << what;
        Journal again(file);  // told once: the fresh journal stays
        EXPECT_TRUE(again.movedAside().empty()) << what;
        EXPECT_EQ(again.find({}).size(), 1u) << what;
    }
}

TEST_F(JournalTest, TwoWritersAtOnceBothLand) {
    Journal(file_).isOpen();
    constexpr int kEach = 40;
    auto writer = [&](std::u16string who) {
        Journal journal(file_);
        for (int i = 0; i < kEach; ++i) {
            const auto id = journal.recordTransfer(sendTo(who, i, {{u"+1", u""}, {u"+2", u""}}));
            EXPECT_GT(id, 0);
            EXPECT_TRUE(journal.recordStatus(id, {{u"+1", u"1", u"OK"}}, 1, language_));
        }
    };
    std::thread one(writer, u"one"), two(writer, u"two");
    one.join();
    two.join();
    Journal journal(file_);
    EXPECT_EQ(journal.find({u"one", 0}).size(), std::size_t{kEach});
    EXPECT_EQ(journal.find({u"two", 0}).size(), std::size_t{kEach});
    EXPECT_EQ(journal.unfinished(0).size(), std::size_t{2 * kEach});
}

TEST_F(JournalTest, NoFolderMeansNoJournalAndSoftFailures) {
    test::writeBytes(dir_ / "file", "x");
    Journal journal(dir_ / "file/Miravo/journal.sqlite");
    EXPECT_FALSE(journal.isOpen());
    EXPECT_EQ(journal.recordTransfer(sendTo(u"x", 1, {{u"1", u""}})), 0);
    EXPECT_FALSE(journal.recordStatus(1, {{u"1", u"1", u"OK"}}, 1, language_));
    EXPECT_TRUE(journal.find({}).empty());
    EXPECT_TRUE(std::filesystem::exists(dir_ / "file"));
}

// A journal whose tables another program took away under an open
// connection: no statement prepares, and every read is "no row".
TEST_F(JournalTest, StatementsThatCannotBePreparedReadAsNoRow) {
    Journal journal(file_);
    const auto id = journal.recordTransfer(sendTo(u"Gone", 1, {{u"+1", u""}}));
    ASSERT_GT(id, 0);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file_.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other,
                           "PRAGMA foreign_keys=OFF; DROP TABLE send_search; "
                           "DROP TABLE destinations; DROP TABLE sends;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);
    EXPECT_FALSE(journal.send(id));
    EXPECT_TRUE(journal.rows({id, id}).empty());
    EXPECT_TRUE(journal.sends({id}).empty());
    EXPECT_TRUE(journal.find({}).empty());
    EXPECT_TRUE(journal.unfinished(0).empty());
    EXPECT_EQ(journal.recordTransfer(sendTo(u"x", 1, {{u"1", u""}})), 0);
    EXPECT_FALSE(journal.recordStatus(id, {{u"+1", u"1", u"OK"}}, 1, language_));
    EXPECT_EQ(journal.latest(), 0);
}

// A send in batches: each batch's status answers touch only its own rows,
// and destinations never sent are final and say so.
TEST_F(JournalTest, BatchesOfOneSendAreRecordedApart) {
    Journal journal(file_);
    ASSERT_TRUE(LoadLanguage(language_, fromUtf8(MIRAVO_SOURCE_DIR "/data/lang.ini"), u"en"));
    JournalSend first = sendTo(u"List", 100, {{u"+4930111", u""}, {u"+4930222", u""},
                                              {u"+4930333", u""}, {u"+4930444", u""}});
    first.faxId = u"7";
    for (std::size_t i = 0; i < 2; ++i)
        first.destinations[i].faxId = u"7";
    const auto id = journal.recordTransfer(first);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(journal.recordBatch(id, 2, 1, u"8", 0.5));
    ASSERT_TRUE(journal.recordNotSent(id, {3}, language_));
    // Fax 8's answer names the same number as fax 7's first row: only fax 8's row changes.
    ASSERT_TRUE(journal.recordFaxStatus(id, u"8", {{u"+4930333", u"0.50", u"OK"},
                                                   {u"+4930111", u"0.50", u"BU"}},
                                        language_));
    ASSERT_TRUE(journal.recordFaxStatus(id, u"7", {{u"+4930222", u"0.25", u"NA"}}, language_));
    const auto send = journal.send(id);
    ASSERT_TRUE(send);
    EXPECT_EQ(send->faxId, u"7, 8");
    const std::vector<std::u16string> codes = {u"", u"NA", u"OK", u""};
    const std::vector<std::u16string> faxes = {u"7", u"7", u"8", u""};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(send->destinations[i].statusCode, codes[i]) << i;
        EXPECT_EQ(send->destinations[i].faxId, faxes[i]) << i;
    }
    EXPECT_FALSE(send->destinations[3].sent);
    EXPECT_TRUE(send->destinations[3].final);
    EXPECT_EQ(send->destinations[3].statusText, GetText(language_, text::kDestinationNotSent));
    EXPECT_DOUBLE_EQ(send->totalCost, 0.75);
    const auto rows = journal.rows({id});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].delivered, 1);
    EXPECT_EQ(rows[0].failed, 2);  // NA and the one never sent
    EXPECT_EQ(rows[0].pending, 1);
}

// A journal written before sends went out in batches is kept, not moved
// aside, and its destinations carry their send's fax id.
TEST_F(JournalTest, AnOlderJournalKeepsItsSends) {
    std::filesystem::create_directories(file_.parent_path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, R"sql(
CREATE TABLE sends(id INTEGER PRIMARY KEY, sent_at INTEGER NOT NULL, title TEXT NOT NULL DEFAULT '',
  pages INTEGER NOT NULL DEFAULT 0, cover INTEGER NOT NULL DEFAULT 0, report TEXT NOT NULL DEFAULT '',
  fax_id TEXT NOT NULL DEFAULT '', estimated_cost REAL NOT NULL DEFAULT 0,
  total_cost REAL NOT NULL DEFAULT 0, destination_list TEXT NOT NULL DEFAULT '',
  delivered INTEGER NOT NULL DEFAULT 0, failed INTEGER NOT NULL DEFAULT 0,
  pending INTEGER NOT NULL DEFAULT 0);
CREATE TABLE destinations(send_id INTEGER NOT NULL REFERENCES sends(id) ON DELETE CASCADE,
  position INTEGER NOT NULL, number TEXT NOT NULL DEFAULT '', name TEXT NOT NULL DEFAULT '',
  status_code TEXT NOT NULL DEFAULT '', status_text TEXT NOT NULL DEFAULT '',
  cost REAL NOT NULL DEFAULT 0, final INTEGER NOT NULL DEFAULT 0,
  last_checked INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(send_id, position)) WITHOUT ROWID;
CREATE TABLE send_search(id INTEGER PRIMARY KEY REFERENCES sends(id) ON DELETE CASCADE,
  sent_at INTEGER NOT NULL, text TEXT NOT NULL);
INSERT INTO sends(id, sent_at, title, fax_id, pending) VALUES(5, 100, 'Old', '42', 1);
INSERT INTO destinations(send_id, position, number) VALUES(5, 0, '+4930111');
INSERT INTO send_search VALUES(5, 100, 'old');
)sql", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    Journal journal(file_);
    ASSERT_TRUE(journal.isOpen());
    EXPECT_TRUE(journal.movedAside().empty());
    const auto unfinished = journal.unfinished(0);
    ASSERT_EQ(unfinished.size(), 1u);
    ASSERT_EQ(unfinished[0].destinations.size(), 1u);
    EXPECT_EQ(unfinished[0].destinations[0].faxId, u"42");
    EXPECT_TRUE(unfinished[0].destinations[0].sent);
    EXPECT_TRUE(journal.recordFaxStatus(5, u"42", {{u"+4930111", u"0.10", u"OK"}}, language_));
    EXPECT_TRUE(journal.unfinished(0).empty());
}

}  // namespace
}  // namespace miravo
