#include "app/LanguageTable.h"

#include <atomic>
#include <set>
#include <thread>

#include "app/ProfileIni.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

using test::TempDir;

// Writes a language file as the program ships it: UTF-16LE with BOM, CR LF.
std::u16string writeLanguageFile(const TempDir& dir, const std::string& name,
                                 const std::u16string& text) {
    std::u16string crlf;
    for (char16_t c : text) {
        if (c == u'\n')
            crlf += u'\r';
        crlf += c;
    }
    test::writeBytes(dir / name, test::utf16le(crlf));
    return fromUtf8((dir / name).string());
}

std::u16string hexOf(std::u16string_view text) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    std::u16string out;
    for (char16_t c : text) {
        const unsigned low = c & 0xFF, high = c >> 8;
        out += {digits[low >> 4], digits[low & 15], digits[high >> 4], digits[high & 15]};
    }
    return out;
}

// ---------------------------------------------------------------- hex form

TEST(HexForm, OnlyCapitalHexDigitsQualify) {
    EXPECT_TRUE(IsHexForm(u""));
    EXPECT_TRUE(IsHexForm(u"0123456789ABCDEF"));
    EXPECT_FALSE(IsHexForm(u"4100a"));
    EXPECT_FALSE(IsHexForm(u"41 00"));
    EXPECT_FALSE(IsHexForm(u"Close"));
    EXPECT_FALSE(IsHexForm(u"410G"));
}

TEST(HexForm, GroupsOfFourAreCodeUnitsLowByteFirst) {
    EXPECT_EQ(DecodeHexForm(u"4100"), u"A");
    EXPECT_EQ(DecodeHexForm(u"1004"), u"\u0410");
    EXPECT_EQ(DecodeHexForm(u"3DD800DE"), u"\U0001F600");  // a surrogate pair
    EXPECT_EQ(DecodeHexForm(u""), u"");
}

TEST(HexForm, ShortTrailingGroupIsDropped) {
    EXPECT_EQ(DecodeHexForm(u"4100420043"), u"AB");  // ten digits: two characters
    EXPECT_EQ(DecodeHexForm(u"410"), u"");
}

TEST(HexForm, TextEndsAtNulGroupAndNonHexStaysAsItIs) {
    EXPECT_EQ(DecodeHexForm(u"410000004200"), u"A");
    EXPECT_EQ(DecodeHexForm(u"4100abcd"), u"4100abcd");
}

// -------------------------------------------------------------- formatting

TEST(FormatText, FillsConversionsInOrder) {
    EXPECT_EQ(FormatText(u"%s has %d pages", {u"Report", 3}), u"Report has 3 pages");
    EXPECT_EQ(FormatText(u"%05d|%-4d|%+d|%x|%X|%o|%u", {42, 42, 42, 255, 255, 8, 7}),
              u"00042|42  |+42|ff|FF|10|7");
    EXPECT_EQ(FormatText(u"[%.3s][%5s][%-5s]", {u"abcdef", u"ab", u"ab"}), u"[abc][   ab][ab   ]");
    EXPECT_EQ(FormatText(u"%ld %lld %hd %zu %i", {1, 2, 3, 4, 5}), u"1 2 3 4 5");
    EXPECT_EQ(FormatText(u"100%% of %s", {u"x"}), u"100% of x");
    EXPECT_EQ(FormatText(u"%%", {}), u"%");
    EXPECT_EQ(FormatText(u"{} {0} %d", {1}), u"{} {0} 1");  // braces are plain text here
}

TEST(FormatText, KeepsNonAsciiTextInFormatAndArguments) {
    EXPECT_EQ(FormatText(u"Документ «%s»: %d", {u"Отчёт", 2}), u"Документ «Отчёт»: 2");
    EXPECT_EQ(FormatText(u"[%.2s]", {u"Жук"}), u"[Жу]");
}

TEST(FormatText, CharacterConversionTakesCodePoint) {
    EXPECT_EQ(FormatText(u"a%cb%c", {32, 10}), u"a b\n");
    EXPECT_EQ(FormatText(u"%c", {0x416}), u"Ж");
    EXPECT_EQ(FormatText(u"%c", {0x1F600}), u"\U0001F600");
}

