#include "service/ServiceTexts.h"

#include <map>

#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/ProfileIni.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

// A language whose text N reads "T<N>", so every lookup shows its number.
class ServiceTextsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::u16string text = u"[en]\r\nlang=Test\r\n";
        for (int id :
             {32, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 75, 76,
              77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94, 95, 999})
            text += u"" + toU16(id) + u"=T" + toU16(id) + u"\r\n";
        test::writeBytes(dir_ / "lang.ini", test::utf16le(text));
        ASSERT_EQ(LoadLanguage(language_, fromUtf8((dir_ / "lang.ini").string()), u"en"), 1);
    }

    std::u16string answer(const std::string& xml) {
        EXPECT_TRUE(writeFileAtomically(dir_ / "result.xml", xml));
        return fromUtf8((dir_ / "result.xml").string());
    }

    test::TempDir dir_;
    LanguageTable language_;
};

TEST_F(ServiceTextsTest, ErrorCodesMapToTheirTexts) {
    const std::map<std::int32_t, std::u16string> expected = {
        {0, u"OK"},    {101, u"T80"},        {102, u"T81"}, {103, u"T82"},  {104, u"T83"},
        {105, u"105"}, {106, u"106"},        {107, u"T84"}, {108, u"T85"},  {109, u"109"},
        {110, u"T86"}, {113, u"T89"},        {116, u"T92"}, {117, u"T95"},  {200, u"T93"},
        {201, u"T94"}, {202, u"T95"},        {301, u"T95"}, {400, u"T95"},  {401, u"T75"},
        {403, u"T77"}, {405, u"T79"},        {406, u"T95"}, {999, u"T999"}, {-1, u"T95"},
        {100, u"T95"}, {2147483647, u"T95"},
    };
    for (const auto& [code, text] : expected)
        EXPECT_EQ(ErrorText(language_, code), text) << code;
}

TEST_F(ServiceTextsTest, FaxStatusesCompareAsWholeExactStrings) {
    const std::map<std::u16string, std::u16string> expected = {
        {u"OK", u"T35"}, {u"", u"T37"},   {u"FA", u"T36"},  {u"NF", u"T38"}, {u"IT", u"T39"},
        {u"CF", u"T40"}, {u"BU", u"T41"}, {u"CR", u"T42"},  {u"CE", u"T43"}, {u"NA", u"T44"},
        {u"IN", u"T45"}, {u"SB", u"T46"}, {u"BA", u"T47"},  {u"LP", u"T48"}, {u"CS", u"T49"},
        {u"RF", u"T50"}, {u"ok", u"T51"}, {u"OK ", u"T51"}, {u"O", u"T51"},  {u"XX", u"T51"},
    };
    for (const auto& [status, text] : expected)
        EXPECT_EQ(FaxStatusText(language_, status), text) << toUtf8(status);
}

TEST(StatusWithCodeTest, CodeShownBesideTheWordsUnlessItRepeatsThem) {
    const std::pair<std::pair<std::u16string, std::u16string>, std::u16string> cases[] = {
        {{u"OK", u"OK"}, u"OK"},
        {{u"Busy", u"BU"}, u"Busy [BU]"},
        {{u"In progress", u""}, u"In progress [--]"},
        {{u"Zugestellt", u"OK"}, u"Zugestellt [OK]"},
    };
    for (const auto& [in, shown] : cases)
        EXPECT_EQ(StatusWithCode(in.first, in.second), shown) << toUtf8(shown);
}

TEST_F(ServiceTextsTest, ResultCheckFollowsItsEdgeCases) {
    struct Case {
        std::string xml;
        bool ok;
        std::int32_t code;
        std::u16string message;
    };
    const Case cases[] = {
        // RESULT "0": success, ERROR not read.
        {"<API_RESULT><ERROR>107</ERROR><ACT><RESULT>0</RESULT></ACT></API_RESULT>", true, 0,
         u"OK"},
        {"<API_RESULT><ACT><RESULT>1</RESULT></ACT><ERROR>107</ERROR></API_RESULT>", false, 107,
         u"T84"},
        // A failed verdict without a code is no usable answer, never "OK".
        {"<API_RESULT><ACT><RESULT>1</RESULT></ACT></API_RESULT>", false, 999, u"T999"},
        {"<API_RESULT><ERROR>105</ERROR></API_RESULT>", false, 105, u"105"},
        {"<API_RESULT><ERROR>abc</ERROR></API_RESULT>", false, 999, u"T999"},
        // Only exactly "0" is success.
        {"<API_RESULT><ACT><RESULT>00</RESULT></ACT></API_RESULT>", false, 999, u"T999"},
        {"<API_RESULT><ACT><RESULT> 0</RESULT></ACT><ERROR>110</ERROR></API_RESULT>", false, 110,
         u"T86"},
        {"", false, 999, u"T999"},
        {"not xml", false, 999, u"T999"},
    };
    for (const Case& c : cases) {
        const ApiResult result = CheckApiResult(language_, u"API_RESULT/ACT/RESULT", answer(c.xml));
        EXPECT_EQ(result.ok, c.ok) << c.xml;
        EXPECT_EQ(result.code, c.code) << c.xml;
        EXPECT_EQ(result.message, c.message) << c.xml;
    }
}

TEST_F(ServiceTextsTest, ResultCheckReadsTheStoredAnswer) {
    OverrideApplicationDataFolder(dir_.folder());
    answer("<API_RESULT><ERROR>108</ERROR></API_RESULT>");
    const ApiResult result = CheckApiResult(language_, u"API_RESULT/GET_USER_PREFERENCES/RESULT");
    OverrideApplicationDataFolder(std::nullopt);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.code, 108);
    EXPECT_EQ(result.message, u"T85");
}

}  // namespace
}  // namespace miravo
