#include "convert/ConversionUnits.h"

#include <algorithm>

#include "app/Text.h"
#include "convert/PageConverter.h"

namespace miravo {

std::vector<ConversionUnit> PlanConversionUnits(const std::vector<JobEntry>& entries,
                                                unsigned workers, std::u16string_view workBase) {
    std::vector<ConversionUnit> units;
    units.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto fileIndex = static_cast<std::uint32_t>(i + 1);
        const std::uint32_t bands = BandCount(entries[i].pageCount);
        if (workers <= 1 || bands <= 1 || bands > kMaxPagesPerFile) {
            units.push_back({i, 0, bands, true, PageFileResultName(workBase, fileIndex)});
            continue;
        }
        // Two runs per worker: a run of busy pages then does not hold up
        // the others' end.
        const std::uint32_t runs = std::min<std::uint32_t>(bands, 2 * workers);
        const std::uint32_t length = (bands + runs - 1) / runs;
        const std::u16string base =
            std::u16string(workBase) + u"_res_" + toU16(static_cast<long>(fileIndex)) + u"_";
        for (std::uint32_t first = 0, run = 1; first < bands; first += length, ++run)
            units.push_back({i, first, std::min(length, bands - first), false,
                             base + toU16(static_cast<long>(run)) + u".tif"});
    }
    return units;
}

}  // namespace miravo
