#include "contacts/ContactStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <vector>

#include "app/Paths.h"
#include "app/Text.h"
#include "contacts/MassFaxList.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

using test::fromUtf16le;
using test::readBytes;
using test::TempDir;
using test::utf16le;
using test::writeBytes;

Contact single(int state, std::u16string id, std::u16string name, std::u16string number,
               std::u16string gsm = u"", std::u16string groupid = u"0") {
    Contact c = Contact::full(std::move(id), std::move(name), std::move(number), std::move(gsm),
                              std::move(groupid), u"");
    c.kind = Single;
    c.state = state;
    return c;
}

Contact group(std::u16string name, std::vector<std::u16string> members) {
    Contact c = Contact::full(u"", u"", u"", u"", u"", std::move(name));
    c.members = std::move(members);
    return c;
}

ContactBook bookOf(std::vector<Contact> records) {
    ContactBook book;
    for (auto& r : records)
        book.contacts.push_back(std::move(r));
    return book;
}

ContactBook loadText(const std::u16string& text) {
    ContactBook book;
    ParseContactFile(text, book);
    return book;
}

std::vector<Contact> records(const ContactBook& book) {
    return {book.contacts.begin(), book.contacts.end()};
}

// ---- Saving and loading back -------------------------------------------

TEST(ContactStoreTest, FileHoldsTheDocumentedLines) {
    TempDir dir;
    const auto path = dir / "contacts.csv";
    const ContactBook book =
        bookOf({single(New, u"0", u"Ann", u"N"), group(u"Sales", {u"M1", u"M2"}),
                single(New, u"0", u"", u"+49 30 1234")});
    ASSERT_TRUE(SaveContactBook(book, path));
    EXPECT_EQ(readBytes(path), utf16le(u"0,0,0,Ann,N,,0,\r\n"
                                       u"1,1,,,,,,Sales,M1,M2\r\n"
                                       u"0,0,0,,+49 30 1234,,0,\r\n"));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(ContactStoreTest, EveryStateGroupAndCharacterSurvivesARoundTrip) {
    TempDir dir;
    const auto path = dir / "contacts.csv";
    // Anything but "," and line breaks: quotes, semicolons, tabs, NUL,
    // a lone surrogate, characters beyond the BMP, other separators.
    const std::u16string odd = std::u16string(u"\"q\";\tx\0y", 8) + u"\U0001F4E0\u2028\u00E9" +
                               std::u16string(1, char16_t(0xD800)) + u"\x7F\\";
    ContactBook book = bookOf({
        single(New, u"0", u"Ann", u"1"),
        single(Synced, u"17", u"", u"2", u"+491701", u"5"),
        single(Changed, u"18", odd, odd, odd, odd),
        single(Deleted, u"19", u"Del", u"4"),
        group(u"Sales", {u"M1", u"", u"M3"}),
        group(u"Empty", {}),
        group(odd, {odd}),
    });
    ASSERT_TRUE(SaveContactBook(book, path));

    ContactBook loaded;
    loaded.groups[u"stale"] = {u"x"};
    EXPECT_EQ(LoadContactBook(loaded, path), ContactFileRead::Loaded);
    EXPECT_EQ(records(loaded), records(book));
    const std::map<std::u16string, std::vector<std::u16string>> groups = {
        {u"Sales", {u"M1", u"", u"M3"}}, {u"Empty", {}}, {odd, {odd}}};
    EXPECT_EQ(loaded.groups, groups);

    // Saving what was loaded gives the same bytes again.
    const std::string first = readBytes(path);
    ASSERT_TRUE(SaveContactBook(loaded, path));
    EXPECT_EQ(readBytes(path), first);
}

TEST(ContactStoreTest, GroupLinesOfAnyLengthKeepEveryMemberAndTheRecordsAfterThem) {
    TempDir dir;
    const auto path = dir / "contacts.csv";
    std::vector<std::u16string> members;
    for (int i = 0; i < 2000; ++i)
        members.push_back(u"+4930" + std::u16string(6, char16_t(u'0' + i % 10)) + toU16(i));
    const ContactBook book = bookOf({single(Synced, u"1", u"Before", u"11"), group(u"Big", members),
                                     single(Synced, u"2", u"After", u"22")});
    ASSERT_GT(FormatContactFile(book).size(), 20000u);
    ASSERT_TRUE(SaveContactBook(book, path));
    ContactBook loaded;
    LoadContactBook(loaded, path);
    EXPECT_EQ(records(loaded), records(book));
    EXPECT_EQ(loaded.groups.at(u"Big").size(), 2000u);
}

TEST(ContactStoreTest, WhateverLoadsSavesBackUnchanged) {
    std::mt19937 random(6);
    const std::u16string alphabet = u",,,\n\r\uFEFF01a -";
    for (int round = 0; round < 300; ++round) {
        std::u16string text;
        for (int i = 0, n = int(random() % 120); i < n; ++i)
            text.push_back(alphabet[random() % alphabet.size()]);
        const ContactBook first = loadText(text);
        const ContactBook second = loadText(FormatContactFile(first));
        ASSERT_EQ(records(second), records(first)) << test::pathOf(text);
        ASSERT_EQ(second.groups, first.groups);
    }
}

// ---- Fields the format cannot hold --------------------------------------

TEST(ContactStoreTest, StorableFieldsExcludeCommasLineBreaksAndByteOrderMarks) {
    EXPECT_TRUE(ContactFieldIsStorable(u""));
    EXPECT_TRUE(ContactFieldIsStorable(u"Smith; John \"Jr\"\t\u201A"));
    for (const std::u16string_view bad : {u"a,b", u"a\rb", u"a\nb", u"\uFEFFa", u","}) {
        EXPECT_FALSE(ContactFieldIsStorable(bad)) << test::pathOf(std::u16string(bad));
    }
    Contact c = single(New, u"0", u"Ann", u"1");
    EXPECT_TRUE(ContactIsStorable(c));
    c.gsmnumber = u"1,2";
    EXPECT_FALSE(ContactIsStorable(c));
    Contact g = group(u"G", {u"1", u"2\n"});
    EXPECT_FALSE(ContactIsStorable(g));

    EXPECT_EQ(StorableContactField(u"Smith, John\r\nLine\rTwo\nThree\uFEFF"),
              u"Smith\u201A John Line Two Three");
    EXPECT_EQ(StorableContactField(u"plain"), u"plain");
}

TEST(ContactStoreTest, UnstorableFieldsAreNeutralisedAndNeverSplitARecord) {
    TempDir dir;
    const auto path = dir / "contacts.csv";
    const ContactBook book = bookOf({
        single(Synced, u"1", u"Smith, John", u"1\r\n2,3,4,5,6,7,8,9", u"\uFEFF7"),
        group(u"Team, A", {u"5,6", u"7\n8"}),
        single(New, u"0", u"Last", u"9"),
    });
    ASSERT_TRUE(SaveContactBook(book, path));
    ContactBook loaded;
    LoadContactBook(loaded, path);
    const std::vector<Contact> got = records(loaded);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].name, u"Smith\u201A John");
    EXPECT_EQ(got[0].number, u"1 2\u201A3\u201A4\u201A5\u201A6\u201A7\u201A8\u201A9");
    EXPECT_EQ(got[0].gsmnumber, u"7");
    EXPECT_EQ(got[0].groupid, u"0");
    EXPECT_EQ(got[1].groupname, u"Team\u201A A");
    EXPECT_EQ(got[1].members, (std::vector<std::u16string>{u"5\u201A6", u"7 8"}));
    EXPECT_EQ(got[2], book.contacts.back());
}

