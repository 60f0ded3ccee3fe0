#include "contacts/CsvImport.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "app/ProfileIni.h"
#include "app/SettingsStore.h"
#include "contacts/MassFaxList.h"
#include "contacts/TextDecoding.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

using Rows = std::vector<std::u16string>;

TEST(CsvHeaderTest, SplitsTheFirstLineAtTheDelimiter) {
    EXPECT_EQ(SplitCsvHeader(u"a;b;c", u';'), (Rows{u"a", u"b", u"c"}));
    EXPECT_EQ(SplitCsvHeader(u"a;b;", u';'), (Rows{u"a", u"b"}));
    EXPECT_EQ(SplitCsvHeader(u"a;;b", u';'), (Rows{u"a", u"", u"b"}));
    EXPECT_EQ(SplitCsvHeader(u";a", u';'), (Rows{u"", u"a"}));
    EXPECT_EQ(SplitCsvHeader(u";", u';'), (Rows{u""}));
    EXPECT_EQ(SplitCsvHeader(u"a;;", u';'), (Rows{u"a", u""}));
    EXPECT_EQ(SplitCsvHeader(u"name,fax", u';'), (Rows{u"name,fax"}));
    EXPECT_EQ(SplitCsvHeader(u"Name\tFax\r\nAnn\t1", u'\t'), (Rows{u"Name", u"Fax"}));
    EXPECT_EQ(SplitCsvHeader(u"a,b\nc,d", u','), (Rows{u"a", u"b"}));
    EXPECT_EQ(SplitCsvHeader(u"a,b\rc,d", u','), (Rows{u"a", u"b"}));
}

TEST(CsvHeaderTest, QuotesToggleAndAreDropped) {
    EXPECT_EQ(SplitCsvHeader(u"\"Name; first\";Fax", u';'), (Rows{u"Name; first", u"Fax"}));
    EXPECT_EQ(SplitCsvHeader(u"a\"b;c\"d;e", u';'), (Rows{u"ab;cd", u"e"}));
    EXPECT_EQ(SplitCsvHeader(u"a;\"\"", u';'), (Rows{u"a", u""}));
    // An unclosed quote keeps the rest of the line in one field.
    EXPECT_EQ(SplitCsvHeader(u"\"a;b;c", u';'), (Rows{u"a;b;c"}));
    // A quote as delimiter never splits: quoting comes first.
    EXPECT_EQ(SplitCsvHeader(u"a\"b", u'"'), (Rows{u"ab"}));
}

TEST(CsvHeaderTest, NoLineGivesNoRows) {
    EXPECT_TRUE(SplitCsvHeader(u"", u',').empty());
    EXPECT_TRUE(SplitCsvHeader(u"\r\na,b", u',').empty());
    EXPECT_TRUE(SplitCsvHeader(u"\na,b", u',').empty());
}

TEST(CsvDelimiterTest, EmptyMeansCommaAndTheFirstCharacterCounts) {
    EXPECT_EQ(DelimiterSettingFromEdit(u""), u",");
    EXPECT_EQ(DelimiterSettingFromEdit(u"abcd"), u"abc");
    EXPECT_EQ(DelimiterSettingFromEdit(u"\t"), u"\t");
    EXPECT_EQ(DelimiterOf(u""), u',');
    EXPECT_EQ(DelimiterOf(u"|x"), u'|');
    EXPECT_TRUE(IsTabDelimiter(u"\t"));
    EXPECT_FALSE(IsTabDelimiter(u"TAB"));  // the settings store turns "TAB" into a tab
}

TEST(CsvDelimiterTest, TabSettingSplitsAtTabsAndTheChosenDelimiterIsStoredAgain) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "module");
    std::filesystem::create_directories(dir / "appdata");
    test::writeBytes(dir / "appdata" / "app_config.ini",
                     test::utf16le(u"[OPTIONS]\r\nDELIMITER=TAB\r\n"));
    SettingsLocation where;
    where.moduleFolder = dir.folder() + u"module/";
    where.appDataFolder = dir / "appdata";

    auto state = std::make_unique<AppState>();
    AppPaths paths;
    LoadSettings(paths, *state, where);
    ASSERT_TRUE(IsTabDelimiter(state->settings.delimiter));
    EXPECT_EQ(SplitCsvHeader(u"Name\tFax;x", DelimiterOf(state->settings.delimiter)),
              (Rows{u"Name", u"Fax;x"}));
    ASSERT_TRUE(SaveSettings(paths));
    EXPECT_EQ(ProfileFile::load(dir / "appdata" / "app_config.ini").value(u"OPTIONS", u"DELIMITER"),
              u"TAB");

    state->settings.delimiter = DelimiterSettingFromEdit(u";");
    ASSERT_TRUE(SaveSettings(paths));
    auto reloaded = std::make_unique<AppState>();
    AppPaths again;
    LoadSettings(again, *reloaded, where);
    EXPECT_EQ(DelimiterOf(reloaded->settings.delimiter), u';');
}

}  // namespace
}  // namespace miravo

