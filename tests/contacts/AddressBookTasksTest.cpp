// The synchronisation tasks against a running miravo-server: the exact wire
// bytes of both requests, the rebuilt book and its file, and every way an
// exchange can fail without touching the local book.
#include "contacts/AddressBookTasks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "app/WorkerReport.h"
#include "contacts/ContactStore.h"
#include "contacts/VCardFile.h"
#include "service/Transport.h"
#include "tests/TestSupport.h"
#include "tests/server/ServerHarness.h"
#include "app/ControlIds.h"

namespace miravo {

// Readable contacts in failure messages.
static void PrintTo(const Contact& c, std::ostream* out) {
    *out << "{kind " << c.kind << ", state " << c.state << ", id \"" << toUtf8(c.id)
         << "\", name \"" << toUtf8(c.name) << "\", number \"" << toUtf8(c.number) << "\", gsm \""
         << toUtf8(c.gsmnumber) << "\", group \"" << toUtf8(c.groupname) << "\", "
         << c.members.size() << " members}";
}

namespace {

using server::test::form;
using server::test::kDemoLogin;
using server::test::kDemoPassword;
using server::test::ServerProcess;
using test::TempDir;

class RecordingReport : public WorkerReport {
  public:
    void setTitle(const std::u16string& text) override { title = text; }
    void setLabel(int id, const std::u16string& text) override { labels[id] = text; }
    void beginProgress(int) override {}
    void stepProgress() override {}
    void setPolling(bool) override {}
    void enableClose() override {}
    void close(int result) override { closes.push_back(result); }
    bool isOpen() const override { return closes.empty(); }

    std::u16string title;
    std::map<int, std::u16string> labels;
    std::vector<int> closes;
};

Contact single(std::u16string id, std::u16string name, std::u16string number, std::u16string gsm,
               int state) {
    Contact c = Contact::entry(std::move(id), std::move(name), std::move(number), std::move(gsm));
    c.state = state;
    return c;
}

class AddressBookTasksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        OverrideApplicationDataFolder(fromUtf8(appData_.path().string()));
        ASSERT_EQ(
            LoadLanguage(state_.language, fromUtf8(MIRAVO_SOURCE_DIR "/data/lang.ini"), u"en"), 1);
        paths_.state = &state_;
    }
    void TearDown() override {
        if (server_ && server_->running()) {
            EXPECT_EQ(server_->stop(), 0) << server_->output();
        }
        OverrideApplicationDataFolder(std::nullopt);
    }

    // Starts the service with the demo account (or the account the
    // set-up commands made) and the request log.
    void startServer(std::vector<std::string> more = {},
                     const std::vector<std::vector<std::string>>& setup = {},
                     const std::string& login = kDemoLogin,
                     const std::string& password = kDemoPassword) {
        std::vector<std::string> args = {"--quiet", "--log-requests", logs_.path().string()};
        args.insert(args.end(), more.begin(), more.end());
        server_ = std::make_unique<ServerProcess>(args);
        for (const auto& command : setup)
            ASSERT_EQ(server_->command(command), 0);
        ASSERT_TRUE(server_->start()) << server_->output();
        AppSettings& s = state_.settings;
        s.userName = fromUtf8(login);
        s.password = fromUtf8(password);
        s.serviceHost = u"127.0.0.1:" + toU16(server_->port());
        s.objectPath = u"api2/proxy.php";
        s.caFile = fromUtf8(server_->caFile().string());
    }

    int run(const WorkerTask& task) {
        report_ = RecordingReport{};
        return task(paths_, report_);
    }
    // Runs the task the book calls for and merges its answer.
    SyncMergeOutcome sync(int expectedResult = 1) {
        auto answer = std::make_shared<AddressBookAnswer>();
        EXPECT_EQ(run(chooseSyncTask(state_.contactBook, answer)), expectedResult)
            << toUtf8(status());
        EXPECT_TRUE(answer->finished());
        return mergeAddressBookAnswer(paths_, *answer);
    }

    std::u16string status() const {
        const auto it = report_.labels.find(controlid::kStatusLine);
        return it == report_.labels.end() ? u"<none>" : it->second;
    }
    std::u16string text(int id) const { return GetText(state_.language, id); }
    std::filesystem::path logged(int number) const {
        std::string name = std::to_string(number);
        return logs_.path() / (std::string(6 - name.size(), '0') + name + ".body");
    }
    std::string body(int number) const { return test::readBytes(logged(number)); }
    ContactBook savedBook() const {
        ContactBook book;
        EXPECT_EQ(LoadContactBook(book, appData_ / "contacts.csv"), ContactFileRead::Loaded);
        return book;
    }
    const Contact& at(std::size_t index) const {
        return *std::next(state_.contactBook.contacts.begin(), static_cast<long>(index));
    }

