// Number checking by region: valid and invalid numbers, the same number
// written differently, and the counts of a pasted list.
#include "app/NumberCheck.h"

#include <gtest/gtest.h>
#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>

#include <random>

#include "app/Text.h"

namespace miravo {
namespace {

TEST(NumberCheckTest, NumbersPerRegion) {
    struct Case {
        const char16_t* region;
        const char16_t* number;
        bool valid;
        const char16_t* international;  // empty: not a number at all; null: not checked
    } cases[] = {
        {u"DE", u"030 12345678", true, u"+493012345678"},
        {u"DE", u"+49 (30) 1234-5678", true, u"+493012345678"},
        {u"DE", u"0049 30 12345678", true, u"+493012345678"},
        {u"DE", u"030 1", false, nullptr},
        {u"DE", u"Fax office", false, u""},
        {u"US", u"(650) 253-0000", true, u"+16502530000"},
        {u"US", u"+1 650 253 0000", true, u"+16502530000"},
        {u"US", u"555-0000", false, u"+15550000"},
        {u"GB", u"020 7031 3000", true, u"+442070313000"},
        {u"GB", u"+44 20 7031 3000", true, u"+442070313000"},
        {u"GB", u"020 7031", false, nullptr},
        {u"FR", u"01 42 68 53 00", true, u"+33142685300"},
        // A national number read in the wrong region is another number.
        {u"US", u"030 12345678", false, u"+103012345678"},
        {u"DE", u"", false, u""},
        // A vanity number is a real number, but not as the service takes
        // it: invalid here, and its international form has the digits.
        {u"US", u"+1-800-FLOWERS", false, u"+18003569377"},
        {u"US", u"+1 800 356 9377", true, u"+18003569377"},
    };
    for (const Case& c : cases) {
        const NumberVerdict v = NumberChecker(c.region).check(c.number);
        EXPECT_EQ(v.valid, c.valid) << std::string(c.number, c.number + std::u16string_view(c.number).size());
        if (c.international)
            EXPECT_EQ(v.international, std::u16string(c.international));
    }
}

TEST(NumberCheckTest, AListCountsValidInvalidAndDuplicates) {
    const std::vector<std::u16string> list = {
        u"030 12345678", u"+49 30 12345678", u"Fax office", u"Fax office",
        u"089 1234567",  u"030-1234-5678",   u"12",
    };
    const NumberListCheck check = CheckNumberList(list, u"DE");
    EXPECT_EQ(check.validCount, 2u);
    EXPECT_EQ(check.invalidCount, 2u);
    EXPECT_EQ(check.duplicateCount, 3u);
    EXPECT_EQ(check.duplicate, (std::vector<char>{0, 1, 0, 1, 0, 1, 0}));
    EXPECT_EQ(check.invalid, (std::vector<char>{0, 0, 1, 0, 0, 0, 1}));

    // Checked again with kept verdicts: the same answer, each text judged once.
    NumberVerdictCache cache;
    for (int round = 0; round < 2; ++round) {
        const NumberListCheck again = CheckNumberList(list, u"DE", &cache);
        EXPECT_EQ(again.duplicate, check.duplicate);
        EXPECT_EQ(again.invalid, check.invalid);
        EXPECT_EQ(cache.size(), 6u);
    }
}

// What the fax service takes as written.
TEST(NumberCheckTest, ServiceTakesDigitsWithSeparatorsOnly) {
    const struct {
        const char16_t* number;
        bool taken;
    } cases[] = {
        {u"+49 (30) 1234-5678", true}, {u"030/1234.56", true},   {u" +49 30 1234", true},
        {u"12345", true},              {u"1234", false},         {u"123456789012345678901", false},
        {u"+1-800-FLOWERS", false},    {u"030 1234 x12", false}, {u"++49 30 1234", false},
        {u"49+30 1234", false},        {u"030\t1234567", false}, {u"", false},
        {u"\uff10\uff13\uff10 1234567", false},  // digits of another width
    };
    for (const auto& c : cases)
        EXPECT_EQ(ServiceTakesNumber(c.number), c.taken) << toUtf8(c.number);
}

// Whatever the checker does to ask the library less, its verdict is the
// library's own on the text as written: numbers written with separators,
// brackets, pluses and stray characters in every place, in regions with
// different prefixes.
TEST(NumberCheckTest, VerdictIsTheLibrarysOnTheTextAsWritten) {
    using i18n::phonenumbers::PhoneNumber;
    using i18n::phonenumbers::PhoneNumberUtil;
    const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();
    std::vector<std::string> texts = {"12", "1 2", "1-2-3", "+49 (30) 1234-5678", "++49 30 1234",
                                      "+ +49 30 1234", "(+44) 20 7031 3000", "0 0 4 9 30 1234",
                                      "49+30 1234", "030 1234 x12", "+1 650 253 0000 #", "+"};
    std::mt19937 random(29);
    const std::string pieces = "0123456789012345678901234567 -./()+x#\t";
    for (int i = 0; i < 3000; ++i) {
        std::string text = random() % 3 == 0 ? "+" : random() % 4 == 0 ? "00" : "";
        for (std::size_t length = random() % 18; length > 0; --length)
            text.push_back(pieces[random() % pieces.size()]);
        texts.push_back(text);
    }
    const char* regions[] = {"DE", "US", "GB", "IT", "RU", "BR", "AU"};
    for (const std::string& text : texts) {
        const char* region = regions[std::hash<std::string>()(text) % std::size(regions)];
        PhoneNumber number;
        NumberVerdict expected;
        if (util.Parse(text, region, &number) == PhoneNumberUtil::NO_PARSING_ERROR) {
            expected.valid = util.IsValidNumber(number) && ServiceTakesNumber(fromUtf8(text));
            std::string e164;
            util.Format(number, PhoneNumberUtil::E164, &e164);
            expected.international = fromUtf8(e164);
        }
        const NumberVerdict got = NumberChecker(fromUtf8(region)).check(fromUtf8(text));
        EXPECT_EQ(got.valid, expected.valid) << text << " " << region;
        EXPECT_EQ(got.international, expected.international) << text << " " << region;
    }
}

TEST(NumberCheckTest, RegionsAreTwoKnownLetters) {
    EXPECT_EQ(NormalizedRegion(u"de"), u"DE");
    EXPECT_EQ(NormalizedRegion(u"XX"), u"");
    EXPECT_EQ(NormalizedRegion(u"DEU"), u"");
    EXPECT_EQ(NormalizedRegion(RegionFromLocale()), RegionFromLocale());
}

}  // namespace
}  // namespace miravo
