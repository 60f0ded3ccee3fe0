#include "printmon/backend/StatusLine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>
#include <vector>

namespace miravo::backend {

namespace {

constexpr std::size_t kMaxValueBytes = 300;

// Length of the control character at `at` (1 for C0 and DEL, 2 for a C1
// in UTF-8), 0 when there is none.
std::size_t controlAt(std::string_view text, std::size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte == 0x7F)
        return 1;
    if (byte == 0xC2 && at + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[at + 1]);
        if (next >= 0x80 && next <= 0x9F)
            return 2;
    }
    return 0;
}

std::string cleaned(std::string_view text, std::size_t limit) {
    std::string out;
    for (std::size_t at = 0; at < text.size() && out.size() < limit;) {
        if (const std::size_t length = controlAt(text, at)) {
            at += length;
            continue;
        }
        out.push_back(text[at++]);
    }
    // Never half a character at the cut.
    if (out.size() >= limit) {
        while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80)
            out.pop_back();
        if (!out.empty() && static_cast<unsigned char>(out.back()) >= 0xC0)
            out.pop_back();
    }
    return out;
}

std::vector<std::pair<std::string, std::string>>& secrets() {
    static std::vector<std::pair<std::string, std::string>> list;
    return list;
}

bool wordCharacter(std::string_view text, std::size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    return std::isalnum(byte) || byte >= 0x80;
}

void report(const char* level, std::string_view text) {
    std::fprintf(stderr, "%s: %s\n", level, cleaned(Withheld(text), 4 * kMaxValueBytes).c_str());
    std::fflush(stderr);
}

}  // namespace

bool HoldsControlCharacters(std::string_view value) {
    for (std::size_t at = 0; at < value.size(); ++at)
        if (controlAt(value, at))
            return true;
    return false;
}

void WithholdInStatus(std::string_view secret, std::string_view shownAs) {
    if (secret.empty())
        return;
    auto& list = secrets();
    list.emplace_back(secret, shownAs);
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

std::string Withheld(std::string_view text) {
    std::string out(text);
    for (const auto& [secret, shownAs] : secrets()) {
        std::size_t at = 0;
        while ((at = out.find(secret, at)) != std::string::npos) {
            const std::size_t end = at + secret.size();
            const bool word =
                (at == 0 || !wordCharacter(out, at - 1) || !wordCharacter(out, at)) &&
                (end == out.size() || !wordCharacter(out, end) || !wordCharacter(out, end - 1));
            if (!word) {
                ++at;
                continue;
            }
            out.replace(at, secret.size(), shownAs);
            at += shownAs.size();
        }
    }
    return out;
}

std::string StatusValue(std::string_view value) {
    return cleaned(value, kMaxValueBytes);
}

void ReportInfo(std::string_view text) {
    report("INFO", text);
}

void ReportError(std::string_view text) {
    report("ERROR", text);
}

}  // namespace miravo::backend
