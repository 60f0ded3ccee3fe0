#include "service/MultipartForm.h"

#include "app/Text.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

std::u16string textPart(std::u16string_view name, std::u16string_view value) {
    return u"----AaB03x\r\nContent-Disposition: form-data; name=\"" + std::u16string(name) +
           u"\"\r\n\r\n" + std::u16string(value) + u"\r\n";
}

TEST(MultipartForm, EmptyNameOrValueGivesNoPartAtAll) {
    MultipartForm form(kSmallFormCapacity);
    form.add(u"action", u"");
    form.add(u"", u"value");
    EXPECT_EQ(form.body(), u"");
    form.add(u"action", u"get_user_preferences");
    form.add(u"username", u"");
    form.add(u"password", u"secret");
    EXPECT_EQ(form.body(),
              textPart(u"action", u"get_user_preferences") + textPart(u"password", u"secret"));
}

TEST(MultipartForm, PartIsAddedOnlyWhenItFitsWithTheTerminator) {
    const std::u16string part = textPart(u"name", u"value");
    MultipartForm exact(part.size() + 1);
    exact.add(u"name", u"value");
    EXPECT_EQ(exact.body(), part);

    MultipartForm tooSmall(part.size());
    tooSmall.add(u"name", u"value");
    EXPECT_EQ(tooSmall.body(), u"");

    // A part that does not fit is left out; a later smaller one still goes in.
    MultipartForm form(2 * part.size() + 1);
    form.add(u"name", u"value");
    form.add(u"name", std::u16string(part.size(), u'x'));
    form.add(u"name", u"value");
    EXPECT_EQ(form.body(), part + part);

    MultipartForm none(0);
    none.add(u"name", u"value");
    EXPECT_EQ(none.body(), u"");
}

TEST(MultipartForm, DelimiterInAValueMarksTheForm) {
    MultipartForm form(kSmallFormCapacity);
    form.add(u"name", u"before ----AaB03x after");
    EXPECT_TRUE(form.carriesDelimiter());
    MultipartForm harmless(kSmallFormCapacity);
    harmless.add(u"name", u"--AaB03x and ---AaB03x");
    harmless.add(u"name", std::u16string(u"ab\0----AaB03x", 14));  // ends at the NUL
    EXPECT_FALSE(harmless.carriesDelimiter());
    EXPECT_EQ(harmless.body(),
              textPart(u"name", u"--AaB03x and ---AaB03x") + textPart(u"name", u"ab"));
}

TEST(FaxEncodings, AnsiIsWindows1252CutAt1023Bytes) {
    EXPECT_EQ(ToAnsi(u"J\u00FCrgen \u20AC \u0416"), "J\xFCrgen \x80 ?");
    EXPECT_EQ(ToAnsi(u"a\U0001F600b"), "a?b");  // one character, one '?'
    EXPECT_EQ(ToAnsi(u""), "");
    EXPECT_EQ(ToAnsi(std::u16string(5000, u'p')), std::string(1023, 'p'));
    std::u16string pairs;
    for (int i = 0; i < 1100; ++i)
        pairs += u"\U0001F600";
    EXPECT_EQ(ToAnsi(pairs), std::string(1023, '?'));
}

TEST(FaxEncodings, LowByteOfEveryUnit) {
    EXPECT_EQ(LowBytes(u"+49 30"), "+49 30");
    EXPECT_EQ(LowBytes(u"\u03A9mega \u00E9"), "\xA9mega \xE9");
    EXPECT_EQ(LowBytes(u"\U0001F600"), "\x3D");  // both surrogates; the second's is a NUL
    EXPECT_EQ(LowBytes(std::u16string(u"1\0"
                                      u"2",
                                      3)),
              "1");
}

