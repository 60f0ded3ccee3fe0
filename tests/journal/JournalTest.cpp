// The journal file: records and status answers, searches, a damaged file
// moved aside, and two writers at once.
#include "journal/Journal.h"

#include <sys/stat.h>

#include <thread>

#include "app/LanguageTable.h"
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

}  // namespace
}  // namespace miravo
