#include "contacts/CsvImport.h"

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