TEST(FormatText, PositionalArgumentsAndStarWidths) {
    EXPECT_EQ(FormatText(u"%2$s %1$s %2$s", {u"a", u"b"}), u"b a b");
    EXPECT_EQ(FormatText(u"[%*d]", {5, 42}), u"[   42]");
    EXPECT_EQ(FormatText(u"[%*d]", {-5, 42}), u"[42   ]");
    EXPECT_EQ(FormatText(u"[%.*s]", {2, u"abc"}), u"[ab]");
    EXPECT_EQ(FormatText(u"[%.*s]", {-1, u"abc"}), u"[abc]");  // negative: no precision
    EXPECT_EQ(FormatText(u"[%1$*2$d]", {7, 3}), u"[  7]");
}

TEST(FormatText, IntegerForTextConversionPrintsTheNumber) {
    EXPECT_EQ(FormatText(u"%s members", {12}), u"12 members");
    EXPECT_EQ(FormatText(u"%s", {-3}), u"-3");
}

TEST(FormatText, ExtraArgumentsAreIgnored) {
    EXPECT_EQ(FormatText(u"only %s", {u"one", 2, u"three"}), u"only one");
    EXPECT_EQ(FormatText(u"none", {1}), u"none");
}

// Every format a hostile or careless language file could hold: none may
// crash, read a wrong argument or format partly; each comes back raw.
TEST(FormatText, MismatchesGiveTheRawText) {
    struct Case {
        std::u16string format;
        std::vector<TextArg> args;
    };
    const std::vector<Case> cases = {
        {u"%d", {u"text"}},
        {u"%i", {u"text"}},
        {u"%u", {u"text"}},
        {u"%x", {u"text"}},
        {u"%c", {u"text"}},
        {u"%*d", {u"text", 1}},
        {u"%n", {1}},
        {u"%hn", {1}},
        {u"%n", {u"text"}},
        {u"%p", {1}},
        {u"%f", {1}},
        {u"%e", {1}},
        {u"%g", {1}},
        {u"%a", {1}},
        {u"%S", {u"text"}},
        {u"%C", {1}},
        {u"%q", {1}},
        {u"%I64d", {1}},
        {u"%'d", {1}},
        {u"%", {1}},
        {u"abc%", {1}},
        {u"%5", {1}},
        {u"%-", {1}},
        {u"%l", {1}},
        {u"%5%", {}},
        {u"%d", {}},
        {u"%s", {}},
        {u"%s %s %s", {u"one", u"two"}},
        {u"%d and %d", {1}},
        {u"%999999999d", {1}},
        {u"%99999999999999999999d", {1}},
        {u"%4096d", {1}},
        {u"%.999999999d", {1}},
        {u"%.4096s", {u"x"}},
        {u"%*d", {1000000000, 1}},
        {u"%*d", {-1000000000, 1}},
        {u"%.*d", {99999999, 1}},
        {u"%1$s %s", {u"a", u"b"}},
        {u"%s %1$s", {u"a", u"b"}},
        {u"%0$d", {1}},
        {u"%3$s", {u"a", u"b"}},
        {u"%-1$s", {u"a"}},
        {u"%c", {0}},
        {u"%c", {0xD800}},
        {u"%c", {0x110000}},
        {u"%c", {-1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.format));
        EXPECT_EQ(FormatText(c.format, c.args), c.format);
        EXPECT_FALSE(FormatAccepts(c.format, c.args));
    }
}

TEST(FormatText, LargestWidthIsStillFormatted) {
    const std::u16string text = FormatText(u"%4095d", {7});
    ASSERT_EQ(text.size(), 4095u);
    EXPECT_EQ(text.back(), u'7');
    EXPECT_EQ(text.front(), u' ');
}

