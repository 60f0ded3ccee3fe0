#include "convert/NetpbmHeader.h"

namespace miravo {

namespace {

bool isSpace(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads one decimal field after white space and comments; false when there
// is none, it does not end within the bytes or it exceeds `limit`.
bool field(const std::uint8_t* bytes, std::size_t size, std::size_t& at, long limit,
           long& value) {
    for (;;) {
        while (at < size && isSpace(bytes[at]))
            ++at;
        if (at < size && bytes[at] == '#') {
            while (at < size && bytes[at] != '\n' && bytes[at] != '\r')
                ++at;
            continue;
        }
        break;
    }
    value = 0;
    const std::size_t start = at;
    for (; at < size && bytes[at] >= '0' && bytes[at] <= '9'; ++at) {
        value = value * 10 + (bytes[at] - '0');
        if (value > limit)
            return false;
    }
    // The number must be followed by a white space byte within the bytes.
    return at > start && at < size && isSpace(bytes[at]);
}

}  // namespace

std::optional<NetpbmHeader> ParseNetpbmHeader(const std::uint8_t* bytes, std::size_t size) {
    if (size < 3 || bytes[0] != 'P' || (bytes[1] != '4' && bytes[1] != '5'))
        return std::nullopt;
    NetpbmHeader header;
    header.bilevel = bytes[1] == '4';
    constexpr long kSideLimit = 1L << 30;
    std::size_t at = 2;
    long width = 0, height = 0, largest = 255;
    if (!field(bytes, size, at, kSideLimit, width) || !field(bytes, size, at, kSideLimit, height))
        return std::nullopt;
    if (!header.bilevel && (!field(bytes, size, at, 65535, largest) || largest != 255))
        return std::nullopt;
    if (width <= 0 || height <= 0)
        return std::nullopt;
    header.width = static_cast<int>(width);
    header.height = static_cast<int>(height);
    header.dataOffset = at + 1;  // one white space byte ends the header
    return header;
}

}  // namespace miravo
