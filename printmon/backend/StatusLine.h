// Lines for the print system's status channel (the backend's standard
// error). The print system acts on every line it reads there ("PPD:",
// "STATE:", "ATTR:" ...), so a line is built from the backend's own words
// and values that can no longer start a line of their own.
#pragma once

#include <string>
#include <string_view>

namespace miravo::backend {

// True when `value` holds a C0 control byte, DEL, or a C1 control
// (U+0080..U+009F) written in UTF-8.
bool HoldsControlCharacters(std::string_view value);

// `value` with those characters removed and cut to 300 bytes: safe to
// put into a status line.
std::string StatusValue(std::string_view value);

// The print system shows status lines to every user (the printer's state
// message), so they name no one: from now on `secret` (a user name, a
// home, a title, a path) is written as `shownAs` in every status line,
// wherever it stands as a word of its own (not inside a longer word).
// Empty secrets are ignored.
void WithholdInStatus(std::string_view secret, std::string_view shownAs);

// `text` with every withheld secret replaced, longest secrets first.
std::string Withheld(std::string_view text);

// Writes "INFO: text" or "ERROR: text" and flushes; `text` passes through
// StatusValue as a whole, so no caller can end the line early.
void ReportInfo(std::string_view text);
void ReportError(std::string_view text);

}  // namespace miravo::backend