TEST(FormatText, ResultAndRawTextAreCutTo4095Characters) {
    const std::u16string big(5000, u'x');
    EXPECT_EQ(FormatText(u"%s", {big}).size(), 4095u);
    EXPECT_EQ(FormatText(big, {}).size(), 4095u);
    EXPECT_EQ(FormatText(big + u"%d", {u"mismatch"}).size(), 4095u);

    // A pair that would be split by the cut goes as a whole.
    const std::u16string pairAtEnd = std::u16string(4094, u'y') + u"\U0001F600";
    const std::u16string cut = FormatText(u"%s", {pairAtEnd});
    EXPECT_EQ(cut, std::u16string(4094, u'y'));
}

TEST(FormatText, TextWithoutConversionsIsKeptExactly) {
    const std::u16string lone = u"a\xD800z";  // a lone surrogate survives untouched
    EXPECT_EQ(FormatText(lone, {}), lone);
}

// --------------------------------------------------------- loading a table

class LanguageFile : public ::testing::Test {
  protected:
    std::u16string write(const std::u16string& text, const std::string& name = "lang.ini") {
        return writeLanguageFile(dir_, name, text);
    }

    TempDir dir_;
    LanguageTable table_;
};

TEST_F(LanguageFile, LoadsCodeNameAndPath) {
    const auto path = write(u"[en]\nlang=English\n1=Close\n[de]\nlang=Deutsch\n1=Schließen\n");
    ASSERT_EQ(LoadLanguage(table_, path, u"de"), 1);
    EXPECT_TRUE(table_.loaded());
    EXPECT_EQ(LanguageCode(table_), u"de");
    EXPECT_EQ(LanguageName(table_), u"Deutsch");
    EXPECT_EQ(table_.filePath(), path);
    EXPECT_EQ(GetText(table_, 1), u"Schließen");
}

TEST_F(LanguageFile, EmptyCodeMeansEnglish) {
    const auto path = write(u"[de]\nlang=Deutsch\n[en]\nlang=English\n");
    ASSERT_EQ(LoadLanguage(table_, path, u""), 1);
    EXPECT_EQ(LanguageCode(table_), u"en");
    EXPECT_EQ(LanguageName(table_), u"English");
}

TEST_F(LanguageFile, MissingFileFailsAndLeavesTableAsItWas) {
    EXPECT_EQ(LoadLanguage(table_, fromUtf8((dir_ / "none.ini").string()), u"en"), 0);
    EXPECT_FALSE(table_.loaded());
    EXPECT_EQ(GetText(table_, 1), u"");
    EXPECT_EQ(LanguageCode(table_), u"");
    EXPECT_EQ(LanguageName(table_), u"");

    const auto path = write(u"[en]\nlang=English\n1=Close\n");
    ASSERT_EQ(LoadLanguage(table_, path, u"en"), 1);
    EXPECT_EQ(LoadLanguage(table_, fromUtf8((dir_ / "none.ini").string()), u"de"), 0);
    EXPECT_EQ(LanguageCode(table_), u"en");
    EXPECT_EQ(table_.filePath(), path);
    EXPECT_EQ(GetText(table_, 1), u"Close");
    EXPECT_EQ(LoadLanguage(table_, u"", u"en"), 0);
    EXPECT_EQ(GetText(table_, 1), u"Close");
}

TEST_F(LanguageFile, DisplayNameFallsBackToEnglishSection) {
    const auto path = write(u"[en]\nlang=English\n57=Converting\n[fr]\n57=Conversion\n");
    ASSERT_EQ(LoadLanguage(table_, path, u"fr"), 1);
    EXPECT_EQ(LanguageCode(table_), u"fr");
    EXPECT_EQ(LanguageName(table_), u"English");
    EXPECT_EQ(GetText(table_, 57), u"Conversion");

    // A code without a section still loads; every text then comes from "en".
    ASSERT_EQ(LoadLanguage(table_, path, u"xx"), 1);
    EXPECT_EQ(GetText(table_, 57), u"Converting");
}

