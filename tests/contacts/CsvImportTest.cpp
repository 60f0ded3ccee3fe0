#include "contacts/CsvImport.h"

#include <gtest/gtest.h>

#include <memory>

#include "app/ProfileIni.h"
#include "app/SettingsStore.h"
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
