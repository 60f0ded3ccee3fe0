#include "printmon/backend/DocumentTitle.h"

namespace miravo::backend {

namespace {

constexpr std::size_t kMaxTitleBytes = 100;

// Length of the valid UTF-8 sequence at `at`, or 0 when it is not one;
// `code` receives the character.
std::size_t sequenceLength(std::string_view text, std::size_t at, char32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    char32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code >= lowest && code <= 0x10FFFF && !surrogate ? length : 0;
}

// C1 controls, and the characters that change the direction text is shown
// in: a title could otherwise show a name other than the file's.
bool invisible(char32_t code) {
    return (code >= 0x80 && code <= 0x9F) || code == 0x061C || code == 0x200E || code == 0x200F ||
           (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string SafeDocumentTitle(std::string_view title) {
    std::string safe;
    for (std::size_t at = 0; at < title.size();) {
        const auto c = static_cast<unsigned char>(title[at]);
        std::size_t length = 1;
        std::string_view piece = " ";
        if (c >= 0x80) {
            char32_t code = 0;
            length = sequenceLength(title, at, code);
            if (length && invisible(code)) {
                at += length;
                continue;
            }
            piece = length ? title.substr(at, length) : std::string_view("?");
            length = length ? length : 1;
        } else if (c >= 0x20 && c != 0x7F && c != '/' && c != '\\') {
            piece = title.substr(at, 1);
        }
        if (safe.size() + piece.size() > kMaxTitleBytes)
            break;
        // One blank stands for a run of them; the name never begins with a
        // blank or a dot (no hidden file, no "." or "..").
        const bool leading = safe.empty() && (piece == " " || piece == ".");
        if (!leading && !(piece == " " && !safe.empty() && safe.back() == ' '))
            safe.append(piece);
        at += length;
    }
    while (!safe.empty() && safe.back() == ' ')
        safe.pop_back();
    if (safe.empty())
        return "document";
    return safe;
}

}  // namespace miravo::backend
