#include "service/SendOutcome.h"

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

// Destinations from a pattern: O delivered, F failed, N never sent, _ under way.
std::vector<DestinationStatus> destinations(std::string_view pattern) {
    std::vector<DestinationStatus> out;
    for (const char c : pattern) {
        DestinationStatus d;
        d.status = c == 'O' ? u"OK" : c == 'F' ? u"BU" : u"";
        d.notSent = c == 'N';
        out.push_back(d);
    }
    return out;
}

TEST(SendOutcome, WordsTellTheWholeOutcomeInEveryLanguage) {
    const struct {
        const char* pattern;
        OutcomeKind kind;
        const char16_t* en;
        const char16_t* de;
        const char16_t* ru;
    } cases[] = {
        {"OO", OutcomeKind::AllDelivered, u"All delivered", u"Alle zugestellt", u"Все доставлены"},
        {"O", OutcomeKind::AllDelivered, u"All delivered", u"Alle zugestellt", u"Все доставлены"},
        {"OF", OutcomeKind::SomeDelivered, u"1 of 2 delivered (1 failed)",
         u"1 von 2 zugestellt (1 fehlgeschlagen)", u"Доставлено 1 из 2 (с ошибкой: 1)"},
        {"OFFNNN", OutcomeKind::SomeDelivered, u"1 of 6 delivered (2 failed, 3 not sent)",
         u"1 von 6 zugestellt (2 fehlgeschlagen, 3 nicht gesendet)", nullptr},
        {"FFN", OutcomeKind::NoneDelivered, u"None delivered", u"Keines zugestellt",
         u"Ни один не доставлен"},
        {"OF_", OutcomeKind::UnderWay, u"In progress: 2 of 3 done: 1 OK, 1 failed", nullptr,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        const OutcomeCounts counts = CountOutcome(destinations(c.pattern));
        EXPECT_EQ(KindOf(counts), c.kind);
        EXPECT_EQ(counts.final(), c.kind != OutcomeKind::UnderWay);
        for (const auto& [code, expected] :
             {std::pair{u"en", c.en}, std::pair{u"de", c.de}, std::pair{u"ru", c.ru}}) {
            if (!expected)
                continue;
            LanguageTable language;
            ASSERT_EQ(LoadLanguage(language, fromUtf8(MIRAVO_SOURCE_DIR "/data/lang.ini"), code), 1);
            EXPECT_EQ(toUtf8(OutcomeText(language, counts)), toUtf8(expected)) << toUtf8(code);
        }
    }
    EXPECT_FALSE(CountOutcome({}).final());  // nothing to tell about
}

TEST(SendOutcome, PagesSayWhatTheyCount) {
    LanguageTable language;
    ASSERT_EQ(LoadLanguage(language, fromUtf8(MIRAVO_SOURCE_DIR "/data/lang.ini"), u"en"), 1);
    EXPECT_EQ(FaxPagesText(language, 3, 1), u"3");
    EXPECT_EQ(FaxPagesText(language, 3, 0), u"3");
    EXPECT_EQ(toUtf8(FaxPagesText(language, 3, 2)), "6 fax pages: 3-page document \u00d7 2 numbers");
}

}  // namespace
}  // namespace miravo
