// A journal record as the command line names it: its number, or "last"
// for the newest record.
#pragma once

#include <cstdint>
#include <string>

#include "journal/Journal.h"

namespace miravo::cli {

// The record's id; 0 with a message when the text names no record of `journal`.
std::int64_t ResolveRecord(const Journal& journal, const std::string& text, std::string& error);

}  // namespace miravo::cli
