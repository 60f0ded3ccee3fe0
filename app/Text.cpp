#include "app/Text.h"

#include <locale.h>
#include <wctype.h>

#include <array>
#include <climits>

namespace miravo {

namespace {

// The UTF-8 sequence at `at`: its length (1 to 4) and code point when it is
// well formed; otherwise the length of its longest well-formed start (at
// least 1), which one replacement character stands for. Overlong forms,
// encoded surrogates and values beyond U+10FFFF are not well formed.
struct Utf8Sequence {
    std::size_t length = 1;
    bool valid = false;
    char32_t code = 0;
};

Utf8Sequence utf8Sequence(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return {1, true, lead};
    std::size_t length = 0;
    char32_t value = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;  // no overlong forms
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;  // nothing beyond U+10FFFF
    } else {
        return {};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= bytes.size())
            return {i, false, 0};
        const unsigned char next = byte(at + i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return {i, false, 0};
        value = (value << 6) | (next & 0x3F);
    }
    return {length, true, value};
}

// The code point at `i` of UTF-16 text, `i` moved past it; half a
// surrogate pair is returned as it is.
char32_t nextCodePoint(std::u16string_view text, std::size_t& i) {
    const char32_t c = text[i++];
    if (c >= 0xD800 && c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
        return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
    return c;
}

void appendUtf16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
}

bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextCodePoint(text, i);
        appendUtf8(out, isSurrogate(c) ? 0xFFFD : c);  // half a pair stands for no character
    }
    return out;
}

std::u16string fromUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Sequence sequence = utf8Sequence(bytes, i);
        i += sequence.length;
        appendUtf16(out, sequence.valid ? sequence.code : 0xFFFD);
    }
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Sequence sequence = utf8Sequence(bytes, i);
        if (!sequence.valid)
            return false;
        i += sequence.length;
    }
    return true;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

namespace {
// Windows-1252 bytes 0x80..0x9F; the unassigned ones keep their own value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
}  // namespace

std::u16string fromCp1252(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes) {
        out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b));
    }
    return out;
}

std::string toCp1252(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        char mapped = '?';
        for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
            if (kCp1252High[i] == c) {
                mapped = static_cast<char>(0x80 + i);
                break;
            }
        }
        out.push_back(mapped);
    }
    return out;
}

std::u16string fromLocal8Bit(std::string_view bytes) {
    return isValidUtf8(bytes) ? fromUtf8(bytes) : fromCp1252(bytes);
}

std::u16string fromUtf16le(std::string_view bytes) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                        (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return text;
}

std::string toUtf16le(std::u16string_view text) {
    std::string bytes(text.size() * 2, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return bytes;
}

char16_t asciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

std::u16string asciiLower(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out)
        c = asciiLower(c);
    return out;
}

bool equalsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

namespace {
bool isAscii(std::u16string_view text) {
    for (char16_t c : text)
        if (c >= 0x80)
            return false;
    return true;
}
}  // namespace

std::u16string foldCase(std::u16string_view text) {
    if (isAscii(text))
        return asciiLower(text);
    // The lower case of the upper case: a final sigma, a long s or the
    // Kelvin sign then fold like the letters they stand for.
    static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = nextCodePoint(text, i);
        if (c < 0x80)
            c = asciiLower(static_cast<char16_t>(c));
        else if (unicode && !isSurrogate(c))
            c = static_cast<char32_t>(
                ::towlower_l(::towupper_l(static_cast<wint_t>(c), unicode), unicode));
        appendUtf16(out, c);
    }
    return out;
}

bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (isAscii(a) && isAscii(b))
        return equalsIgnoreAsciiCase(a, b);
    return foldCase(a) == foldCase(b);
}

namespace {
template <typename Char>
long parseDecimalImpl(std::basic_string_view<Char> text) {
    std::size_t i = 0;
    auto isSpace = [](Char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && isSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    if (value < INT_MIN)
        value = INT_MIN;
    return static_cast<long>(value);
}
}  // namespace

long parseDecimal(std::u16string_view text) {
    return parseDecimalImpl(text);
}
long parseDecimal(std::string_view text) {
    return parseDecimalImpl(text);
}

std::u16string u16(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::u16string toU16(long value) {
    return u16(std::to_string(value));
}

}  // namespace miravo