// ---- The loader's rules -------------------------------------------------

TEST(ContactStoreTest, LoaderSplitsFieldsAndReadsNumbersAsStrtolDoes) {
    const ContactBook book = loadText(
        u"1,1,,,,,,G,a,\n"               // trailing comma: empty last member
        u"2,0,5,N,7,,0,,extra,fields\n"  // a single keeps eight fields
        u" +3x,-1junk,6,M,8,,0,\n"       // numbers read like strtol
        u"abc,,7,O,9,,0,\n"              // no digits read as 0
        u"1,1,,,,,,G,first-wins\n"       // second group of the same name
        u"1,1,,,,,\n"                    // seven fields: skipped
        u"\n"                            // empty line: skipped
        u"1,0,8,Tail,0,,0,\n");
    const std::vector<Contact> got = records(book);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].kind, Group);
    EXPECT_EQ(got[0].members, (std::vector<std::u16string>{u"a", u""}));
    EXPECT_EQ(got[1].state, Changed);
    EXPECT_EQ(got[1].kind, Single);
    EXPECT_EQ(got[1].groupname, u"");
    EXPECT_TRUE(got[1].members.empty());
    EXPECT_EQ(got[2].state, 3);
    EXPECT_EQ(got[2].kind, -1);
    EXPECT_EQ(got[3].state, 0);
    EXPECT_EQ(got[3].kind, 0);
    EXPECT_EQ(got[4].members, (std::vector<std::u16string>{u"first-wins"}));
    EXPECT_EQ(got[5].name, u"Tail");
    ASSERT_EQ(book.groups.size(), 1u);
    EXPECT_EQ(book.groups.at(u"G"), (std::vector<std::u16string>{u"a", u""}));
}