TEST(FaxEncodings, CoverTextIsUtf8CutOnACharacterBoundary) {
    EXPECT_EQ(CoverTextUtf8(u"Gr\u00FC\u00DFe"),
              "Gr\xC3\xBC\xC3\x9F"
              "e");
    // 1 + 2000 * 3 bytes: the cut falls inside a euro sign and backs up to its start.
    std::u16string text = u"a";
    text.append(2000, u'\u20AC');
    const std::string cut = CoverTextUtf8(text);
    EXPECT_EQ(cut.size(), 1u + 1998u * 3u);
    EXPECT_TRUE(isValidUtf8(cut));
    // Exactly 5,997 bytes stay whole.
    const std::string exact = CoverTextUtf8(std::u16string(1999, u'\u20AC'));
    EXPECT_EQ(exact.size(), kMaxCoverTextBytes);
    // Four-byte characters are never split either.
    std::u16string emoji;
    for (int i = 0; i < 2000; ++i)
        emoji += u"\U0001F600";
    const std::string emojiCut = CoverTextUtf8(emoji);
    EXPECT_EQ(emojiCut.size(), 5996u);
    EXPECT_TRUE(isValidUtf8(emojiCut));
}

TEST(FaxForm, PartsAreWrittenByteForByteEmptyValuesIncluded) {
    FaxForm form;
    form.add("action", "authentication");
    form.add("names[1]", "");
    form.addCoverPage("Hi");
    form.addDocumentHeader();
    EXPECT_EQ(form.bytes(),
              "----AaB03x\r\nContent-Disposition: form-data; name=\"action\"\r\n\r\n"
              "authentication\r\n"
              "----AaB03x\r\nContent-Disposition: form-data; name=\"names[1]\"\r\n\r\n\r\n"
              "\r\n----AaB03x\r\nContent-Disposition: form-data; name=\"coverpage\"\r\n\r\nHi\r\n"
              "----AaB03x\r\nContent-Disposition: form-data; name=\"document\"; "
              "filename=\"image.tif\"\r\nContent-Type: application/octet-stream\r\n\r\n");
    EXPECT_FALSE(form.carriesDelimiter());
    EXPECT_FALSE(form.tooLarge());
}

TEST(FaxForm, ValuesEndAtTheirFirstNulAndStayOnOneLine) {
    const struct {
        std::u16string value;
        std::string wire;
    } cases[] = {
        {u"N\u00F7 \u4E00x", "N\xF7 "},        // U+4E00: low byte NUL ends the value
        {u"a\u010Db\u020Ac", "a b c"},          // U+010D, U+020A: CR and LF
        {u"line\r\nbreak", "line  break"},     // typed ones too
    };
    for (const auto& c : cases) {
        FaxForm form;
        form.add("names[3]", LowBytes(c.value));
        EXPECT_EQ(form.bytes(),
                  "----AaB03x\r\nContent-Disposition: form-data; name=\"names[3]\"\r\n\r\n" +
                      c.wire + "\r\n");
    }
    FaxForm ansi;
    ansi.add("username", std::string("us\0er", 6));
    EXPECT_EQ(ansi.bytes().find("us\r\n"), ansi.bytes().size() - 4);
}

TEST(FaxForm, DelimiterMadeOfLowBytesIsCaught) {
    // U+012D has the low byte '-': four of them make the delimiter on the wire.
    FaxForm form;
    form.add("names[1]", LowBytes(u"\u012D\u012D\u012D\u012DAaB03x"));
    EXPECT_TRUE(form.carriesDelimiter());
    FaxForm cover;
    cover.addCoverPage("text ----AaB03x text");
    EXPECT_TRUE(cover.carriesDelimiter());
}

TEST(FaxForm, BodyBeyondOneExchangeBufferIsMarkedTooLarge) {
    FaxForm form;
    const std::string number(1000, '1');
    for (int i = 0; i < 1100; ++i)
        form.add("numbers[" + std::to_string(i) + "]", number);
    EXPECT_TRUE(form.tooLarge());
    EXPECT_LE(form.bytes().size(), kMaxAnswerBytes);
}

}  // namespace
}  // namespace miravo