TEST_F(LanguageFile, NoDisplayNameAnywhereFails) {
    const auto good = write(u"[en]\nlang=English\n1=Close\n", "good.ini");
    const auto nameless = write(u"[en]\n1=Close\n[de]\nlang=\n1=Schließen\n", "nameless.ini");
    ASSERT_EQ(LoadLanguage(table_, good, u"en"), 1);
    EXPECT_EQ(LoadLanguage(table_, nameless, u"de"), 0);
    EXPECT_EQ(table_.filePath(), good);
    EXPECT_EQ(GetText(table_, 1), u"Close");

    // A hex name that decodes to nothing cannot be listed either.
    const auto shortHex = write(u"[en]\nlang=12\n", "short.ini");
    EXPECT_EQ(LoadLanguage(table_, shortHex, u"en"), 0);
    EXPECT_EQ(table_.filePath(), good);
}

TEST_F(LanguageFile, DisplayNameIsDecodedAndCutTo84Characters) {
    const std::u16string russian = u"Русский";
    const std::u16string long90(90, u'n');
    const std::u16string cyr90(90, u'Ж');
    const auto path = write(u"[en]\nlang=English\n[ru]\nlang=" + hexOf(russian) + u"\n[xl]\nlang=" +
                            long90 + u"\n[xh]\nlang=" + hexOf(cyr90) + u"\n[x84]\nlang=" +
                            hexOf(std::u16string(84, u'Ж')) + u"\n");
    ASSERT_EQ(LoadLanguage(table_, path, u"ru"), 1);
    EXPECT_EQ(LanguageName(table_), russian);
    ASSERT_EQ(LoadLanguage(table_, path, u"xl"), 1);
    EXPECT_EQ(LanguageName(table_), std::u16string(84, u'n'));
    ASSERT_EQ(LoadLanguage(table_, path, u"xh"), 1);
    EXPECT_EQ(LanguageName(table_), std::u16string(84, u'Ж'));
    ASSERT_EQ(LoadLanguage(table_, path, u"x84"), 1);
    EXPECT_EQ(LanguageName(table_), std::u16string(84, u'Ж'));
}

TEST_F(LanguageFile, CodeLongerThanItsFieldIsRefused) {
    const std::u16string code85(85, u'c');
    const std::u16string code84(84, u'c');
    const auto path =
        write(u"[en]\nlang=English\n[" + code85 + u"]\nlang=Long\n[" + code84 + u"]\nlang=Fits\n");
    EXPECT_EQ(LoadLanguage(table_, path, code85), 0);
    EXPECT_FALSE(table_.loaded());
    ASSERT_EQ(LoadLanguage(table_, path, code84), 1);
    EXPECT_EQ(LanguageName(table_), u"Fits");
}

// ---------------------------------------------------------------- lookups

TEST_F(LanguageFile, MissingOrEmptyKeyFallsBackToEnglish) {
    const auto path = write(
        u"[en]\nlang=English\n57=Converting\n58=Please wait\n59=Account\n"
        u"[de]\nlang=Deutsch\n58=\n59=Konto\n");
    ASSERT_EQ(LoadLanguage(table_, path, u"de"), 1);
    EXPECT_EQ(GetText(table_, 57), u"Converting");   // key missing in "de"
    EXPECT_EQ(GetText(table_, 58), u"Please wait");  // key empty in "de"
    EXPECT_EQ(GetText(table_, 59), u"Konto");
    EXPECT_EQ(GetText(table_, 60), u"");  // missing in both
    EXPECT_EQ(GetText(table_, -1), u"");
}

TEST_F(LanguageFile, SectionsAndKeysMatchIgnoringCase) {
    const auto path = write(u"[EN]\nLANG=English\n[De]\nlang=Deutsch\n12=Status\n");
    ASSERT_EQ(LoadLanguage(table_, path, u"dE"), 1);
    EXPECT_EQ(GetText(table_, 12), u"Status");
}

