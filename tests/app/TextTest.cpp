#include "app/Text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

namespace miravo {
namespace {

TEST(TextCp1252Test, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::u16string text = fromCp1252(all);
    ASSERT_EQ(text.size(), 256u);
    EXPECT_EQ(toCp1252(text), all);
}

TEST(TextCp1252Test, HighBytesMapToTheirWindowsCharacters) {
    EXPECT_EQ(fromCp1252("\x80"), u"\u20AC");  // euro sign
    EXPECT_EQ(fromCp1252("\x8A\x9C\x9F"), u"\u0160\u0153\u0178");
    EXPECT_EQ(fromCp1252("\x93quoted\x94"), u"\u201Cquoted\u201D");
    EXPECT_EQ(fromCp1252("caf\xE9"), u"caf\u00E9");
    // Unassigned bytes keep their own value, as Windows does.
    EXPECT_EQ(fromCp1252("\x81\x8D\x8F\x90\x9D"), u"\u0081\u008D\u008F\u0090\u009D");
}

TEST(TextCp1252Test, CharactersWithoutAByteBecomeQuestionMarks) {
    EXPECT_EQ(toCp1252(u"\u20AC 5"), "\x80 5");
    EXPECT_EQ(toCp1252(u"\u00FC\u00DF"), "\xFC\xDF");
    EXPECT_EQ(toCp1252(u"\u0416\u4E2D\u0100"), "???");
    // A surrogate pair is two code units, each without a byte.
    EXPECT_EQ(toCp1252(u"a\U0001F600b"), "a??b");
    EXPECT_EQ(toCp1252(std::u16string(1, u'\0')), std::string(1, '\0'));
}

TEST(TextUtf8Test, ValidityCheck) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain ascii"));
    EXPECT_TRUE(isValidUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_TRUE(isValidUtf8(std::string("nul\0inside", 10)));
    EXPECT_FALSE(isValidUtf8("caf\xE9"));       // Windows-1252 e-acute
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));      // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));      // cut short
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));  // encoded surrogate
    EXPECT_FALSE(isValidUtf8("\x80 lone continuation"));
}

TEST(TextUtf8Test, ConversionsKeepEveryCharacter) {
    const std::u16string text = u"Stra\u00DFe \u20AC \u041C\u0438\u0440 \U0001F600";
    EXPECT_EQ(fromUtf8(toUtf8(text)), text);
    EXPECT_EQ(toUtf8(u"\u00E9"), "\xC3\xA9");
    EXPECT_EQ(fromUtf8("a\xFF"
                       "b"),
              u"a\uFFFDb");
}

