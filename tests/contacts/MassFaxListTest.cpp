#include "contacts/MassFaxList.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "app/Paths.h"
#include "contacts/CsvImport.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

using Rows = std::vector<std::u16string>;
using test::TempDir;
using test::writeBytes;

MassFaxList listOf(std::initializer_list<std::u16string_view> numbers) {
    MassFaxList list;
    for (auto n : numbers)
        list.add(n);
    return list;
}

Contact groupOf(std::u16string name, Rows members) {
    Contact g = Contact::full(u"", u"", u"", u"", u"", std::move(name));
    g.members = std::move(members);
    return g;
}

// ---- The line rule ---------------------------------------------------------

TEST(MassFaxLineRuleTest, EveryLineEndWorksAndEmptyLinesAreSkipped) {
    MassFaxList list;
    EXPECT_EQ(list.addLines(u"111\r\n222\r\n\r\n333\r\n"), 3u);
    EXPECT_EQ(list.addLines(u"\n\n444\n555\r666\r\r777"), 4u);
    EXPECT_EQ(list.rows(), (Rows{u"111", u"222", u"333", u"444", u"555", u"666", u"777"}));
    EXPECT_EQ(list.addLines(u""), 0u);
    EXPECT_EQ(list.addLines(u"\r\n\r\n"), 0u);
}

TEST(MassFaxLineRuleTest, DuplicatesIgnoringLetterCaseAreSkippedAndNothingIsTrimmed) {
    MassFaxList list = listOf({u"fax-ABC"});
    EXPECT_EQ(list.addLines(u"FAX-abc\nfax-abc \n fax-abc\nCaf\u00E9\nCAF\u00C9\n\u00C4rger\n"
                            u"\u00E4RGER\n+49 (30) 1\n+49 (30) 1\n\U0001F4E0x\n\U0001F4E0X"),
              6u);
    EXPECT_EQ(list.rows(), (Rows{u"fax-ABC", u"fax-abc ", u" fax-abc", u"Caf\u00E9", u"\u00C4rger",
                                 u"+49 (30) 1", u"\U0001F4E0x"}));
    // Every line that found its number listed already is counted, to be said.
    EXPECT_EQ(list.merged(), 5u);
}

TEST(MassFaxLineRuleTest, FieldsAreCountedFromOneAndQuotesHideTheDelimiter) {
    MassFaxList list;
    EXPECT_EQ(list.addLines(u"\"Smith; John\";+49301\r\n"  // quoted delimiter
                            u"Ann;\"+49\"302;x\r\n"        // quotes dropped mid-field
                            u"only-one-field\r\n"          // missing field: skipped
                            u"Bob;;x\r\n"                  // empty field: skipped
                            u"\"a;b;c\";+49303;",          // trailing delimiter
                            2, u';'),
              3u);
    EXPECT_EQ(list.rows(), (Rows{u"+49301", u"+49302", u"+49303"}));

    EXPECT_EQ(LineField(u"a\tb\tc", 3, u'\t'), u"c");
    EXPECT_EQ(LineField(u"a\tb\tc", 4, u'\t'), u"");
    EXPECT_EQ(LineField(u"\"a,b\",c", 1, u','), u"a,b");
    EXPECT_EQ(LineField(u"\"unclosed,b,c", 2, u','), u"");
    EXPECT_EQ(LineField(u"x,\"y", 0, u','), u"x,\"y");
}

TEST(MassFaxLineRuleTest, CandidatesLongerThanANumberFieldAreSkippedNotCut) {
    const std::u16string longest(kMassFaxNumberLength, u'1');
    const std::u16string tooLong(kMassFaxNumberLength + 1, u'2');
    const std::u16string longLine = std::u16string(5000, u'x') + u";+49304";
    MassFaxList list;
    EXPECT_EQ(list.addLines(longest + u"\n" + tooLong + u"\n" + std::u16string(100000, u'3')), 1u);
    EXPECT_EQ(list.addLines(longLine, 2, u';'), 1u);
    EXPECT_EQ(list.rows(), (Rows{longest, u"+49304"}));
    EXPECT_FALSE(list.add(tooLong));
}

TEST(MassFaxLineRuleTest, RowsAreAlwaysDistinctNonEmptyNumbersOfOneLine) {
    std::mt19937 random(5);
    const std::u16string alphabet = u"\"\";;\r\n\naAbB1 ";
    MassFaxList list;
    for (int round = 0; round < 300; ++round) {
        std::u16string text;
        for (int i = 0, n = int(random() % 400); i < n; ++i)
            text.push_back(alphabet[random() % alphabet.size()]);
        list.addLines(text, random() % 4, u';');
    }
    std::set<std::u16string> seen;
    for (const std::u16string& row : list.rows()) {
        EXPECT_FALSE(row.empty());
        EXPECT_LE(row.size(), kMassFaxNumberLength);
        EXPECT_EQ(row.find_first_of(u"\r\n"), std::u16string::npos);
        EXPECT_TRUE(seen.insert(FoldLetterCase(row)).second) << test::pathOf(row);
    }
    EXPECT_GT(list.size(), 10u);
}

