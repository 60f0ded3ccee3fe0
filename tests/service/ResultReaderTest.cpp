#include "service/ResultReader.h"

#include "app/ProfileIni.h"
#include "app/Text.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

class ResultReaderTest : public ::testing::Test {
  protected:
    // Replaces the answer file as the transport does (a new file each time).
    std::u16string answer(const std::string& bytes, const std::string& name = "result.xml") {
        const auto path = dir_ / name;
        EXPECT_TRUE(writeFileAtomically(path, bytes));
        return fromUtf8(path.string());
    }

    test::TempDir dir_;
    std::u16string out_ = u"stale";
};

const std::string kStatus =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<API_RESULT><ERROR></ERROR><GET_FAX_STATUS><RESULT>0</RESULT>"
    "<FAX><FAX_ID>77</FAX_ID><RECIPIENT>+4930 1</RECIPIENT><STATUS>OK</STATUS></FAX>"
    "<FAX><FAX_ID>77</FAX_ID><RECIPIENT>Zo\xC3\xAB</RECIPIENT><STATUS/></FAX>"
    "</GET_FAX_STATUS><GET_FAX_STATUS><FAX><FAX_ID>78</FAX_ID></FAX></GET_FAX_STATUS>"
    "</API_RESULT>";

TEST_F(ResultReaderTest, MatchesAreCountedAndNumberedInDocumentOrder) {
    const auto file = answer(kStatus);
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/GET_FAX_STATUS/FAX/FAX_ID", out_, 260, 0), 3u);
    EXPECT_EQ(out_, u"77");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/GET_FAX_STATUS/FAX/FAX_ID", out_, 260, 2), 3u);
    EXPECT_EQ(out_, u"78");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/GET_FAX_STATUS/FAX/FAX_ID", out_, 260, 3), 0u);
    EXPECT_EQ(out_, u"");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/GET_FAX_STATUS/FAX/RECIPIENT", out_, 260, 1), 2u);
    EXPECT_EQ(out_, u"Zo\u00EB");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/GET_FAX_STATUS/RESULT", out_, 260, 0), 1u);
    EXPECT_EQ(out_, u"0");
}

TEST_F(ResultReaderTest, EmptyElementsAndWrongPathsGiveZeroAndEmpty) {
    const auto file = answer(kStatus);
    const std::u16string paths[] = {
        u"API_RESULT/ERROR",                       // present but empty
        u"API_RESULT/GET_FAX_STATUS/FAX/STATUS/",  // trailing slash
        u"api_result/ERROR",                       // names are case-sensitive
        u"GET_FAX_STATUS/RESULT",                  // not from the root
        u"API_RESULT//RESULT",
        u"",
        u"API_RESULT/NOPE",
    };
    for (const auto& path : paths) {
        out_ = u"stale";
        EXPECT_EQ(ReadXmlValue(file, path, out_, 260, 0), 0u) << toUtf8(path);
        EXPECT_EQ(out_, u"");
    }
    // The second STATUS is empty: nothing to read there, though the first has text.
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/GET_FAX_STATUS/FAX/STATUS", out_, 260, 1), 0u);
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/GET_FAX_STATUS/FAX/STATUS", out_, 260, 0), 2u);
}

TEST_F(ResultReaderTest, ValueIsTheWholeTextOfTheElementUnchanged) {
    const auto file = answer(
        "<API_RESULT><A> 0 "
        "</A><B>x<i>y</i><![CDATA[<z>]]>&amp;w</B><C>line\r\nnext</C></API_RESULT>");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/A", out_, 260, 0), 1u);
    EXPECT_EQ(out_, u" 0 ");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/B", out_, 260, 0), 1u);
    EXPECT_EQ(out_, u"xy<z>&w");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/C", out_, 260, 0), 1u);
    EXPECT_EQ(out_, u"line\nnext");
}

TEST_F(ResultReaderTest, BrokenMissingAndForeignFilesGiveZeroAndEmpty) {
    const std::string broken[] = {
        "",
        "<API_RESULT><ERROR>107</ERROR>",                          // cut off
        "<API_RESULT><ERROR>107</API_RESULT>",                     // mismatched
        "ERROR 107",                                               // not XML
        std::string("II*\0\x08\x00\x00\x00", 8),                   // a TIFF
        "<API_RESULT><ERROR>1</ERROR></API_RESULT><API_RESULT/>",  // two roots
        "<API_RESULT><ERROR>107</ERROR></API_RESULT>junk",         // text after the root
        "junk<API_RESULT><ERROR>107</ERROR></API_RESULT>",         // text before it
        "<API_RESULT><ERROR>107</ERROR></API_RESULT><![CDATA[x]]>",
        "\xFF\xFE\x00\x01garbage",
    };
    int n = 0;
    for (const std::string& bytes : broken) {
        const auto file = answer(bytes, "broken" + std::to_string(n++) + ".xml");
        out_ = u"stale";
        EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/ERROR", out_, 260, 0), 0u) << bytes;
        EXPECT_EQ(out_, u"");
    }
    EXPECT_EQ(
        ReadXmlValue(fromUtf8((dir_ / "none.xml").string()), u"API_RESULT/ERROR", out_, 260, 0),
        0u);
    EXPECT_EQ(ReadXmlValue(u"", u"API_RESULT/ERROR", out_, 260, 0), 0u);
    EXPECT_EQ(ReadXmlValue(fromUtf8(dir_.path().string()), u"API_RESULT/ERROR", out_, 260, 0), 0u);
}