TEST_F(LanguageFile, HexValuesAreDecodedAndLowerCaseHexIsShownAsItIs) {
    const auto path = write(u"[en]\nlang=English\n1=4100420043\n2=" + hexOf(u"Отправить") +
                            u"\n3=4100b200\n4=" + hexOf(u"%d шт.") + u"\n5=\n6=abc\n");
    ASSERT_EQ(LoadLanguage(table_, path, u"en"), 1);
    EXPECT_EQ(GetText(table_, 1), u"AB");
    EXPECT_EQ(GetText(table_, 2), u"Отправить");
    EXPECT_EQ(GetText(table_, 3), u"4100b200");
    EXPECT_EQ(GetText(table_, 4, 7), u"7 шт.");  // decoded, then formatted
    EXPECT_EQ(GetText(table_, 5), u"");
    EXPECT_EQ(GetText(table_, 6), u"abc");
}

TEST_F(LanguageFile, ValuesAreReadUpTo4095Characters) {
    const auto path = write(u"[en]\nlang=English\n1=" + std::u16string(5000, u'v') + u"\n");
    ASSERT_EQ(LoadLanguage(table_, path, u"en"), 1);
    EXPECT_EQ(table_.rawText(1).size(), 4095u);
    EXPECT_EQ(GetText(table_, 1).size(), 4095u);
}

TEST_F(LanguageFile, GetTextIntoCopiesOnlyWhenTheBufferIsLarger) {
    const auto path = write(u"[en]\nlang=English\n19=Doc %s\n");
    ASSERT_EQ(LoadLanguage(table_, path, u"en"), 1);
    std::u16string dest = u"old";
    EXPECT_EQ(GetTextInto(table_, 19, dest, 10, u"abc"), u"Doc abc");
    EXPECT_EQ(dest, u"Doc abc");

    dest = u"old";
    EXPECT_EQ(GetTextInto(table_, 19, dest, 7, u"abc"), u"Doc abc");  // 7 characters: no room
    EXPECT_EQ(dest, u"old");
}

// A hostile language file: formats that do not fit what the program
// passes are shown raw, and nothing crashes.
TEST_F(LanguageFile, HostileTextsAreShownRaw) {
    const auto path = write(
        u"[en]\nlang=English\n"
        u"19=Document %d\n"
        u"54=%s %s %s %s %s %s\n"
        u"58=%n%n%n\n"
        u"84=%\n"
        u"126=%999999999d members\n"
        u"52=%s%s%s%s%s%s%s%s%s%s%s%s\n"
        u"53=%.*s\n"
        u"57=" +
        hexOf(u"%s %n") + u"\n");
    ASSERT_EQ(LoadLanguage(table_, path, u"en"), 1);
    EXPECT_EQ(GetText(table_, 19, u"name"), u"Document %d");
    EXPECT_EQ(GetText(table_, 54, u"a", 32, u"b", 10), u"%s %s %s %s %s %s");
    EXPECT_EQ(GetText(table_, 58), u"%n%n%n");
    EXPECT_EQ(GetText(table_, 84), u"%");
    EXPECT_EQ(GetText(table_, 126, 3), u"%999999999d members");
    EXPECT_EQ(GetText(table_, 52), u"%s%s%s%s%s%s%s%s%s%s%s%s");
    EXPECT_EQ(GetText(table_, 53, 5), u"%.*s");
    EXPECT_EQ(GetText(table_, 57, u"x"), u"%s %n");
}

// ----------------------------------------------------------- language list

TEST_F(LanguageFile, ListsSectionsInFileOrderWithDecodedNames) {
    const auto path = write(u"[en]\nlang=English\n[de]\nlang=Deutsch\n[ru]\nlang=" +
                            hexOf(u"Русский") + u"\n[xx]\n1=no name\n");
    ASSERT_EQ(LoadLanguage(table_, path, u"en"), 1);
    const std::vector<std::pair<std::u16string, std::u16string>> expected = {
        {u"en", u"English"}, {u"de", u"Deutsch"}, {u"ru", u"Русский"}, {u"xx", u""}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::u16string code, name = u"stale";
        ASSERT_EQ(ListLanguage(table_, static_cast<int>(i + 1), 85, code, &name), 1) << i;
        EXPECT_EQ(code, expected[i].first);
        EXPECT_EQ(name, expected[i].second);
    }
    std::u16string code = u"keep";
    EXPECT_EQ(ListLanguage(table_, 5, 85, code, nullptr), 0);
    EXPECT_EQ(ListLanguage(table_, 0, 85, code, nullptr), 0);
    EXPECT_EQ(ListLanguage(table_, -3, 85, code, nullptr), 0);
    EXPECT_EQ(code, u"keep");
}

