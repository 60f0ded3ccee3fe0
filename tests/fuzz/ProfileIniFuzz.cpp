// Settings and language files as profile INI: reading, looking up,
// rewriting a key; what was set must read back.
#include <cstdlib>

#include "app/ProfileIni.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace miravo;
    ProfileFile file = ProfileFile::load(fuzz::AsFile(fuzz::Bytes(data, size), "settings.ini"));
    for (const std::u16string& section : file.sections()) {
        file.getString(section, u"USER_NAME", u"", 260);
        file.getInt(section, u"TIMEOUT", 1000);
    }
    file.set(u"OPTIONS", u"USER_NAME", u"fuzz");
    if (file.value(u"OPTIONS", u"USER_NAME") != std::u16string(u"fuzz"))
        std::abort();  // a written key must read back
    file.text();
    return 0;
}