// ---- Typed numbers, contact-book records, deleting, OK ----------------------

TEST(MassFaxListTest, AddRefusesEmptyAndCaseOnlyDuplicatesButNotSpaceVariants) {
    MassFaxList list;
    EXPECT_FALSE(list.add(u""));
    EXPECT_TRUE(list.add(u"abc1"));
    EXPECT_FALSE(list.add(u"ABC1"));
    EXPECT_TRUE(list.add(u"abc1 "));
    EXPECT_TRUE(list.contains(u"Abc1"));
    EXPECT_FALSE(list.contains(u"abc"));
    EXPECT_EQ(list.size(), 2u);
}

TEST(MassFaxListTest, RecordsExpandGroupsAndAreNotCheckedForDuplicates) {
    MassFaxList list = listOf({u"1"});
    Contact contact = Contact::entry(u"5", u"Ann", u"1", u"");
    Contact noNumber = Contact::entry(u"6", u"Nobody", u"", u"");
    EXPECT_EQ(list.appendRecords({groupOf(u"[G]", {u"1", u"2", u"3", u""}), contact, noNumber,
                                  groupOf(u"Empty", {})}),
              4u);
    EXPECT_EQ(list.rows(), (Rows{u"1", u"1", u"2", u"3", u"1"}));
    // Rows that came from the contact book still count for the line rule.
    EXPECT_EQ(list.addLines(u"2\n3\n4"), 1u);
}

TEST(MassFaxListTest, DeletingARowFreesItsNumberOnlyWhenNoOtherRowHoldsIt) {
    MassFaxList list = listOf({u"a", u"b", u"c", u"d"});
    list.appendRecords({Contact::entry(u"0", u"", u"B", u"")});
    EXPECT_TRUE(list.remove(1));
    EXPECT_EQ(list.rows(), (Rows{u"a", u"c", u"d", u"B"}));
    EXPECT_FALSE(list.add(u"b"));  // "B" is still listed
    EXPECT_TRUE(list.remove(3));
    EXPECT_TRUE(list.add(u"b"));
    EXPECT_FALSE(list.remove(4));
    EXPECT_EQ(list.size(), 4u);
}

TEST(MassFaxListTest, OkMakesNamelessEntryFormRecipientsOfWholeNumbers) {
    EXPECT_TRUE(MassFaxList().recipients().empty());
    const std::u16string longest(kMassFaxNumberLength, u'9');
    const std::vector<Recipient> got = listOf({u"+49 30 1", longest}).recipients();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], Contact::entry(u"0", u"", u"+49 30 1", u""));
    EXPECT_EQ(got[0].kind, Single);
    EXPECT_EQ(got[0].state, Synced);
    EXPECT_EQ(got[0].groupid, u"0");
    EXPECT_EQ(got[1].number, longest);
}

// ---- Files -----------------------------------------------------------------

TEST(MassFaxFileTest, OnlyALowerCaseTxtAnywhereInThePathMakesAPlainList) {
    EXPECT_TRUE(IsPlainListPath(u"/home/a/list.txt"));
    EXPECT_TRUE(IsPlainListPath(u"/home/a.txt.d/numbers.csv"));
    EXPECT_FALSE(IsPlainListPath(u"/home/a/LIST.TXT"));
    EXPECT_FALSE(IsPlainListPath(u"/home/a/list.Txt"));
}

TEST(MassFaxFileTest, Utf16IsRecognisedByMarkOrLayoutButPlainTextNeverIs) {
    const auto le = [](const std::u16string& t) { return test::utf16le(t, false); };
    EXPECT_TRUE(LooksLikeUtf16(test::utf16le(u"1")));
    EXPECT_TRUE(LooksLikeUtf16("\xFE\xFF"));
    EXPECT_TRUE(LooksLikeUtf16(le(u"+4930111\r\n+4930222\r\n")));
    EXPECT_TRUE(LooksLikeUtf16(le(u"\u0416\u0416\u0416\n")));  // Cyrillic: no zero high bytes
    std::string be;
    for (char c : std::string("12345\n"))
        be += std::string(1, '\0') + c;
    EXPECT_TRUE(LooksLikeUtf16(be));
    // 8-bit texts, including the letter patterns that fool statistical tests.
    EXPECT_FALSE(LooksLikeUtf16("this app can break"));
    EXPECT_FALSE(LooksLikeUtf16("+4930111\r\n+4930222\r\n"));
    EXPECT_FALSE(
        LooksLikeUtf16("Stra\xDF"
                       "e;\xE4\xF6\n"));
    EXPECT_FALSE(LooksLikeUtf16(""));
    EXPECT_FALSE(LooksLikeUtf16("1"));
}

