// The journal as CSV: UTF-8, a header row, one line per destination with
// its send's fields repeated, fields quoted where they need it.
#pragma once

#include <string>
#include <vector>

#include "journal/Journal.h"

namespace miravo {

std::string JournalCsv(const std::vector<JournalSend>& sends);

// "2026-12-08T14:27:05Z"; empty for 0.
std::string JournalTimeText(std::int64_t seconds);

}  // namespace miravo