TEST_F(LanguageFile, CodeThatDoesNotFitItsBufferIsNotListed) {
    const auto path = write(u"[en]\nlang=English\n[deu]\nlang=Deutsch\n");
    ASSERT_EQ(LoadLanguage(table_, path, u"en"), 1);
    std::u16string code = u"keep", name;
    EXPECT_EQ(ListLanguage(table_, 2, 3, code, &name), 0);  // "deu" needs 4 with terminator
    EXPECT_EQ(code, u"keep");
    EXPECT_EQ(name, u"Deutsch");  // the name is still filled
    EXPECT_EQ(ListLanguage(table_, 2, 4, code, &name), 1);
    EXPECT_EQ(code, u"deu");
    EXPECT_EQ(ListLanguage(table_, 1, 3, code, &name, 4), 1);
    EXPECT_EQ(name, u"Eng");  // the name buffer holds three characters
}

TEST_F(LanguageFile, NothingIsListedBeforeALanguageIsLoaded) {
    std::u16string code, name;
    EXPECT_EQ(ListLanguage(table_, 1, 85, code, &name), 0);
}

// ------------------------------------------------------------ concurrency

// Readers on several threads while another thread keeps switching the
// table between two files: every text read must be whole and belong to one
// of the files. Without the snapshot this races (and fails under the
// sanitizer builds).
TEST_F(LanguageFile, LookupsStaySoundWhileAnotherThreadReloads) {
    const auto first =
        write(u"[en]\nlang=English\n1=alpha %d\n2=one\n[de]\nlang=Deutsch\n", "a.ini");
    const auto second = write(u"[en]\nlang=Other\n1=beta %d\n2=" + hexOf(u"два") + u"\n", "b.ini");
    ASSERT_EQ(LoadLanguage(table_, first, u"en"), 1);

    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::atomic<long> reads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            const std::set<std::u16string> texts1 = {u"alpha 5", u"beta 5"};
            const std::set<std::u16string> texts2 = {u"one", u"два"};
            const std::set<std::u16string> names = {u"English", u"Other"};
            while (!stop.load()) {
                if (!texts1.count(GetText(table_, 1, 5)))
                    ++bad;
                if (!texts2.count(GetText(table_, 2)))
                    ++bad;
                if (!names.count(LanguageName(table_)))
                    ++bad;
                std::u16string code;
                if (ListLanguage(table_, 1, 85, code, nullptr) != 1 || code != u"en")
                    ++bad;
                ++reads;
            }
        });
    }
    // Keep switching until the readers have seen plenty of both files.
    for (int i = 0; i < 300 || (reads.load() < 2000 && i < 2'000'000); ++i) {
        if (LoadLanguage(table_, i % 2 ? first : second, u"en") != 1)
            ++bad;
    }
    stop = true;
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(reads.load(), 0);
}

// ------------------------------------------------------ the shipped file

class ShippedLanguageFile : public ::testing::Test {
  protected:
    static std::u16string path() { return fromUtf8(MIRAVO_SOURCE_DIR "/data/lang.ini"); }

    // The arguments the program passes to each formatted text.
    static std::vector<TextArg> argumentsOf(int id) {
        switch (id) {
            case 19:
                return {u"Quarterly report"};
            case 54:
                return {u"dithering", 32, u"threshold", 10};
            case 126:
            case 267:
            case 282:
            case 283:
            case 284:
                return {4};
            case 264:
            case 265:
            case 266:
            case 272:
            case 273:
            case 280:
                return {u"/home/anna/sent.db"};
            case 276:
                return {3, 2};
            case 281:
                return {u"/home/anna/sent.csv", 3};
            default:
                return {};
        }
    }

    static std::vector<int> textIds() {
        std::vector<int> ids;
        for (int id = 1; id <= 126; ++id)
            ids.push_back(id);
        for (int id = 252; id <= 284; ++id)  // the journal of sent faxes
            ids.push_back(id);
        ids.push_back(999);
        return ids;
    }
};