    TempDir appData_;
    TempDir logs_;
    std::unique_ptr<ServerProcess> server_;
    AppState state_;
    AppPaths paths_;
    RecordingReport report_;
};

std::vector<std::pair<std::string, std::string>> leading(const std::string& action) {
    return {{"action", action}, {"username", kDemoLogin}, {"password", kDemoPassword}};
}

TEST_F(AddressBookTasksTest, FetchOnAnEmptyBookRebuildsItFromTheServiceAndStoresIt) {
    startServer();
    ASSERT_TRUE(state_.contactBook.contacts.empty());

    const SyncMergeOutcome merged = sync();
    EXPECT_EQ(report_.title, text(74));
    EXPECT_EQ(status(), u"OK");
    EXPECT_TRUE(report_.closes.empty());  // the dialog closes itself on success
    EXPECT_EQ(body(1), form(leading("get_address_book")));
    EXPECT_FALSE(std::filesystem::exists(logged(2)));
    EXPECT_NE(test::readBytes(appData_ / "result.xml").find("<CONTACT>"), std::string::npos);

    EXPECT_TRUE(merged.replaced);
    EXPECT_TRUE(merged.saved);
    const ContactBook& book = state_.contactBook;
    ASSERT_EQ(book.contacts.size(), 3u);
    EXPECT_EQ(at(0).kind, Group);
    EXPECT_EQ(at(0).groupname, u"Sales");
    EXPECT_EQ(at(0).members,
              (std::vector<std::u16string>{u"+44 20 7946 0018", u"+44 20 7946 0029"}));
    EXPECT_EQ(at(1).name, u"Anna Berger");
    EXPECT_EQ(at(1).number, u"+49 30 1234567");
    EXPECT_EQ(at(1).gsmnumber, u"+49 170 1234567");
    EXPECT_EQ(at(2).name, u"Office Paris");
    for (std::size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(at(i).kind, Single);
        EXPECT_EQ(at(i).state, Synced);
        EXPECT_FALSE(at(i).id.empty());
        EXPECT_NE(at(i).id, u"0");
    }
    EXPECT_EQ(book.groups.size(), 1u);
    EXPECT_EQ(savedBook().contacts, book.contacts);
}

TEST_F(AddressBookTasksTest, UpdateSendsNewEditedAndDeletedContactsWithExactlyTheirFields) {
    startServer();
    sync();
    ASSERT_EQ(state_.contactBook.contacts.size(), 3u);
    ContactBook& book = state_.contactBook;
    const std::u16string annaId = at(1).id;
    const std::u16string officeId = at(2).id;

    // Edited (gsm number kept), deleted, added then deleted before any
    // sync (never sent), and added with a stale id (sent with id "0").
    Contact& anna = *std::next(book.contacts.begin(), 1);
    anna.name = u"Anna Berger-Roth";
    anna.state = Changed;
    std::next(book.contacts.begin(), 2)->state = Deleted;
    book.contacts.push_back(single(u"0", u"Gone", u"+1 555 0100", u"", Deleted));
    book.contacts.push_back(single(u"77", u"J\u00fcrgen", u"+49 40 555", u"", New));
    book.modified = true;

    sync();
    EXPECT_EQ(report_.title, text(74));
    EXPECT_EQ(status(), u"OK");
    auto expected = leading("update_address_book");
    expected.insert(expected.end(), {{"contacts[0][id]", toUtf8(annaId)},
                                     {"contacts[0][name]", "Anna Berger-Roth"},
                                     {"contacts[0][number]", "+49 30 1234567"},
                                     {"contacts[0][gsmnumber]", "+49 170 1234567"},
                                     {"contacts[1][id]", toUtf8(officeId)},
                                     {"contacts[2][id]", "0"},
                                     {"contacts[2][name]", "J\xc3\xbcrgen"},
                                     {"contacts[2][number]", "+49 40 555"}});
    EXPECT_EQ(body(2), form(expected));

    // The service's copy comes back whole.
    ASSERT_EQ(book.contacts.size(), 3u);
    EXPECT_EQ(at(0).groupname, u"Sales");
    EXPECT_EQ(at(1).id, annaId);
    EXPECT_EQ(at(1).name, u"Anna Berger-Roth");
    EXPECT_EQ(at(1).state, Synced);
    EXPECT_EQ(at(2).name, u"J\u00fcrgen");
    EXPECT_EQ(at(2).state, Synced);
    EXPECT_NE(at(2).id, u"0");
    EXPECT_NE(at(2).id, u"77");
    EXPECT_EQ(savedBook().contacts, book.contacts);

    // Still marked modified: the next sync is an update with nothing to send.
    EXPECT_TRUE(book.modified);
    sync();
    EXPECT_EQ(body(3), form(leading("update_address_book")));
    EXPECT_EQ(book.contacts.size(), 3u);
}