TEST_F(ResultReaderTest, DeeplyNestedAnswersAreReadWithoutRecursion) {
    // As deep as the 1 MiB answer allows: the text inside is the value, and
    // white space, comments and a declaration around the root are allowed.
    for (const int depth : {70000, 140000}) {
        std::string nested = "<?xml version=\"1.0\"?>\n<!-- answer -->\n<API_RESULT><ERROR>";
        for (int i = 0; i < depth; ++i)
            nested += "<a>";
        nested += "107";
        for (int i = 0; i < depth; ++i)
            nested += "</a>";
        nested += "</ERROR></API_RESULT>\n";
        const auto file = answer(nested, "deep" + std::to_string(depth) + ".xml");
        EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/ERROR", out_, 260, 0), 1u) << depth;
        EXPECT_EQ(out_, u"107");
    }
}

TEST_F(ResultReaderTest, EntitiesFromADocumentTypeAreNotExpanded) {
    test::writeBytes(dir_ / "secret.txt", "secret");
    const auto file =
        answer("<!DOCTYPE API_RESULT [<!ENTITY x SYSTEM \"file://" +
               (dir_ / "secret.txt").string() + "\">]><API_RESULT><ERROR>&x;</ERROR></API_RESULT>");
    ReadXmlValue(file, u"API_RESULT/ERROR", out_, 260, 0);
    EXPECT_EQ(out_.find(u"secret"), std::u16string::npos);
}

TEST_F(ResultReaderTest, HugeValuesAreCutToTheCapacity) {
    const std::string huge(200000, '7');
    const auto file =
        answer("<API_RESULT><ERROR>" + huge + "</ERROR><E>a\xF0\x9F\x98\x80</E></API_RESULT>");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/ERROR", out_, 260, 0), 1u);
    EXPECT_EQ(out_, std::u16string(259, u'7'));
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/ERROR", out_, 2, 0), 1u);
    EXPECT_EQ(out_, u"7");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/ERROR", out_, 1, 0), 1u);
    EXPECT_EQ(out_, u"");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/ERROR", out_, 0, 0), 1u);
    EXPECT_EQ(out_, u"");
    // Room for "a" and half of the surrogate pair: the half is dropped.
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/E", out_, 3, 0), 1u);
    EXPECT_EQ(out_, u"a");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/E", out_, 4, 0), 1u);
    EXPECT_EQ(out_, u"a\U0001F600");
}

TEST_F(ResultReaderTest, PathMatchingManyElementsReadsEveryIndex) {
    std::string xml = "<API_RESULT><GET_ADDRESS_BOOK>";
    const unsigned contacts = 20000;
    for (unsigned i = 0; i < contacts; ++i)
        xml += "<CONTACT><ID>" + std::to_string(i) + "</ID><NAME>n" + std::to_string(i) +
               "</NAME></CONTACT>";
    xml += "</GET_ADDRESS_BOOK></API_RESULT>";
    const auto file = answer(xml);
    for (unsigned i = 0; i < contacts; ++i) {
        ASSERT_EQ(ReadXmlValue(file, u"API_RESULT/GET_ADDRESS_BOOK/CONTACT/ID", out_, 260, i),
                  contacts);
        ASSERT_EQ(out_, toU16(i));
        ASSERT_EQ(ReadXmlValue(file, u"API_RESULT/GET_ADDRESS_BOOK/CONTACT/NAME", out_, 260, i),
                  contacts);
        ASSERT_EQ(out_, u"n" + toU16(i));
    }
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/GET_ADDRESS_BOOK/CONTACT/ID", out_, 260, contacts),
              0u);
}

TEST_F(ResultReaderTest, AnotherAnswerHandedOverBetweenReadsIsSeen) {
    const auto file = answer("<API_RESULT><ERROR>107</ERROR></API_RESULT>");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/ERROR", out_, 260, 0), 1u);
    EXPECT_EQ(out_, u"107");
    // Replaced by the transport: a new file.
    answer("<API_RESULT><ERROR>301</ERROR></API_RESULT>");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/ERROR", out_, 260, 0), 1u);
    EXPECT_EQ(out_, u"301");
    // Rewritten in place by someone else, same size.
    test::writeBytes(dir_ / "result.xml", "<API_RESULT><ERROR>302</ERROR></API_RESULT>");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/ERROR", out_, 260, 0), 1u);
    EXPECT_EQ(out_, u"302");
    // Emptied.
    answer("");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/ERROR", out_, 260, 0), 0u);
    // Another file between reads of the first.
    const auto other = answer("<API_RESULT><ERROR>5</ERROR></API_RESULT>", "other.xml");
    EXPECT_EQ(ReadXmlValue(other, u"API_RESULT/ERROR", out_, 260, 0), 1u);
    EXPECT_EQ(out_, u"5");
    answer("<API_RESULT><ERROR>6</ERROR></API_RESULT>");
    EXPECT_EQ(ReadXmlValue(file, u"API_RESULT/ERROR", out_, 260, 0), 1u);
    EXPECT_EQ(out_, u"6");
}

TEST_F(ResultReaderTest, OtherEncodingsAreDecoded) {
    const auto latin = answer(
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
        "<API_RESULT><N>J\xFCrgen</N></API_RESULT>");
    EXPECT_EQ(ReadXmlValue(latin, u"API_RESULT/N", out_, 260, 0), 1u);
    EXPECT_EQ(out_, u"J\u00FCrgen");
    const auto wide = answer(test::utf16le(u"<API_RESULT><N>\u0416</N></API_RESULT>"), "wide.xml");
    EXPECT_EQ(ReadXmlValue(wide, u"API_RESULT/N", out_, 260, 0), 1u);
    EXPECT_EQ(out_, u"\u0416");
}

}  // namespace
}  // namespace miravo