TEST(ContactStoreTest, LoaderDropsMarksAndCarriageReturnsAndIgnoresAnUnfinishedLine) {
    const ContactBook book = loadText(u"\uFEFF1,0,4\uFEFF2,A\rnn,1\r\r,,0,\r\n1,0,9,Cut,9,,0,");
    ASSERT_EQ(book.contacts.size(), 1u);
    EXPECT_EQ(book.contacts.front().id, u"42");
    EXPECT_EQ(book.contacts.front().name, u"Ann");
}

TEST(ContactStoreTest, MissingEmptyOrUnreadableFilesGiveAnEmptyBook) {
    TempDir dir;
    ContactBook book = bookOf({single(Synced, u"1", u"x", u"1")});
    book.groups[u"g"] = {u"1"};
    book.modified = true;
    EXPECT_EQ(LoadContactBook(book, dir / "none.csv"), ContactFileRead::Missing);
    EXPECT_TRUE(book.contacts.empty());
    EXPECT_TRUE(book.groups.empty());
    EXPECT_TRUE(book.modified);

    for (const std::string& bytes :
         {std::string(), std::string("\xFF\xFE"), std::string("\xFF\xFE\x31", 3)}) {
        writeBytes(dir / "c.csv", bytes);
        book.contacts.push_back(single(Synced, u"1", u"x", u"1"));
        EXPECT_EQ(LoadContactBook(book, dir / "c.csv"), ContactFileRead::Loaded);
        EXPECT_TRUE(book.contacts.empty());
    }

    std::filesystem::create_directory(dir / "folder.csv");
    book.contacts.push_back(single(Synced, u"1", u"x", u"1"));
    EXPECT_EQ(LoadContactBook(book, dir / "folder.csv"), ContactFileRead::Unreadable);
    EXPECT_TRUE(book.contacts.empty());
}

TEST(ContactStoreTest, LoaderReadsRawLittleEndianPairsAndIgnoresAnOddLastByte) {
    TempDir dir;
    // "1,0,1,<U+0A0D>,2,,0,\n" plus a stray byte: 0D 0A as one code unit is
    // a character, not a line break.
    std::string bytes =
        utf16le(u"1,0,1,") + std::string("\x0D\x0A", 2) + utf16le(u",2,,0,\n", false) + "Z";
    writeBytes(dir / "c.csv", bytes);
    ContactBook book;
    LoadContactBook(book, dir / "c.csv");
    ASSERT_EQ(book.contacts.size(), 1u);
    EXPECT_EQ(book.contacts.front().name, std::u16string(1, char16_t(0x0A0D)));
}

// ---- Replacing the file ------------------------------------------------

