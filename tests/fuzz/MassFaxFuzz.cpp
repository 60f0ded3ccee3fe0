// Mass-fax input: a list file's text, the line rule, and the CSV import.
#include "contacts/CsvImport.h"
#include "contacts/MassFaxList.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace miravo;
    const std::string_view bytes = fuzz::Bytes(data, size);
    {
        // A CSV file as the import reads it: any encoding, its delimiter
        // found, every field a number field and the first the names.
        const std::u16string decoded = DecodeText(bytes);
        const char16_t delimiter = DetectCsvDelimiter(decoded);
        const std::vector<CsvRow> rows = ParseCsv(decoded, delimiter);
        CsvColumns columns = rows.empty() ? CsvColumns{} : GuessCsvColumns(rows.front());
        for (std::size_t i = 1; !rows.empty() && i <= rows.front().size() && i < 64; ++i)
            columns.numbers.push_back(i);
        columns.name = 1;
        MassFaxList csv;
        AddCsvRows(csv, decoded, delimiter, columns);
        csv.recipients();
    }
    if (LooksLikeUtf16(bytes))
        return 0;  // read above
    const std::u16string text = DecodeMassFaxText(bytes);
    MassFaxList list;
    list.addLines(text);
    // The delimiter as typed in the import dialog: the input's first characters.
    const std::u16string setting = DelimiterSettingFromEdit(text.substr(0, 2));
    const std::vector<std::u16string> header = SplitCsvHeader(text, DelimiterOf(setting));
    const std::size_t field = size > 1 ? data[1] % (header.size() + 1) : 0;
    AddCsvData(list, text, field, setting);
    return 0;
}