TEST_F(AddressBookTasksTest, GroupsOfAnImportOutliveSynchronisationAndCardsTheirNames) {
    startServer();
    sync();
    ContactBook& book = state_.contactBook;
    ImportVCards("BEGIN:VCARD\r\r\nFN:Berger\\, Anna\r\r\nTEL;TYPE=work,fax:+49 30 7001\r\r\n"
                 "TEL;TYPE=home,fax:+49 30 7002\r\r\nCATEGORIES:Praxen,Sales\r\r\nEND:VCARD\r\r\n"
                 "BEGIN:VCARD\nFN:Carl\nTEL;TYPE=fax:+49 30 7003\nCATEGORIES:Praxen\nEND:VCARD\n",
                 book);
    // A member whose contact the service will not return.
    book.contacts.front().members.push_back(u"+49 30 9999");
    book.modified = true;
    using Numbers = std::vector<std::u16string>;
    const std::map<std::u16string, Numbers> groups = {
        {u"Praxen", {u"+49 30 7001", u"+49 30 7002", u"+49 30 7003"}},
        {u"Sales", {u"+44 20 7946 0018", u"+44 20 7946 0029", u"+49 30 7001", u"+49 30 7002"}}};
    for (int round = 0; round < 2; ++round) {  // the update, then a sync with nothing to send
        SCOPED_TRACE(round);
        EXPECT_TRUE(sync().saved);
        EXPECT_EQ(book.groups, groups);
        EXPECT_EQ(at(0).groupname, u"Sales");
        EXPECT_EQ(at(0).members, groups.at(u"Sales"));
        EXPECT_EQ(at(1).groupname, u"Praxen");
        EXPECT_EQ(at(1).members, groups.at(u"Praxen"));
        EXPECT_EQ(book.contacts.size(), 2u + 5u);
    }
    const ContactBook saved = savedBook();
    EXPECT_EQ(saved.groups, groups);
    // The export still gives the name as the card wrote it.
    const std::string exported = WriteVCards(saved);
    EXPECT_NE(exported.find("FN:Berger\\, Anna (work)\r\nTEL;TYPE=fax,work:+49 30 7001"),
              std::string::npos)
        << exported;
}

TEST_F(AddressBookTasksTest, AFailedExchangeLeavesEveryLocalRecordAsItWas) {
    startServer({"--fault", "error:201,action=update_address_book", "--fault",
                 "close,action=get_address_book,count=1"});
    ContactBook& book = state_.contactBook;
    book.contacts.push_back(single(u"5", u"Kept", u"+33 1 000", u"", Synced));
    book.contacts.push_back(single(u"0", u"Unsent", u"+33 1 111", u"+33 6 1", New));
    book.modified = false;  // unsent records still call for an update
    const auto before = book.contacts;

    SyncMergeOutcome merged = sync(0);
    EXPECT_EQ(body(1).substr(0, form(leading("update_address_book")).size()),
              form(leading("update_address_book")));
    EXPECT_EQ(status(), text(94));
    EXPECT_FALSE(merged.replaced);
    EXPECT_TRUE(merged.saved);
    EXPECT_EQ(book.contacts, before);
    EXPECT_EQ(savedBook().contacts, before);

    // Connection dropped: no answer at all, which never reads as "OK".
    auto answer = std::make_shared<AddressBookAnswer>();
    EXPECT_EQ(run(fetchAddressBookTask(answer)), 0);
    EXPECT_EQ(status(), text(999));
    EXPECT_FALSE(answer->answer().has_value());
    EXPECT_FALSE(mergeAddressBookAnswer(paths_, *answer).replaced);
    EXPECT_EQ(book.contacts, before);

    // Refused credentials: the service's error, book untouched.
    state_.settings.password = u"wrong";
    answer = std::make_shared<AddressBookAnswer>();
    EXPECT_EQ(run(fetchAddressBookTask(answer)), 0);
    EXPECT_EQ(status(), text(84));
    EXPECT_FALSE(mergeAddressBookAnswer(paths_, *answer).replaced);
    EXPECT_EQ(book.contacts, before);
}

