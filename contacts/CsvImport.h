// What the CSV import needs besides its dialog: the delimiter rules and the
// split of the header line into the fields the user picks the number from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace miravo {

inline constexpr char16_t kDefaultDelimiter = u',';
inline constexpr char16_t kTabDelimiter = u'\t';
// The delimiter edit holds one character; the setting keeps up to three.
inline constexpr std::size_t kDelimiterSettingLength = 3;

// The DELIMITER setting made from the delimiter edit's text: at most three
// characters, "," when the edit is empty. Used on opening, on Refresh and
// on OK alike, so the data lines are read with the delimiter the header
// was shown with.
std::u16string DelimiterSettingFromEdit(std::u16string_view editText);

// The character that separates fields: the first of the DELIMITER setting
// ("TAB" in the settings file is held as the tab character), "," when the
// setting is empty.
char16_t DelimiterOf(std::u16string_view setting);

// Whether the tab check box starts checked.
inline bool IsTabDelimiter(std::u16string_view setting) {
    return !setting.empty() && setting.front() == kTabDelimiter;
}

// The fields of the text's first line (it ends at the first CR, LF or the
// end of the text). A double quote toggles between inside and outside
// quotes and is dropped; the delimiter outside quotes ends a field; an
// empty field gives an empty entry, but a delimiter that ends the line adds
// none. A text that begins with a line end (or is empty) gives no fields.
std::vector<std::u16string> SplitCsvHeader(std::u16string_view text, char16_t delimiter);

}  // namespace miravo