TEST_F(ShippedLanguageFile, IsUtf16WithByteOrderMarkAndCrLf) {
    const std::string bytes = test::readBytes(test::pathOf(path()));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE"));
    const std::u16string text = test::fromUtf16le(bytes);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(text[i - 1], u'\r') << "bare line feed at " << i;
        }
    }
}

TEST_F(ShippedLanguageFile, ListsEveryShippedLanguageByItsOwnName) {
    LanguageTable table;
    ASSERT_EQ(LoadLanguage(table, path(), u"en"), 1);
    const std::vector<std::pair<std::u16string, std::u16string>> expected = {
        {u"en", u"English"}, {u"de", u"Deutsch"}, {u"ru", u"Русский"},
        {u"fr", u"Français"}, {u"es", u"Español"}, {u"ja", u"日本語"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::u16string code, name;
        ASSERT_EQ(ListLanguage(table, static_cast<int>(i + 1), 85, code, &name), 1);
        EXPECT_EQ(code, expected[i].first);
        EXPECT_EQ(name, expected[i].second);
    }
    std::u16string code;
    EXPECT_EQ(ListLanguage(table, 7, 85, code, nullptr), 0);
}

TEST_F(ShippedLanguageFile, EverySectionHoldsEveryTextItself) {
    const ProfileFile file = ProfileFile::load(test::pathOf(path()));
    for (const std::u16string code : {u"en", u"de", u"ru", u"fr", u"es", u"ja"}) {
        SCOPED_TRACE(toUtf8(code));
        for (int id : textIds()) {
            const auto value = file.value(code, toU16(id));
            ASSERT_TRUE(value.has_value()) << "text " << id;
            EXPECT_FALSE(value->empty()) << "text " << id;
            EXPECT_FALSE(DecodeHexForm(*value).empty()) << "text " << id;
        }
    }
}

TEST_F(ShippedLanguageFile, RussianIsStoredInHexFormAndEnglishGermanAreNot) {
    const ProfileFile file = ProfileFile::load(test::pathOf(path()));
    for (int id : textIds()) {
        const std::u16string ru = file.value(u"ru", toU16(id)).value_or(u"");
        EXPECT_TRUE(IsHexForm(ru) && ru.size() % 4 == 0) << "text " << id;
        EXPECT_FALSE(IsHexForm(file.value(u"en", toU16(id)).value_or(u""))) << "text " << id;
        EXPECT_FALSE(IsHexForm(file.value(u"de", toU16(id)).value_or(u""))) << "text " << id;
    }
    EXPECT_TRUE(IsHexForm(file.value(u"ru", u"lang").value_or(u"x")));
}

TEST_F(ShippedLanguageFile, EveryTextAcceptsTheArgumentsTheProgramPasses) {
    for (const std::u16string code : {u"en", u"de", u"ru", u"fr", u"es", u"ja"}) {
        SCOPED_TRACE(toUtf8(code));
        LanguageTable table;
        ASSERT_EQ(LoadLanguage(table, path(), code), 1);
        for (int id : textIds()) {
            const std::u16string raw = table.rawText(id);
            EXPECT_TRUE(FormatAccepts(raw, argumentsOf(id))) << "text " << id;
        }
        EXPECT_NE(GetText(table, 19, u"Quarterly report").find(u"Quarterly report"),
                  std::u16string::npos);
        const std::u16string members = GetText(table, 126, 4);
        EXPECT_NE(members.find(u"4"), std::u16string::npos);
        EXPECT_EQ(members.find(u"%"), std::u16string::npos);
        const std::u16string method =
            GetText(table, 54, table.rawText(55), 32, table.rawText(56), 10);
        EXPECT_NE(method.find(table.rawText(55)), std::u16string::npos);
        EXPECT_NE(method.find(table.rawText(56)), std::u16string::npos);
        EXPECT_EQ(method.find(u"%"), std::u16string::npos);
    }
}

}  // namespace
}  // namespace miravo
