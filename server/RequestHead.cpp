#include "server/RequestHead.h"

#include "server/HeaderText.h"

#include <algorithm>
#include <cctype>

namespace miravo::server {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isToken(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) {
        return c > ' ' && c < 0x7f && c != ':' && c != '(' && c != ')' && c != ',' && c != ';' &&
               c != '"' && c != '/' && c != '[' && c != ']' && c != '{' && c != '}';
    });
}

}  // namespace

std::string RequestHead::value(std::string_view name) const {
    for (const auto& [n, v] : fields) {
        if (equalsNoCase(n, name))
            return v;
    }
    return {};
}

bool RequestHead::has(std::string_view name) const {
    return std::any_of(fields.begin(), fields.end(),
                       [&](const auto& field) { return equalsNoCase(field.first, name); });
}

std::string RequestHead::text() const {
    auto sorted = fields;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return lower(a.first) < lower(b.first); });
    std::string out = method + " " + target + " " + version + "\r\n";
    for (const auto& [name, value] : sorted)
        out += name + ": " + value + "\r\n";
    return out;
}

HeadStatus parseHead(std::string_view bytes, const HeadLimits& limits, RequestHead& out,
                     std::size_t& used) {
    const std::size_t end = bytes.find("\r\n\r\n");
    if (end == std::string_view::npos)
        return bytes.size() > limits.maxBytes ? HeadStatus::TooLarge : HeadStatus::Incomplete;
    used = end + 4;
    if (used > limits.maxBytes)
        return HeadStatus::TooLarge;

    out = RequestHead();
    std::string_view rest = bytes.substr(0, end + 2);
    auto nextLine = [&rest] {
        const std::size_t eol = rest.find("\r\n");
        const std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(eol + 2);
        return line;
    };
    const std::string_view requestLine = nextLine();
    const std::size_t s1 = requestLine.find(' ');
    const std::size_t s2 = requestLine.find(' ', s1 == std::string_view::npos ? s1 : s1 + 1);
    if (s1 == std::string_view::npos || s2 == std::string_view::npos)
        return HeadStatus::Malformed;
    out.method = std::string(requestLine.substr(0, s1));
    out.target = std::string(requestLine.substr(s1 + 1, s2 - s1 - 1));
    out.version = std::string(requestLine.substr(s2 + 1));
    if (!isToken(out.method) || out.target.empty() ||
        (out.version != "HTTP/1.1" && out.version != "HTTP/1.0"))
        return HeadStatus::Malformed;

    while (!rest.empty()) {
        const std::string_view line = nextLine();
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !isToken(line.substr(0, colon)))
            return HeadStatus::Malformed;
        if (out.fields.size() >= limits.maxFields)
            return HeadStatus::TooLarge;
        out.fields.emplace_back(std::string(line.substr(0, colon)),
                                std::string(trimBlanks(line.substr(colon + 1))));
    }
    return HeadStatus::Complete;
}

}  // namespace miravo::server
