// What the CSV import needs besides its dialog: the delimiter rules and the
// split of the header line into the fields the user picks the number from.
#pragma once

#include <cstdint>
#include <optional>
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

namespace miravo {

// ---- Whole CSV files as spreadsheets and address books write them ----

using CsvRow = std::vector<std::u16string>;

// The rows of a CSV text: fields end at `delimiter`, rows at CR, LF or
// CR LF; a field in double quotes may hold the delimiter, line breaks and
// doubled quotes (""), which stand for one. Empty lines give no row. At
// most `maxRows` rows are read (the preview reads a few).
std::vector<CsvRow> ParseCsv(std::u16string_view text, char16_t delimiter,
                             std::size_t maxRows = SIZE_MAX);

// The delimiter the text is written with: of comma, semicolon and tab the
// one that splits its first rows into the same number (more than one) of
// fields most often; `fallback` when none splits them better than it does.
char16_t DetectCsvDelimiter(std::u16string_view text, char16_t fallback = kDefaultDelimiter);

// A cell holding several values the way address books export them
// ("+49 30 1 ::: +49 30 2"): each value, without blanks around it; empty
// values are dropped.
std::vector<std::u16string> SplitMultiValue(std::u16string_view cell);

// The header fields (counted from 1) that look like fax-number fields and
// the one that looks like a name field: a first guess the user may change.
struct CsvColumns {
    std::vector<std::size_t> numbers;
    std::optional<std::size_t> name;
};
CsvColumns GuessCsvColumns(const CsvRow& header);

// One number of the data rows with the name its row gives.
struct CsvEntry {
    std::u16string number;
    std::u16string name;
    bool operator==(const CsvEntry&) const = default;
};

// The numbers of the data rows (every row after the header), row by row
// and field by field in the order of `columns.numbers`, each value of a
// multi-value cell on its own, with the name field's text (its values
// joined by ", ") beside each.
std::vector<CsvEntry> CsvEntries(const std::vector<CsvRow>& rows, const CsvColumns& columns);

}  // namespace miravo
