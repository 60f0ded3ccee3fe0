// What a fax is likely to cost before it is sent: the price of one page to
// one number as the service estimated it for the newest sends in the
// journal, times the pages and the numbers of this one.
#pragma once

#include <optional>

namespace miravo {
class Journal;
}

namespace miravo::ui {

// The price of one page to one number; none before a send the service
// priced (or without a journal).
std::optional<double> PricePerPage(const Journal& journal);
// The same from the user's journal, when there is one (never made here).
std::optional<double> PricePerPageOfTheJournal();

}  // namespace miravo::ui
