// The version page: the answer and the download address it offers.
#include <cstdlib>

#include "service/VersionCheck.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace miravo;
    const VersionAnswer answer = ReadVersionAnswer(fuzz::Bytes(data, size));
    if (const auto address = OpenableDownloadAddress(answer.downloadAddress)) {
        // Only http and https addresses are ever opened (any letter case).
        std::string scheme = address->substr(0, 8);
        for (char& c : scheme)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        if (scheme.rfind("http://", 0) != 0 && scheme.rfind("https://", 0) != 0)
            std::abort();
    }
    return 0;
}