TEST(TextUtf8Test, EveryCodePointRoundTripsAndBrokenBytesBecomeReplacements) {
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        std::string bytes;
        appendUtf8(bytes, c);
        const std::u16string text = fromUtf8(bytes);
        ASSERT_TRUE(isValidUtf8(bytes)) << std::hex << std::uint32_t(c);
        ASSERT_EQ(toUtf8(text), bytes) << std::hex << std::uint32_t(c);
        ASSERT_EQ(text.size(), c >= 0x10000 ? 2u : 1u) << std::hex << std::uint32_t(c);
    }
    // One replacement for each longest start of a sequence that breaks off.
    const struct {
        std::string bytes;
        std::u16string text;
    } broken[] = {
        {"\xE2\x82", u"\uFFFD"},
        {"\xE2\x82x", u"\uFFFDx"},
        {"\xF0\x9F\x98", u"\uFFFD"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
        {"\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
    };
    for (const auto& c : broken) {
        EXPECT_EQ(fromUtf8(c.bytes), c.text) << c.bytes;
        EXPECT_FALSE(isValidUtf8(c.bytes)) << c.bytes;
    }
    // Half a surrogate pair has no UTF-8 form.
    EXPECT_EQ(toUtf8(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
}

TEST(TextCaseTest, NamesDifferingOnlyInCaseAreEqualInEveryScript) {
    const struct {
        std::u16string a, b;
        bool equal;
    } cases[] = {
        {u"User_Name", u"USER_NAME", true},
        {u"\u00C4rger", u"\u00E4RGER", true},
        {u"\u041F\u0430\u0440\u043E\u043B\u044C", u"\u043F\u0410\u0420\u041E\u041B\u042C", true},
        {u"\u03A3\u039F\u03A3", u"\u03C3\u03BF\u03C2", true},  // final sigma
        {u"\u212A", u"k", true},                               // Kelvin sign
        {u"\U00010400", u"\U00010428", true},                  // beyond 16 bits
        {u"\u00C9mile", u"Emile", false},
        {u"ab", u"abc", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(equalsIgnoreCase(c.a, c.b), c.equal) << toUtf8(c.a) << " / " << toUtf8(c.b);
}

TEST(TextLocal8BitTest, ValidUtf8IsReadAsUtf8) {
    EXPECT_EQ(fromLocal8Bit("caf\xC3\xA9"), u"caf\u00E9");
    EXPECT_EQ(fromLocal8Bit("\xE2\x82\xAC"), u"\u20AC");
}

TEST(TextLocal8BitTest, AnythingElseIsReadAsWindows1252) {
    EXPECT_EQ(fromLocal8Bit("caf\xE9"), u"caf\u00E9");
    EXPECT_EQ(fromLocal8Bit("\x80 100"), u"\u20AC 100");
    // One invalid sequence makes the whole text Windows-1252.
    EXPECT_EQ(fromLocal8Bit("\xC3\xA9 \xE9"), u"\u00C3\u00A9 \u00E9");
}

TEST(TextCaseTest, OnlyAsciiLettersFold) {
    EXPECT_EQ(asciiLower(u'T'), u't');
    EXPECT_EQ(asciiLower(u'@'), u'@');
    EXPECT_EQ(asciiLower(u'['), u'[');
    EXPECT_EQ(asciiLower(u"TaB \u00C9"), u"tab \u00C9");
    EXPECT_TRUE(equalsIgnoreAsciiCase(u"TAB", u"tab"));
    EXPECT_TRUE(equalsIgnoreAsciiCase(u"tAb", u"TaB"));
    EXPECT_FALSE(equalsIgnoreAsciiCase(u"TAB", u"TABS"));
    EXPECT_FALSE(equalsIgnoreAsciiCase(u"\u00C9", u"\u00E9"));
    EXPECT_FALSE(equalsIgnoreAsciiCase(u"@", u"`"));  // 0x40 and 0x60 differ by 32 too
}

TEST(TextParseDecimalTest, ReadsLikeStrtol) {
    EXPECT_EQ(parseDecimal(u"42"), 42);
    EXPECT_EQ(parseDecimal(u"  \t\n42abc"), 42);
    EXPECT_EQ(parseDecimal(u"-17"), -17);
    EXPECT_EQ(parseDecimal(u"+5"), 5);
    EXPECT_EQ(parseDecimal(u"007"), 7);
    EXPECT_EQ(parseDecimal(u""), 0);
    EXPECT_EQ(parseDecimal(u"abc"), 0);
    EXPECT_EQ(parseDecimal(u"- 5"), 0);
    EXPECT_EQ(parseDecimal(u"--5"), 0);
    EXPECT_EQ(parseDecimal(u"12 34"), 12);
}

TEST(TextParseDecimalTest, SaturatesAtThe32BitRange) {
    EXPECT_EQ(parseDecimal(u"2147483647"), INT_MAX);
    EXPECT_EQ(parseDecimal(u"2147483648"), INT_MAX);
    EXPECT_EQ(parseDecimal(u"99999999999999999999999999"), INT_MAX);
    EXPECT_EQ(parseDecimal(u"-2147483648"), INT_MIN);
    EXPECT_EQ(parseDecimal(u"-99999999999999999999999999"), INT_MIN);
}

TEST(TextParseDecimalTest, EightBitOverloadAgrees) {
    for (const char* s : {"42", " -3x", "", "x", "99999999999", "-99999999999", "+0"}) {
        const std::string bytes(s);
        EXPECT_EQ(parseDecimal(std::string_view(bytes)), parseDecimal(u16(bytes))) << s;
    }
}

TEST(TextFieldTest, FitFieldKeepsRoomForTheTerminator) {
    EXPECT_EQ(fitField(u"abcdef", 4), u"abc");
    EXPECT_EQ(fitField(u"abc", 4), u"abc");
    EXPECT_EQ(fitField(u"abc", 1), u"");
    EXPECT_EQ(fitField(u"abc", 0), u"");
    EXPECT_EQ(toU16(-1234), u"-1234");
    EXPECT_EQ(u16("x=1"), u"x=1");
}

}  // namespace
}  // namespace miravo
