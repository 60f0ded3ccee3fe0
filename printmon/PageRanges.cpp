#include "printmon/PageRanges.h"

#include <cctype>
#include <vector>

namespace miravo::print {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

// A page number: digits only, from 1 to kMaxRangePage; 0 when it is not one.
// The end of a range may lie beyond (the print system writes "3-" as
// "3-2147483647"): it means the last page.
long pageNumber(std::string_view text, bool end = false) {
    if (text.empty() || text.size() > 10)
        return 0;
    long long value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return 0;
        value = value * 10 + (c - '0');
    }
    if (value > kMaxRangePage && end && value <= 2147483647)
        return kMaxRangePage;
    return value <= kMaxRangePage ? static_cast<long>(value) : 0;
}

}  // namespace

std::optional<std::string> PageListOf(std::string_view ranges, std::string& error) {
    if (trimmed(ranges).empty()) {
        error = "no page is named";
        return std::nullopt;
    }
    std::string list;
    int count = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = ranges.find(',', start);
        const std::string_view range = trimmed(ranges.substr(start, comma - start));
        if (++count > kMaxRanges) {
            error = "more than " + std::to_string(kMaxRanges) + " ranges";
            return std::nullopt;
        }
        const std::size_t dash = range.find('-');
        const std::string_view from = trimmed(range.substr(0, dash));
        const std::string_view to =
            dash == std::string_view::npos ? from : trimmed(range.substr(dash + 1));
        const long first = from.empty() && dash != std::string_view::npos ? 1 : pageNumber(from);
        const long last = to.empty() && dash != std::string_view::npos && !from.empty()
                              ? -1  // to the end
                              : pageNumber(to, dash != std::string_view::npos);
        if (range.empty() || first == 0 || last == 0 || (from.empty() && to.empty())) {
            error = "\"" + std::string(range) + "\" is not a page or a range of pages (from 1 to " +
                    std::to_string(kMaxRangePage) + ")";
            return std::nullopt;
        }
        if (last != -1 && last < first) {
            error = "the range \"" + std::string(range) + "\" runs backwards";
            return std::nullopt;
        }
        if (!list.empty())
            list += ',';
        list += std::to_string(first);
        // Ghostscript renders the last page for "N-" beyond it: the end
        // is written out.
        if (last == -1)
            list += '-' + std::to_string(kMaxRangePage);
        else if (last != first || dash != std::string_view::npos)
            list += '-' + std::to_string(last);
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return list;
}

}  // namespace miravo::print
