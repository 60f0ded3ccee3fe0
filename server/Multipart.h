// Reading the client's multipart/form-data bodies. The client writes every
// part as "<delimiter>\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\n
// value\r\n"; its text exchanges end after the last part's CR LF without a
// closing delimiter, the upload ends with "\r\n<delimiter>--\r\n", and the
// transfer puts an empty line before its "coverpage" part. This reader takes
// all of that, and refuses anything it cannot read safely.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace miravo::server {

struct FormPart {
    std::string name;
    std::string filename;     // empty for a text field
    std::string contentType;  // the part's own Content-Type, if any
    std::string value;        // raw bytes, no decoding
    // A file read by reference: its bytes inside the body, which outlives
    // the form (the value is then empty).
    std::string_view fileBytes = {};
    bool isFile() const { return !filename.empty(); }
    std::string_view bytes() const { return fileBytes.data() ? fileBytes : value; }
};

struct FormData {
    std::vector<FormPart> parts;

    const FormPart* find(std::string_view name) const;
    // The first value of that name, empty when absent.
    std::string value(std::string_view name) const;
    bool has(std::string_view name) const { return find(name) != nullptr; }
};

enum class FormError {
    None,
    NoBoundary,    // no multipart Content-Type, or no boundary in it
    Malformed,     // not parts of that boundary, or a part cut short
    TooManyParts,  // more parts than the limit
    FieldTooLarge  // a text field beyond the limit
};

struct FormLimits {
    std::size_t maxParts = 5000;
    std::size_t maxFieldBytes = 64 * 1024;  // text fields only; files are bounded by the body
    bool filesByReference = false;          // files as views into the body, not copies
};

// The boundary parameter of a "multipart/form-data" Content-Type (quotes
// removed), or nothing.
std::optional<std::string> boundaryOf(std::string_view contentType);

FormError parseForm(std::string_view body, std::string_view boundary, const FormLimits& limits,
                    FormData& out);

// The parts that lie wholly within `lead`, the first bytes of a longer body:
// each one closed by a further delimiter inside it. Used to look at the
// credentials, which come first, before the rest is taken in.
FormError parseLeadingParts(std::string_view lead, std::string_view boundary,
                            const FormLimits& limits, FormData& out);

const char* formErrorName(FormError error);

}  // namespace miravo::server
