// Small helpers for the program's UTF-16 text: conversions at the edges
// (UTF-8, Windows-1252, local 8-bit files), ASCII case rules and the
// strtol-like number reading that settings, job files and answers use.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace miravo {

// Longest text a fixed field of `width` characters holds (one is the terminator).
inline std::u16string fitField(std::u16string_view text, std::size_t width) {
    if (width == 0)
        return {};
    return std::u16string(text.substr(0, width - 1));
}

std::string toUtf8(std::u16string_view text);
// Invalid sequences become U+FFFD.
std::u16string fromUtf8(std::string_view bytes);
bool isValidUtf8(std::string_view bytes);
// Appends the UTF-8 bytes of one code point (the caller keeps it valid).
void appendUtf8(std::string& out, char32_t c);

// Windows-1252: every byte maps to one character (the five unassigned bytes
// map to the C1 control of the same value, as Windows does).
std::u16string fromCp1252(std::string_view bytes);
// Characters without a Windows-1252 byte become '?'.
std::string toCp1252(std::u16string_view text);

// A local 8-bit text file ("ANSI"): UTF-8 when the bytes are valid UTF-8,
// Windows-1252 otherwise.
std::u16string fromLocal8Bit(std::string_view bytes);

// UTF-16LE bytes, no byte-order mark either way (an odd last byte is dropped).
std::u16string fromUtf16le(std::string_view bytes);
std::string toUtf16le(std::u16string_view text);

char16_t asciiLower(char16_t c);
std::u16string asciiLower(std::u16string_view text);
bool equalsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);
// Every letter to one case, in every script, so that two names that differ
// only in case fold to the same text (section and key names of settings
// and language files). ASCII-only when the system has no Unicode locale.
std::u16string foldCase(std::u16string_view text);
bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b);

// Reads a decimal number as strtol does: leading white space, an optional
// sign, then digits up to the first non-digit; no digits give 0. Values
// beyond the 32-bit range saturate.
long parseDecimal(std::u16string_view text);
long parseDecimal(std::string_view text);

std::u16string u16(std::string_view ascii);  // for literals and numbers
std::u16string toU16(long value);

}  // namespace miravo