TEST(MassFaxFileTest, FilesAreReadClassifiedAndDecoded) {
    TempDir dir;
    writeBytes(dir / "list.txt", "\xEF\xBB\xBF+49 1\r\n+49 2\r\n");
    writeBytes(dir / "list.csv", "Name;Fax\nM\xFCller;+49 3\n");
    writeBytes(dir / "wide.txt", test::utf16le(u"+49 4\r\n"));
    writeBytes(dir / "nul.txt", std::string("+49 5\n\0+49 6\n", 13));

    const auto read = [&](const std::string& name) {
        const auto path = dir / name;
        return ReadMassFaxFile(path, FromFsPath(path));
    };
    MassFaxFile f = read("list.txt");
    EXPECT_EQ(f.kind, MassFaxFile::Kind::PlainList);
    EXPECT_EQ(f.text, u"+49 1\r\n+49 2\r\n");  // the UTF-8 mark is gone
    f = read("list.csv");
    EXPECT_EQ(f.kind, MassFaxFile::Kind::Csv);
    EXPECT_EQ(f.text, u"Name;Fax\nM\u00FCller;+49 3\n");  // Windows-1252
    f = read("wide.txt");  // UTF-16 is read; only one that holds zero characters is refused
    EXPECT_EQ(f.kind, MassFaxFile::Kind::PlainList);
    EXPECT_EQ(f.text, u"+49 4\r\n");
    writeBytes(dir / "binary.txt", test::utf16le(std::u16string(u"+49 4\0\x7F", 7)));
    f = read("binary.txt");
    EXPECT_EQ(f.kind, MassFaxFile::Kind::Unsupported);
    EXPECT_TRUE(f.text.empty());
    f = read("nul.txt");
    EXPECT_EQ(f.kind, MassFaxFile::Kind::PlainList);
    EXPECT_EQ(f.text, u"+49 5\n");
    EXPECT_EQ(read("missing.txt").kind, MassFaxFile::Kind::Unreadable);
    EXPECT_EQ(read("").kind, MassFaxFile::Kind::Unreadable);  // the folder itself
}

TEST(MassFaxFileTest, CsvImportSkipsTheHeaderAndReadsTheChosenField) {
    const std::u16string text = u"Name;Fax\r\n\"Smith; John\";+49 30 1\r\nAnn;+49 30 2\r\n";
    ASSERT_EQ(SplitCsvHeader(text, u';'), (Rows{u"Name", u"Fax"}));
    MassFaxList list;
    EXPECT_EQ(AddCsvData(list, text, std::nullopt, u";"), 0u);  // no field ticked
    EXPECT_EQ(AddCsvData(list, text, 2, u";"), 2u);
    EXPECT_EQ(list.rows(), (Rows{u"+49 30 1", u"+49 30 2"}));
    EXPECT_EQ(AddCsvData(list, u"Fax\r\n", 1, u";"), 0u);  // a header alone
    // An empty setting reads the lines split at "," as the header was shown.
    EXPECT_EQ(AddCsvData(list, u"Name,Fax\nAnn,+49 30 3\n", 2, u""), 1u);
    EXPECT_EQ(list.rows().back(), u"+49 30 3");

    // The header line never becomes a row, whatever its line end.
    EXPECT_EQ(CsvDataLines(u"Fax\r\n1\r\n"), u"1\r\n");
    EXPECT_EQ(CsvDataLines(u"Fax\n1"), u"1");
    EXPECT_EQ(CsvDataLines(u"Fax\r1\r2"), u"1\r2");
    EXPECT_EQ(CsvDataLines(u"Fax;Name"), u"");
    EXPECT_EQ(CsvDataLines(u"Fax\r\n"), u"");
    EXPECT_EQ(CsvDataLines(u"\n1"), u"1");
}

TEST(MassFaxFileTest, TheLastFolderIsKeptOnlyForPathsThatFit) {
    EXPECT_EQ(MassFaxFolderOf(u"/home/a/list.csv"), u"/home/a/");
    EXPECT_EQ(MassFaxFolderOf(u"list.csv"), u"");
    const std::u16string tooLong = u"/" + std::u16string(770, u'a');
    EXPECT_EQ(MassFaxFolderOf(tooLong), u"");
    EXPECT_EQ(MassFaxFolderOf(tooLong.substr(0, 770)), u"/");
}

}  // namespace
}  // namespace miravo
