#include "convert/ConversionUnits.h"

#include "convert/PageConverter.h"

namespace miravo {

std::vector<ConversionUnit> PlanConversionUnits(const std::vector<JobEntry>& entries,
                                                unsigned workers) {
    std::vector<ConversionUnit> units;
    units.reserve(entries.size());
    std::int64_t page = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::uint32_t bands = BandCount(entries[i].pageCount);
        if (workers <= 1 || bands <= 1 || bands > kMaxPagesPerFile) {
            units.push_back({i, 0, true, page});
        } else {
            for (std::uint32_t k = 0; k < bands; ++k)
                units.push_back({i, k, false, page + k});
        }
        page += bands;
    }
    return units;
}

}  // namespace miravo