TEST_F(AddressBookTasksTest, GroupsComeFirstInDescendingNameOrderWithMembersInArrivalOrder) {
    const std::string user = "groups@miravo.test";
    auto contact = [&](const char* name, const char* number, const char* group) {
        std::vector<std::string> c = {"contact", "add", user, name, number};
        if (*group)
            c.insert(c.end(), {"--group", group});
        return c;
    };
    startServer({},
                {{"user", "add", user, "secret"},
                 contact("Solo", "100", ""),
                 contact("Bea", "201", "B"),
                 contact("Al", "301", "A"),
                 contact("Ben", "202", "B"),
                 contact("Last", "400", "")},
                user, "secret");
    state_.contactBook.contacts.push_back(single(u"9", u"Old", u"999", u"", Synced));

    EXPECT_TRUE(sync().replaced);
    const ContactBook& book = state_.contactBook;
    ASSERT_EQ(book.contacts.size(), 4u);
    EXPECT_EQ(at(0).groupname, u"B");
    EXPECT_EQ(at(0).members, (std::vector<std::u16string>{u"201", u"202"}));
    EXPECT_EQ(at(1).groupname, u"A");
    EXPECT_EQ(at(1).members, (std::vector<std::u16string>{u"301"}));
    EXPECT_EQ(at(0).kind, Group);
    EXPECT_EQ(at(1).kind, Group);
    EXPECT_EQ(at(2).name, u"Solo");
    EXPECT_EQ(at(3).name, u"Last");
    EXPECT_EQ(book.groups.size(), 2u);
    EXPECT_EQ(book.groups.at(u"B"), at(0).members);
    EXPECT_EQ(savedBook().contacts, book.contacts);
}

TEST_F(AddressBookTasksTest, ARequestThatCannotGoOutWholeIsNotSentAtAll) {
    startServer();
    ContactBook& book = state_.contactBook;

    // A value holding the form's delimiter would smuggle in fields.
    book.contacts.push_back(single(u"0", u"x----AaB03x", u"+1 555 0101", u"", New));
    book.modified = true;
    auto before = book.contacts;
    SyncMergeOutcome merged = sync(0);
    EXPECT_EQ(status(), text(79));
    EXPECT_FALSE(merged.replaced);
    EXPECT_EQ(book.contacts, before);

    // More changes than one request holds: none is left behind silently.
    book.contacts.clear();
    for (int i = 0; i < 3000; ++i)
        book.contacts.push_back(single(u"0", std::u16string(59, u'n'), u"+49 30 " + toU16(i),
                                       u"+49 170 " + toU16(i), New));
    before = book.contacts;
    merged = sync(0);
    EXPECT_EQ(status(), text(77));
    EXPECT_FALSE(merged.replaced);
    EXPECT_EQ(book.contacts, before);
    EXPECT_EQ(savedBook().contacts.size(), 3000u);

    EXPECT_FALSE(std::filesystem::exists(logged(1)));
}

TEST_F(AddressBookTasksTest, AnAnswerIsOnlyMergedOnceItsTaskHasEnded) {
    ContactBook& book = state_.contactBook;
    book.contacts.push_back(single(u"3", u"Here", u"123", u"", Synced));
    const auto before = book.contacts;
    AddressBookAnswer running;
    EXPECT_FALSE(mergeAddressBookAnswer(paths_, running).replaced);
    EXPECT_EQ(book.contacts, before);

    AddressBookAnswer ended;
    ended.finish(
        "<API_RESULT><GET_ADDRESS_BOOK><RESULT>0</RESULT></GET_ADDRESS_BOOK></API_RESULT>");
    EXPECT_TRUE(mergeAddressBookAnswer(paths_, ended).replaced);
    EXPECT_TRUE(book.contacts.empty());
    EXPECT_TRUE(savedBook().contacts.empty());
}

}  // namespace
}  // namespace miravo
