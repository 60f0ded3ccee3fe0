#include "contacts/CsvImport.h"

#include <QString>

namespace miravo {

std::u16string DelimiterSettingFromEdit(std::u16string_view editText) {
    if (editText.empty())
        return std::u16string(1, kDefaultDelimiter);
    return std::u16string(editText.substr(0, kDelimiterSettingLength));
}

char16_t DelimiterOf(std::u16string_view setting) {
    return setting.empty() ? kDefaultDelimiter : setting.front();
}

std::vector<std::u16string> SplitCsvHeader(std::u16string_view text, char16_t delimiter) {
    std::vector<std::u16string> fields;
    const std::size_t end = text.find_first_of(u"\r\n");
    const std::u16string_view line = text.substr(0, end);
    if (line.empty())
        return fields;
    std::u16string field;
    bool quoted = false;
    bool endedByDelimiter = false;
    for (char16_t c : line) {
        endedByDelimiter = false;
        if (c == u'"') {
            quoted = !quoted;
        } else if (c == delimiter && !quoted) {
            fields.push_back(std::move(field));
            field.clear();
            endedByDelimiter = true;
        } else {
            field.push_back(c);
        }
    }
    if (!endedByDelimiter)
        fields.push_back(std::move(field));
    return fields;
}

}  // namespace miravo

namespace miravo {

namespace {

std::u16string_view trimmedView(std::u16string_view s) {
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == 0xA0; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::u16string lowered(std::u16string_view s) {
    return QString::fromUtf16(s.data(), qsizetype(s.size())).toLower().toStdU16String();
}

}  // namespace

std::vector<CsvRow> ParseCsv(std::u16string_view text, char16_t delimiter, std::size_t maxRows) {
    std::vector<CsvRow> rows;
    CsvRow row;
    std::u16string field;
    bool quoted = false;
    bool rowHasText = false;  // a row of nothing is an empty line
    bool fieldStart = true;   // only a quote that opens a field quotes it
    const auto endField = [&] {
        row.push_back(std::move(field));
        field.clear();
        fieldStart = true;
    };
    const auto endRow = [&] {
        if (rowHasText || !row.empty()) {
            endField();
            rows.push_back(std::move(row));
        }
        row.clear();
        field.clear();
        rowHasText = false;
        fieldStart = true;
    };
    for (std::size_t i = 0; i < text.size() && rows.size() < maxRows; ++i) {
        const char16_t c = text[i];
        if (quoted) {
            if (c != u'"')
                field.push_back(c);
            else if (i + 1 < text.size() && text[i + 1] == u'"')
                field.push_back(text[++i]);
            else
                quoted = false;
        } else if (c == u'"' && fieldStart) {
            quoted = true;
            rowHasText = true;
            fieldStart = false;
        } else if (c == delimiter) {
            endField();
            rowHasText = true;
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            endRow();
        } else {
            field.push_back(c);
            rowHasText = true;
            fieldStart = false;
        }
    }
    if (rows.size() < maxRows)
        endRow();
    return rows;
}

char16_t DetectCsvDelimiter(std::u16string_view text, char16_t fallback) {
    constexpr std::size_t kSampleRows = 20;
    char16_t best = fallback;
    std::size_t bestScore = 0;
    // The fallback goes first, so that it wins where another splits as well.
    for (char16_t candidate : {fallback, u',', u';', u'\t'}) {
        if (candidate == 0)
            continue;
        const std::vector<CsvRow> rows = ParseCsv(text, candidate, kSampleRows);
        if (rows.empty() || rows.front().size() < 2)
            continue;
        // Rows split like the header count; a header alone counts once.
        std::size_t score = 1;
        for (std::size_t i = 1; i < rows.size(); ++i)
            if (rows[i].size() == rows.front().size())
                ++score;
        if (score > bestScore) {
            best = candidate;
            bestScore = score;
        }
    }
    return best;
}

std::vector<std::u16string> SplitMultiValue(std::u16string_view cell) {
    constexpr std::u16string_view kSeparator = u":::";
    std::vector<std::u16string> values;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = cell.find(kSeparator, start);
        const std::u16string_view value =
            trimmedView(cell.substr(start, end == std::u16string_view::npos ? end : end - start));
        if (!value.empty())
            values.emplace_back(value);
        if (end == std::u16string_view::npos)
            return values;
        start = end + kSeparator.size();
    }
}

CsvColumns GuessCsvColumns(const CsvRow& header) {
    CsvColumns columns;
    for (std::size_t i = 0; i < header.size(); ++i) {
        const std::u16string h = lowered(header[i]);
        if (h.find(u"fax") != std::u16string::npos || h.find(u"факс") != std::u16string::npos) {
            if (h.find(u"type") == std::u16string::npos && h.find(u"label") == std::u16string::npos)
                columns.numbers.push_back(i + 1);
        } else if (!columns.name && (h == u"name" || h == u"full name" || h == u"display name" ||
                                     h == u"firma" || h == u"company" || h == u"имя" ||
                                     h == u"vollständiger name" || h == u"anzeigename")) {
            columns.name = i + 1;
        }
    }
    return columns;
}

std::vector<CsvEntry> CsvEntries(const std::vector<CsvRow>& rows, const CsvColumns& columns) {
    std::vector<CsvEntry> entries;
    const auto cell = [](const CsvRow& row, std::size_t field) -> std::u16string_view {
        return field >= 1 && field <= row.size() ? std::u16string_view(row[field - 1])
                                                 : std::u16string_view();
    };
    for (std::size_t r = 1; r < rows.size(); ++r) {
        std::u16string name;
        if (columns.name)
            for (const std::u16string& value : SplitMultiValue(cell(rows[r], *columns.name)))
                name += (name.empty() ? u"" : u", ") + value;
        for (std::size_t field : columns.numbers)
            for (std::u16string& number : SplitMultiValue(cell(rows[r], field)))
                entries.push_back({std::move(number), name});
    }
    return entries;
}

}  // namespace miravo
