#include "app/DialogTexts.h"

#include <climits>
#include <map>
#include <set>

#include "app/LanguageTable.h"
#include "app/ProfileIni.h"
#include "tests/TestSupport.h"
#include "app/ControlIds.h"

namespace miravo {
namespace {

using test::TempDir;

std::u16string writeLanguageFile(const TempDir& dir, const std::u16string& text) {
    std::u16string crlf;
    for (char16_t c : text) {
        if (c == u'\n')
            crlf += u'\r';
        crlf += c;
    }
    test::writeBytes(dir / "lang.ini", test::utf16le(crlf));
    return fromUtf8((dir / "lang.ini").string());
}

std::u16string shippedLanguageFile() {
    return fromUtf8(MIRAVO_SOURCE_DIR "/data/lang.ini");
}

std::map<int, int> asMap(std::span<const DialogTextBinding> bindings) {
    std::map<int, int> m;
    for (const auto& b : bindings)
        m[b.control] = b.text;
    return m;
}

// ------------------------------------------------------------- bindings

TEST(DialogTextBindings, EachKindBindsWhatItsDialogShows) {
    // A few bindings per kind that a slip in the table would break.
    const std::map<int, std::map<int, int>> samples = {
        {kSendDialogTexts, {{2, 1}, {1, 2}, {1016, 3}, {1022, 4}, {1090, 121}, {1094, 107}}},
        {kCredentialsTexts, {{kTitleControl, 16}, {1, 5}, {1011, 13}, {1014, 14}}},
        {kOptionsTexts, {{kTitleControl, 18}, {1029, 5}, {1025, 7}, {1054, 59}, {1096, 435}}},
        {kStatusWindowTexts, {{kTitleControl, 15}, {2, 5}, {1004, 12}, {1046, 12}, {1031, 27}}},
        {kAccountTexts, {{kTitleControl, 59}, {1080, 60}, {1064, 60}, {1056, 60}, {1060, 96}}},
        {kContactBookTexts, {{kTitleControl, 102}, {1075, 2}, {1079, 119}}},
        {kAddContactTexts, {{kTitleControl, 98}, {1071, 99}, {1074, 101}}},
        {kMassFaxListTexts, {{kTitleControl, 108}, {1029, 1}, {1, 5}, {1082, 111}}},
        {kCsvImportTexts, {{kTitleControl, 112}, {1087, 113}, {1086, 115}}},
    };
    const std::map<int, std::size_t> sizes = {{1, 18}, {2, 6}, {3, 12}, {5, 11}, {6, 18},
                                              {7, 6},  {8, 5}, {9, 8},  {10, 6}};
    for (const auto& [kind, expected] : samples) {
        SCOPED_TRACE(kind);
        const auto bindings = DialogTextBindings(kind);
        EXPECT_EQ(bindings.size(), sizes.at(kind));
        const auto actual = asMap(bindings);
        EXPECT_EQ(actual.size(), bindings.size()) << "a control is bound twice";
        for (const auto& [control, text] : expected) {
            ASSERT_TRUE(actual.count(control)) << "control " << control;
            EXPECT_EQ(actual.at(control), text) << "control " << control;
        }
    }
}

TEST(DialogTextBindings, KindsWithoutTextsGetNothing) {
    for (int kind : {-1, 0, 4, 11, 104})
        EXPECT_TRUE(DialogTextBindings(kind).empty()) << kind;
}

TEST(DialogTextBindings, SendDialogSentencesComeLastMethodFirst) {
    const auto bindings = DialogTextBindings(kSendDialogTexts);
    ASSERT_GE(bindings.size(), 2u);
    const auto& method = bindings[bindings.size() - 2];
    const auto& document = bindings.back();
    EXPECT_EQ(method.use, TextUse::MethodSentence);
    EXPECT_EQ(method.control, 1052);
    EXPECT_EQ(method.text, 54);
    EXPECT_EQ(document.use, TextUse::DocumentSentence);
    EXPECT_EQ(document.control, 1021);
    EXPECT_EQ(document.text, 19);
    for (std::size_t i = 0; i + 2 < bindings.size(); ++i)
        EXPECT_EQ(bindings[i].use, TextUse::Plain);
}

TEST(DialogTextBindings, EveryBoundTextExistsInTheShippedFile) {
    const ProfileFile file = ProfileFile::load(test::pathOf(shippedLanguageFile()));
    for (int kind = 1; kind <= 10; ++kind) {
        for (const auto& b : DialogTextBindings(kind)) {
            EXPECT_FALSE(file.value(u"en", toU16(b.text)).value_or(u"").empty())
                << "kind " << kind << " text " << b.text;
        }
    }
}

// ------------------------------------------------------------- sentences

class SendDialogTexts : public ::testing::Test {
  protected:
    void load(const std::u16string& text) {
        ASSERT_EQ(LoadLanguage(table_, writeLanguageFile(dir_, text), u"en"), 1);
    }
    TempDir dir_;
    LanguageTable table_;
};

TEST_F(SendDialogTexts, MethodSentenceNamesMethodInUseFirst) {
    load(u"[en]\nlang=English\n54=%s|%d|%s|%d\n55=dither\n56=thresh\n");
    EXPECT_EQ(MethodSentence(table_, true), u"dither|32|thresh|10");
    EXPECT_EQ(MethodSentence(table_, false), u"thresh|32|dither|10");
    load(u"[en]\nlang=English\n54=%s|%d|%s|%d\n55=dither\n56=thresh\n436=auto\n");
    EXPECT_EQ(MethodSentence(table_, ConversionMethod::Automatic), u"auto|32|thresh|10");
}

TEST_F(SendDialogTexts, MethodSentenceWithCharacterConversions) {
    load(u"[en]\nlang=English\n54=By %s.%cOr %s.%c\n55=dither\n56=thresh\n");
    EXPECT_EQ(MethodSentence(table_, false), u"By thresh. Or dither.\n");
}

TEST_F(SendDialogTexts, MethodSentenceWithMismatchedFormatIsRaw) {
    load(u"[en]\nlang=English\n54=%d %d %s %n\n55=dither\n56=thresh\n");
    EXPECT_EQ(MethodSentence(table_, true), u"%d %d %s %n");
}

TEST_F(SendDialogTexts, MethodNamesAndSentenceAreCutToTheirFields) {
    load(u"[en]\nlang=English\n54=%s\n55=" + std::u16string(300, u'd') + u"\n56=t\n");
    EXPECT_EQ(MethodSentence(table_, true), std::u16string(259, u'd'));

    load(u"[en]\nlang=English\n54=" + std::u16string(800, u'x') + u"%s\n55=d\n56=t\n");
    EXPECT_EQ(MethodSentence(table_, true), std::u16string(770, u'x'));
}

TEST(DocumentName, TakesFileNameUpToPsMarker) {
    EXPECT_EQ(DocumentName(u"/var/spool/miravo/Quarterly report__ps__17_1"), u"Quarterly report");
    EXPECT_EQ(DocumentName(u"/var/spool/miravo/Letter"), u"Letter");
    EXPECT_EQ(DocumentName(u"/var/a__ps__b/Letter"), u"Letter");  // only the file name counts
    EXPECT_EQ(DocumentName(u"/var/spool/__ps__17"), u"");
    EXPECT_EQ(DocumentName(u"/var/spool/"), u"");
}

TEST(DocumentName, PathWithoutSlashIsTakenWhole) {
    EXPECT_EQ(DocumentName(u"Letter__ps__3"), u"Letter__ps__3");
    EXPECT_EQ(DocumentName(u""), u"");
}

TEST_F(SendDialogTexts, DocumentSentenceShowsTheTitleOrSaysThereIsNone) {
    load(u"[en]\nlang=English\n19=Your document \"%s\" is ready\n652=Your document is ready\n");
    EXPECT_EQ(DocumentSentence(table_, u"/tmp/jobs/Invoice 42__ps__job_17"),
              u"Your document \"Invoice 42\" is ready");
    EXPECT_EQ(DocumentSentence(table_, u"/tmp/jobs/__ps__job_18"), u"Your document is ready");
}

TEST_F(SendDialogTexts, DocumentSentenceIsCutTo770Characters) {
    load(u"[en]\nlang=English\n19=%s\n");
    EXPECT_EQ(DocumentSentence(table_, u"/d/" + std::u16string(1000, u'n')).size(), 770u);
}

TEST_F(SendDialogTexts, DocumentSentenceWithHostileFormatIsRaw) {
    load(u"[en]\nlang=English\n19=%d%n%s\n");
    EXPECT_EQ(DocumentSentence(table_, u"/d/Letter"), u"%d%n%s");
}

TEST_F(SendDialogTexts, ResolvedTextsFollowTheBindingsAndSkipEmptyOnes) {
    load(
        u"[en]\nlang=English\n1=Close\n5=OK\n16=Credentials\n6=Save\n13=User:\n"
        u"19=Doc %s\n54=%s%c%s%c\n55=Dith\n56=Thr\n");
    const auto texts = ResolveDialogTexts(table_, kCredentialsTexts, false, u"");
    std::map<int, std::u16string> m;
    for (const auto& t : texts)
        m[t.control] = t.text;
    EXPECT_EQ(m, (std::map<int, std::u16string>{
                     {2, u"Close"},
                     {1, u"OK"},
                     {kTitleControl, u"Credentials"},
                     {1005, u"Save"},
                     {1011, u"User:"}}));  // 1014 (text 14) is missing: its template stays

    const auto send = ResolveDialogTexts(table_, kSendDialogTexts, true, u"/j/Memo__ps__1");
    ASSERT_GE(send.size(), 2u);
    EXPECT_EQ(send[send.size() - 2].control, controlid::kMethodSentence);
    EXPECT_EQ(send[send.size() - 2].text, u"Dith Thr\n");
    EXPECT_EQ(send.back().control, controlid::kDocumentSentence);
    EXPECT_EQ(send.back().text, u"Doc Memo");
}

TEST(ResolveDialogTexts, NothingBeforeALanguageIsLoaded) {
    LanguageTable table;
    for (int kind = 1; kind <= 10; ++kind) {
        EXPECT_TRUE(ResolveDialogTexts(table, kind, true, u"/j/x").empty()) << kind;
    }
}

TEST(ResolveDialogTexts, ShippedLanguagesFillEveryControl) {
    for (const std::u16string code : {u"en", u"de", u"ru", u"fr", u"es", u"ja"}) {
        LanguageTable table;
        ASSERT_EQ(LoadLanguage(table, shippedLanguageFile(), code), 1);
        for (int kind = 1; kind <= 10; ++kind) {
            const auto texts = ResolveDialogTexts(table, kind, kind % 2 == 0, u"/j/Memo__ps__1");
            EXPECT_EQ(texts.size(), DialogTextBindings(kind).size()) << toUtf8(code) << kind;
            for (const auto& t : texts) {
                EXPECT_EQ(t.text.find(u'%'), std::u16string::npos)
                    << toUtf8(code) << " control " << t.control;
            }
        }
    }
}

// ------------------------------------------------------------- logo file

TEST(LogoFileFor, ReplacesTheFileName) {
    EXPECT_EQ(LogoFileFor(u"/opt/miravo/images/en_logo.gif", u"de"),
              u"/opt/miravo/images/de_logo.gif");
    EXPECT_EQ(LogoFileFor(u"/opt/miravo/images/", u"ru"), u"/opt/miravo/images/ru_logo.gif");
    EXPECT_EQ(LogoFileFor(u"/logo.gif", u"en"), u"/en_logo.gif");
}

TEST(LogoFileFor, PathWithoutSlashIsAllFileName) {
    EXPECT_EQ(LogoFileFor(u"en_logo.gif", u"de"), u"de_logo.gif");
    EXPECT_EQ(LogoFileFor(u"", u"de"), u"de_logo.gif");
}

TEST(LogoFileFor, CodeThatWouldLeaveTheFolderGivesNoLogo) {
    const std::u16string base = u"/opt/miravo/images/en_logo.gif";
    EXPECT_EQ(LogoFileFor(base, u"../../etc/x"), u"");
    EXPECT_EQ(LogoFileFor(base, u"a/b"), u"");
    EXPECT_EQ(LogoFileFor(base, u".."), u"");
    EXPECT_EQ(LogoFileFor(base, u""), u"");
    EXPECT_EQ(LogoFileFor(base, std::u16string(u"d\0e", 3)), u"");
}

TEST(LogoFileFor, EveryShippedLanguageHasItsLogo) {
    LanguageTable table;
    ASSERT_EQ(LoadLanguage(table, shippedLanguageFile(), u"en"), 1);
    const std::u16string images = fromUtf8(MIRAVO_SOURCE_DIR "/data/images/en_logo.gif");
    std::u16string code;
    int n = 1;
    for (; ListLanguage(table, n, 85, code, nullptr) == 1; ++n) {
        const std::string bytes = test::readBytes(test::pathOf(LogoFileFor(images, code)));
        ASSERT_GE(bytes.size(), 10u) << toUtf8(code);
        EXPECT_EQ(bytes.substr(0, 6), "GIF89a") << toUtf8(code);
        const int width =
            static_cast<unsigned char>(bytes[6]) | static_cast<unsigned char>(bytes[7]) << 8;
        const int height =
            static_cast<unsigned char>(bytes[8]) | static_cast<unsigned char>(bytes[9]) << 8;
        EXPECT_GT(width, 4 * height) << "a header logo is wide";
    }
    EXPECT_EQ(n, 7);  // six languages
}

// ----------------------------------------------------------- logo geometry

// The strip of these cases: item 0,0 .. 404,64 leaves a 400 x 60 box.
TEST(HeaderLogoRect, TwiceAsWideAsTheStripTakesItsWidthAndHalfItsOwnHeight) {
    EXPECT_EQ(HeaderLogoRect(0, 0, 404, 64, 800, 100), (LogoRect{1, 1, 400, 52}));
}

TEST(HeaderLogoRect, TallNarrowLogoFillsTheHeight) {
    EXPECT_EQ(HeaderLogoRect(0, 0, 404, 64, 30, 240), (LogoRect{1, 1, 7, 62}));  // 7.5 cut to 7
}

TEST(HeaderLogoRect, ExactFitCountsAsTooTall) {
    EXPECT_EQ(HeaderLogoRect(0, 0, 404, 64, 400, 60), (LogoRect{1, 1, 400, 62}));
}

TEST(HeaderLogoRect, SitsOnePixelInFromTheItemCorner) {
    EXPECT_EQ(HeaderLogoRect(10, 20, 414, 84, 200, 15), (LogoRect{11, 21, 400, 32}));
}

TEST(HeaderLogoRect, NothingToDrawForEmptyImageOrStrip) {
    EXPECT_TRUE(HeaderLogoRect(0, 0, 404, 64, 0, 60).empty());
    EXPECT_TRUE(HeaderLogoRect(0, 0, 404, 64, 400, 0).empty());
    EXPECT_TRUE(HeaderLogoRect(0, 0, 404, 64, -5, 60).empty());
    EXPECT_TRUE(HeaderLogoRect(0, 0, 4, 64, 400, 60).empty());   // no width left
    EXPECT_TRUE(HeaderLogoRect(0, 0, 404, 4, 400, 60).empty());  // no height left
    EXPECT_TRUE(HeaderLogoRect(50, 50, 0, 0, 400, 60).empty());  // inverted
}

TEST(HeaderLogoRect, ExtremeSizesStayInRange) {
    const LogoRect wide = HeaderLogoRect(0, 0, 404, 64, INT_MAX, 1);
    EXPECT_EQ(wide.width, 400);
    EXPECT_EQ(wide.height, 2);
    const LogoRect tall = HeaderLogoRect(0, 0, 404, 64, 1, INT_MAX);
    EXPECT_TRUE(tall.empty());
    const LogoRect huge = HeaderLogoRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX, INT_MAX, INT_MAX);
    EXPECT_GE(huge.width, 0);
    EXPECT_GE(huge.height, 0);
    EXPECT_EQ(huge.x, INT_MIN + 1);
}

}  // namespace
}  // namespace miravo
