#include "server/Multipart.h"

#include "server/HeaderText.h"

#include <algorithm>
#include <cctype>

namespace miravo::server {

namespace {

// The value of `key` among the ";"-separated parameters of a header value:
// key="quoted" or key=token. Keys match without regard to case.
std::optional<std::string> headerParameter(std::string_view header, std::string_view key) {
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t semi = header.find(';', pos);
        if (semi == std::string_view::npos)
            return std::nullopt;
        std::string_view rest = trimBlanks(header.substr(semi + 1));
        pos = semi + 1;
        if (!startsWithNoCase(rest, key) || rest.size() <= key.size())
            continue;
        std::string_view after = trimBlanks(rest.substr(key.size()));
        if (after.empty() || after.front() != '=')
            continue;
        after = trimBlanks(after.substr(1));
        if (!after.empty() && after.front() == '"') {
            const std::size_t close = after.find('"', 1);
            if (close == std::string_view::npos)
                return std::nullopt;
            return std::string(after.substr(1, close - 1));
        }
        const std::size_t end = after.find(';');
        return std::string(trimBlanks(after.substr(0, end)));
    }
    return std::nullopt;
}

}  // namespace

const FormPart* FormData::find(std::string_view name) const {
    for (const FormPart& part : parts) {
        if (part.name == name)
            return &part;
    }
    return nullptr;
}

std::string FormData::value(std::string_view name) const {
    const FormPart* part = find(name);
    return part ? part->value : std::string();
}

std::optional<std::string> boundaryOf(std::string_view contentType) {
    if (!startsWithNoCase(trimBlanks(contentType), "multipart/form-data"))
        return std::nullopt;
    auto boundary = headerParameter(contentType, "boundary");
    if (!boundary || boundary->empty() || boundary->size() > 200)
        return std::nullopt;
    return boundary;
}

FormError parseForm(std::string_view body, std::string_view boundary, const FormLimits& limits,
                    FormData& out) {
    out.parts.clear();
    if (boundary.empty())
        return FormError::NoBoundary;
    const std::string delimiter = "--" + std::string(boundary);
    const std::string nextDelimiter = "\r\n" + delimiter;

    // The body starts with the first delimiter (a preamble before a line
    // holding it is allowed).
    std::size_t pos;
    if (body.substr(0, delimiter.size()) == delimiter) {
        pos = delimiter.size();
    } else {
        const std::size_t found = body.find(nextDelimiter);
        if (found == std::string_view::npos)
            return body.empty() ? FormError::None : FormError::Malformed;
        pos = found + nextDelimiter.size();
    }

    for (;;) {
        // Just behind a delimiter: "--" closes the body, CR LF opens a part.
        std::string_view rest = body.substr(pos);
        if (rest.substr(0, 2) == "--")
            return FormError::None;
        if (rest.substr(0, 2) != "\r\n")
            return FormError::Malformed;
        pos += 2;

        const std::size_t headersEnd = body.find("\r\n\r\n", pos);
        if (headersEnd == std::string_view::npos || headersEnd - pos > 4096)
            return FormError::Malformed;
        FormPart part;
        bool disposition = false;
        std::string_view headers = body.substr(pos, headersEnd - pos);
        while (!headers.empty()) {
            const std::size_t eol = headers.find("\r\n");
            const std::string_view line = headers.substr(0, eol);
            headers = eol == std::string_view::npos ? std::string_view() : headers.substr(eol + 2);
            if (startsWithNoCase(line, "content-disposition:")) {
                const std::string_view value = trimBlanks(line.substr(20));
                if (!startsWithNoCase(value, "form-data"))
                    return FormError::Malformed;
                auto name = headerParameter(value, "name");
                if (!name || name->empty())
                    return FormError::Malformed;
                part.name = *name;
                part.filename = headerParameter(value, "filename").value_or("");
                disposition = true;
            } else if (startsWithNoCase(line, "content-type:")) {
                part.contentType = std::string(trimBlanks(line.substr(13)));
            }
        }
        if (!disposition)
            return FormError::Malformed;
        pos = headersEnd + 4;

        // The value runs to the next delimiter line. A file is the last part
        // of an upload: its end is taken from the closing delimiter at the end
        // of the body, so file bytes that happen to hold the delimiter text
        // stay intact.
        std::size_t valueEnd = std::string_view::npos;
        bool lastPart = false;
        if (part.isFile()) {
            for (std::string_view tail : {"--\r\n", "--"}) {
                const std::string closing = nextDelimiter + std::string(tail);
                if (body.size() >= pos + closing.size() &&
                    body.substr(body.size() - closing.size()) == closing) {
                    valueEnd = body.size() - closing.size();
                    break;
                }
            }
        }
        if (valueEnd == std::string_view::npos)
            valueEnd = body.find(nextDelimiter, pos);
        if (valueEnd == std::string_view::npos) {
            // No further delimiter: the text exchange's last part, which
            // still ends with its CR LF. Without it the body was cut short.
            if (body.size() < pos + 2 || body.substr(body.size() - 2) != "\r\n")
                return FormError::Malformed;
            valueEnd = body.size() - 2;
            lastPart = true;
        }
        if (part.isFile() && limits.filesByReference)
            part.fileBytes = body.substr(pos, valueEnd - pos);
        else
            part.value = std::string(body.substr(pos, valueEnd - pos));
        // The transfer writes an empty line before the "coverpage" part; it
        // lands at the end of the value in front of it. No field but the
        // cover text can legitimately end with a line break.
        if (!part.isFile() && part.name != "coverpage" && part.value.size() >= 2 &&
            part.value.compare(part.value.size() - 2, 2, "\r\n") == 0)
            part.value.resize(part.value.size() - 2);
        if (!part.isFile() && part.value.size() > limits.maxFieldBytes)
            return FormError::FieldTooLarge;
        if (out.parts.size() >= limits.maxParts)
            return FormError::TooManyParts;
        out.parts.push_back(std::move(part));
        if (lastPart)
            return FormError::None;
        pos = valueEnd + nextDelimiter.size();
    }
}

