// How a job's page files are shared out among the conversion's workers: a
// page file of one page is one piece of work; a page file holding several
// pages is cut into runs of pages, so that its pages are converted on every
// core. Each piece is written to a result file of its own, and the pieces
// joined in order give the pages in the job's order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/JobFile.h"

namespace miravo {

struct ConversionUnit {
    std::size_t entry = 0;        // the job entry (from 0)
    std::uint32_t firstBand = 0;  // its first page (from 0)
    std::uint32_t bands = 0;      // pages in this piece
    bool whole = true;            // the entry's only piece: all its pages
    std::u16string resultName;    // the intermediate this piece is written to
};

// The pieces of `entries`, in the job's order, for `workers` workers, their
// results named after `workBase`. With one worker every page file is one
// piece. A page file that claims more pages than a document can number
// stays whole, and so is refused as a whole.
std::vector<ConversionUnit> PlanConversionUnits(const std::vector<JobEntry>& entries,
                                                unsigned workers, std::u16string_view workBase);

}  // namespace miravo
