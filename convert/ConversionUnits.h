// How a job's page files are shared out among the conversion's workers: a
// page file of one page is one piece of work; each page of a page file
// holding several pages is a piece of its own, so that the pages of one
// long page file are converted on every core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/JobFile.h"

namespace miravo {

struct ConversionUnit {
    std::size_t entry = 0;        // the job entry (from 0)
    std::uint32_t firstBand = 0;  // its first page in the page file (from 0)
    bool whole = true;            // all the page file's pages, not one of them
    std::int64_t firstPage = 0;   // its first page in the document (from 0)
};

// The pieces of `entries`, in the job's order, for `workers` workers. With
// one worker every page file is one piece. A page file that claims more
// pages than a document can number stays whole, and so is refused whole.
std::vector<ConversionUnit> PlanConversionUnits(const std::vector<JobEntry>& entries,
                                                unsigned workers);

}  // namespace miravo