FormError parseLeadingParts(std::string_view lead, std::string_view boundary,
                            const FormLimits& limits, FormData& out) {
    out.parts.clear();
    if (boundary.empty())
        return FormError::NoBoundary;
    const std::string delimiter = "--" + std::string(boundary);
    const std::string nextDelimiter = "\r\n" + delimiter;
    // Where the first part and the part still open at the end of `lead` begin.
    const std::size_t first =
        lead.substr(0, delimiter.size()) == delimiter ? 0 : lead.find(nextDelimiter);
    if (first == std::string_view::npos)
        return FormError::Malformed;
    std::size_t open = lead.rfind(nextDelimiter);
    if (open == std::string_view::npos || open < first)
        open = first;
    if (open > first) {
        // Closed where the last complete part ends, it reads as a whole body.
        const std::string closed = std::string(lead.substr(0, open)) + nextDelimiter + "--";
        if (const FormError error = parseForm(closed, boundary, limits, out);
            error != FormError::None)
            return error;
        for (FormPart& part : out.parts)
            part.fileBytes = {};  // pointed into `closed`
    }
    // The open part may be a file; a text field longer than this is beyond
    // the limit already.
    const std::string_view tail = lead.substr(open);
    const std::size_t headersEnd = tail.find("\r\n\r\n");
    if (headersEnd == std::string_view::npos)
        return tail.size() > 4096 + nextDelimiter.size() ? FormError::Malformed : FormError::None;
    const bool file = tail.substr(0, headersEnd).find("filename=") != std::string_view::npos;
    if (!file && tail.size() - headersEnd - 4 > limits.maxFieldBytes + 2)
        return FormError::FieldTooLarge;
    return FormError::None;
}

const char* formErrorName(FormError error) {
    switch (error) {
        case FormError::None:
            return "none";
        case FormError::NoBoundary:
            return "no-boundary";
        case FormError::Malformed:
            return "malformed";
        case FormError::TooManyParts:
            return "too-many-parts";
        case FormError::FieldTooLarge:
            return "field-too-large";
    }
    return "?";
}

}  // namespace miravo::server
