// Mass-fax input: a list file's text, the line rule, and the CSV import.
#include "contacts/CsvImport.h"
#include "contacts/MassFaxList.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace miravo;
    const std::string_view bytes = fuzz::Bytes(data, size);
    if (LooksLikeUtf16(bytes))
        return 0;  // refused as an unsupported file format
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
