// The header of the two page file formats the renderer writes: binary PBM
// (P4, one bit per pixel, 1 is black) and binary 8-bit PGM (P5, largest
// value 255). Pages in these formats are read straight into page memory,
// without an image library's copy and without loading its format plug-ins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace miravo {

// A header is never longer than this in the files taken here; a longer
// one (say, with long comments) is left to the general image decoding.
inline constexpr std::size_t kNetpbmHeaderMax = 256;

struct NetpbmHeader {
    bool bilevel = false;  // P4; otherwise P5 with values 0..255
    int width = 0;
    int height = 0;
    std::size_t dataOffset = 0;  // where the rows start
    std::size_t rowBytes() const {
        return bilevel ? (static_cast<std::size_t>(width) + 7) / 8 : static_cast<std::size_t>(width);
    }
};

// The header at the start of `bytes`, or nothing when these bytes do not
// start a P4 or 8-bit P5 image of positive size whose header fits in them.
std::optional<NetpbmHeader> ParseNetpbmHeader(const std::uint8_t* bytes, std::size_t size);

}  // namespace miravo
