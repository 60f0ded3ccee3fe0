// The service's multipart reader: the Content-Type's boundary on the
// first line, the body after it.
#include "server/Multipart.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace miravo::server;
    const std::string_view input = miravo::fuzz::Bytes(data, size);
    const auto lineEnd = input.find('\n');
    const std::string_view contentType = input.substr(0, lineEnd);
    const std::string_view body =
        lineEnd == std::string_view::npos ? std::string_view() : input.substr(lineEnd + 1);
    const auto boundary = boundaryOf(contentType);
    FormData form;
    FormLimits limits;
    limits.maxParts = 64;
    parseForm(body, boundary ? *boundary : std::string_view("--AaB03x"), limits, form);
    form.value("action");
    return 0;
}
