// Language files and the type-checked formatting of their texts: a file
// from the input, and the input as a format over the arguments the
// program passes.
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace miravo;
    const std::string_view bytes = fuzz::Bytes(data, size);
    LanguageTable table;
    if (LoadLanguage(table, FromFsPath(fuzz::AsFile(bytes, "lang.ini")), u"en") == 1) {
        for (int id : {32, 35, 36, 84, 117, 126, 999})
            GetText(table, id, 3, u"text");
    }
    const std::u16string format = fuzz::Utf16Le(bytes);
    FormatText(format, {});
    FormatText(format, {TextArg(42), TextArg(u"name"), TextArg(-7)});
    FormatAccepts(format, {TextArg(u"a"), TextArg(1)});
    if (IsHexForm(format))
        DecodeHexForm(format);
    return 0;
}