TEST(ContactStoreTest, AFailedSaveLeavesWhatWasThere) {
    TempDir dir;
    const ContactBook book = bookOf({single(New, u"0", u"Ann", u"1")});
    // The target is a folder with content: the rename cannot replace it.
    std::filesystem::create_directory(dir / "contacts.csv");
    writeBytes(dir / "contacts.csv" / "keep", "k");
    EXPECT_FALSE(SaveContactBook(book, dir / "contacts.csv"));
    EXPECT_EQ(readBytes(dir / "contacts.csv" / "keep"), "k");
    // Neither is a FIFO replaced, nor does reading one wait for a writer.
    ASSERT_EQ(::mkfifo((dir / "fifo.csv").c_str(), 0600), 0);
    EXPECT_FALSE(SaveContactBook(book, dir / "fifo.csv"));
    ContactBook loaded;
    EXPECT_EQ(LoadContactBook(loaded, dir / "fifo.csv"), ContactFileRead::Unreadable);
    EXPECT_EQ(ReadMassFaxFile(dir / "fifo.csv", u"fifo.txt").kind, MassFaxFile::Kind::Unreadable);
    EXPECT_FALSE(SaveContactBook(book, dir / "no-folder" / "contacts.csv"));
    EXPECT_FALSE(SaveContactBook(book, std::filesystem::path()));
    // No temporary files are left behind.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 2u);
}

TEST(ContactStoreTest, AFileThatDidNotLoadWholeIsKeptAsideOnceBeforeTheSave) {
    const std::u16string good = u"1,0,7,Ann,1,,0,\r\n";
    std::string utf16be = "\xFE\xFF";
    for (char16_t c : good)
        utf16be += {char(c >> 8), char(c & 0xFF)};
    const std::string damaged[] = {
        "\xEF\xBB\xBF" + toUtf8(good),                       // UTF-8 with its mark
        utf16be,                                              // UTF-16BE
        utf16le(u"1,0,7,Ann,1,,0,\r1,0,8,Bo,2,,0,\r"),         // CR-only line ends
        utf16le(good + u"1,0,8,Bo\r\n"),                      // a line that was skipped
    };
    const ContactBook book = bookOf({single(Synced, u"9", u"New", u"9")});
    for (const std::string& bytes : damaged) {
        TempDir dir;
        writeBytes(dir / "contacts.csv", bytes);
        ContactBook loaded;
        EXPECT_EQ(LoadContactBook(loaded, dir / "contacts.csv"), ContactFileRead::Damaged);
        std::filesystem::path aside;
        ASSERT_TRUE(SaveContactBook(book, dir / "contacts.csv", &aside));
        ASSERT_FALSE(aside.empty());
        EXPECT_EQ(aside.parent_path(), dir.path());
        EXPECT_EQ(aside.filename().string().rfind("contacts.csv.unreadable-", 0), 0u);
        EXPECT_EQ(readBytes(aside), bytes);
        EXPECT_NE(ContactFileKeptAsideMessage(aside).find(FromFsPath(aside)),
                  std::u16string::npos);
        // The new file loads whole: the next save keeps nothing aside.
        std::filesystem::path again;
        ASSERT_TRUE(SaveContactBook(book, dir / "contacts.csv", &again));
        EXPECT_TRUE(again.empty());
    }
    TempDir dir;
    writeBytes(dir / "contacts.csv", utf16le(good));
    std::filesystem::path aside;
    ASSERT_TRUE(SaveContactBook(book, dir / "contacts.csv", &aside));
    EXPECT_TRUE(aside.empty());
}

TEST(ContactStoreTest, BookMembersUseTheApplicationDataFolder) {
    TempDir dir;
    OverrideApplicationDataFolder(dir.folder().substr(0, dir.folder().size() - 1));
    ContactBook book = bookOf({single(Synced, u"3", u"Cy", u"33")});
    EXPECT_TRUE(book.save());
    EXPECT_EQ(fromUtf16le(readBytes(dir / "contacts.csv")), u"1,0,3,Cy,33,,0,\r\n");
    ContactBook loaded;
    loaded.load();
    EXPECT_EQ(records(loaded), records(book));
    OverrideApplicationDataFolder(std::nullopt);
}

}  // namespace
}  // namespace miravo
