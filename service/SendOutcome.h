// How a send came out, in the words every place that tells it shares: the
// status window's summary row, title and tray, the desktop notification and
// miravo-send's last line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "service/FaxTransmission.h"

namespace miravo {

class LanguageTable;

struct OutcomeCounts {
    std::size_t total = 0;
    std::size_t delivered = 0;
    std::size_t failed = 0;
    std::size_t notSent = 0;
    std::size_t underWay = 0;

    // Every destination final or never sent: the outcome can be told.
    bool final() const { return total > 0 && underWay == 0; }
};

enum class OutcomeKind { UnderWay, AllDelivered, SomeDelivered, NoneDelivered };

OutcomeCounts CountOutcome(const std::vector<DestinationStatus>& destinations);
OutcomeKind KindOf(const OutcomeCounts& counts);

// "All delivered", "1 of 2 delivered (1 failed)", "None delivered"; while
// destinations are under way, the counts so far ("In progress: 3 of 600
// done, …").
std::u16string OutcomeText(const LanguageTable& language, const OutcomeCounts& counts);

// The pages a send costs: the document's own for one number, else what the
// figure counts ("6 fax pages: 3 pages × 2 numbers").
std::u16string FaxPagesText(const LanguageTable& language, long documentPages, long numbers);

}  // namespace miravo
