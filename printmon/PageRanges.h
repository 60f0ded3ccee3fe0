// The pages of a document a print job asks for ("page-ranges", `lp -P`):
// "1-4,7,9-" as the user wrote them, checked and written again as
// Ghostscript's page list. Nothing else passes: a value that is not plain
// ranges of page numbers never reaches a command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace miravo::print {

// The highest page number a range may name, and the most ranges in one list.
inline constexpr long kMaxRangePage = 100000;
inline constexpr int kMaxRanges = 100;

// "N", "N-M", "N-" (to the end) and "-M" (from the first page), separated
// by commas, spaces around them allowed; pages count from 1 and a range
// may not run backwards. A range's end beyond kMaxRangePage (up to 2^31 - 1)
// stands for the last page. Returns the list without spaces, "-M" written as
// "1-M" and "N-" as "N-kMaxRangePage"; nothing, with the reason in `error`, when it is malformed.
std::optional<std::string> PageListOf(std::string_view ranges, std::string& error);

}  // namespace miravo::print
