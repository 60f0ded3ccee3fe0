// The print monitor's job file: reading it from disk and parsing its entries.
#include "app/Paths.h"
#include "convert/JobFile.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace miravo;
    const auto path = FromFsPath(fuzz::AsFile(fuzz::Bytes(data, size), "job"));
    CheckJobFile(path);
    if (const auto text = ReadJobFileText(path)) {
        for (const JobEntry& entry : ParseJobEntries(*text)) {
            PageCountFromName(entry.pageFilePath);
            PageBaseName(entry.pageFilePath);
        }
    }
    return 0;
}