namespace miravo {
namespace {

// CSV files as spreadsheets and address books write them: the bytes are
// decoded, the delimiter found, the number and name fields chosen (or
// guessed from the header), and what reaches the mass-fax list.
TEST(CsvFileTest, DelimitersQuotesEncodingsAndMultiValueCells) {
    using Entries = std::vector<CsvEntry>;
    const auto utf16 = [](std::u16string_view text, bool bigEndian, bool mark) {
        std::string out = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
        for (char16_t c : text) {
            const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
            out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
        }
        return out;
    };
    struct Case {
        const char* what;
        std::string bytes;
        char16_t delimiter;
        std::optional<CsvColumns> columns;  // nothing: as guessed from the header
        Entries entries;
    } cases[] = {
        {"comma", "Name,Fax\r\nAnn,+49 30 1\r\n", u',', {}, {{u"+49 30 1", u"Ann"}}},
        {"semicolon, quotes around the delimiter and a line break, doubled quotes",
         "Name;Fax\r\n\"Doe; John\nJr.\";\"+49 30 2\"\r\n\"Ann \"\"A\"\"\";3\r\n", u';', {},
         {{u"+49 30 2", u"Doe; John\nJr."}, {u"3", u"Ann \"A\""}}},
        {"tab, an empty line, a comma inside a field", "Name\tFax\n\nDoe, John\t4\n", u'\t', {},
         {{u"4", u"Doe, John"}}},
        {"UTF-8 with its mark", "\xEF\xBB\xBFName;Fax\nJürgen;5\n", u';', {}, {{u"5", u"Jürgen"}}},
        {"Windows-1252", "Name;Fax\r\nJ\xFCrgen M\xFCller;6\r\n", u';', {},
         {{u"6", u"Jürgen Müller"}}},
        {"UTF-16 little-endian with its mark", utf16(u"Name,Fax\r\nЮля,7\r\n", false, true), u',',
         {}, {{u"7", u"Юля"}}},
        {"UTF-16 big-endian without a mark", utf16(u"Name;Fax\nBo;8\n", true, false), u';', {},
         {{u"8", u"Bo"}}},
        {"an address book's multi-value cell",
         "Name,Group Membership,Phone 1 - Type,Phone 1 - Value\n"
         "Ann,* myContacts ::: Friends,Work Fax,+49 30 9 ::: +49 30 10\n",
         u',', CsvColumns{{4}, 1}, {{u"+49 30 9", u"Ann"}, {u"+49 30 10", u"Ann"}}},
        {"two number fields, one name field", "Fax work;Name;Fax home\n11;Ann;12\n;Bo;13\n", u';',
         {}, {{u"11", u"Ann"}, {u"12", u"Ann"}, {u"13", u"Bo"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::u16string text = DecodeText(c.bytes);
        EXPECT_EQ(DetectCsvDelimiter(text), c.delimiter);
        const std::vector<CsvRow> rows = ParseCsv(text, c.delimiter);
        ASSERT_FALSE(rows.empty());
        const CsvColumns columns = c.columns ? *c.columns : GuessCsvColumns(rows.front());
        EXPECT_EQ(CsvEntries(rows, columns), c.entries);

        // The mass-fax list takes each number once, with its name.
        MassFaxList list;
        EXPECT_EQ(AddCsvRows(list, text, c.delimiter, columns), c.entries.size());
        const std::vector<Recipient> recipients = list.recipients();
        for (std::size_t i = 0; i < recipients.size() && i < c.entries.size(); ++i) {
            EXPECT_EQ(recipients[i].number, c.entries[i].number);
            EXPECT_EQ(recipients[i].name, c.entries[i].name);
        }
    }
    // The preview reads only the rows it shows; an unclosed quote ends the text.
    EXPECT_EQ(ParseCsv(u"a,b\n1,2\n3,4\n", u',', 2).size(), 2u);
    EXPECT_EQ(ParseCsv(u"a,\"b\n1,2", u','), (std::vector<CsvRow>{{u"a", u"b\n1,2"}}));
}

}  // namespace
}  // namespace miravo
