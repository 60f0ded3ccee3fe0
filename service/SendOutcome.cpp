#include "service/SendOutcome.h"

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "app/TextIds.h"

namespace miravo {

OutcomeCounts CountOutcome(const std::vector<DestinationStatus>& destinations) {
    OutcomeCounts counts;
    counts.total = destinations.size();
    for (const DestinationStatus& d : destinations) {
        if (d.notSent)
            ++counts.notSent;
        else if (d.status.empty())
            ++counts.underWay;
        else if (d.status == u"OK")
            ++counts.delivered;
        else
            ++counts.failed;
    }
    return counts;
}

OutcomeKind KindOf(const OutcomeCounts& counts) {
    if (!counts.final())
        return OutcomeKind::UnderWay;
    if (counts.delivered == counts.total)
        return OutcomeKind::AllDelivered;
    return counts.delivered == 0 ? OutcomeKind::NoneDelivered : OutcomeKind::SomeDelivered;
}

std::u16string OutcomeText(const LanguageTable& language, const OutcomeCounts& counts) {
    std::u16string parts;
    const auto add = [&parts](std::u16string part) {
        parts += (parts.empty() ? u"" : u", ") + part;
    };
    if (counts.failed > 0)
        add(GetText(language, text::kFailedCount, static_cast<int>(counts.failed)));
    if (counts.notSent > 0)
        add(GetText(language, text::kNotSentCount, static_cast<int>(counts.notSent)));
    switch (KindOf(counts)) {
        case OutcomeKind::AllDelivered:
            return GetText(language, text::kOutcomeAllDelivered);
        case OutcomeKind::NoneDelivered:
            return GetText(language, text::kOutcomeNoneDelivered);
        case OutcomeKind::SomeDelivered:
            return GetText(language, text::kOutcomeSomeDelivered,
                           static_cast<int>(counts.delivered), static_cast<int>(counts.total),
                           parts);
        case OutcomeKind::UnderWay:
            break;
    }
    return GetText(language, text::kOutcomeRunning,
                   GetText(language, text::kDestinationsDone,
                           static_cast<int>(counts.delivered + counts.failed),
                           static_cast<int>(counts.total), static_cast<int>(counts.delivered),
                           static_cast<int>(counts.failed)));
}

std::u16string FaxPagesText(const LanguageTable& language, long documentPages, long numbers) {
    if (numbers <= 1)
        return toU16(documentPages);
    return GetText(language, text::kFaxPagesTimesNumbers, documentPages * numbers, documentPages,
                   numbers);
}

}  // namespace miravo
