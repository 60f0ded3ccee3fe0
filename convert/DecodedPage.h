// A page file decoded into page memory: rows of one bit per pixel (most
// significant bit first, as PBM stores them) with the grey level each bit
// value stands for, or rows of 8-bit grey (0 black, 255 white).
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/PageImage.h"
#include "convert/PageMemory.h"

namespace miravo {

// Limits on a page file's decoded size: beyond them it is not decoded.
inline constexpr int kMaxPageFileSide = 200000;
inline constexpr std::int64_t kMaxPageFilePixels = 128'000'000;
inline constexpr int kDecodeAllocationLimitMb = 512;

inline bool WithinPageFileLimits(std::int64_t width, std::int64_t height) {
    return width > 0 && height > 0 && width <= kMaxPageFileSide && height <= kMaxPageFileSide &&
           width * height <= kMaxPageFilePixels;
}

struct DecodedPage {
    PageMemory pixels;
    int width = 0;
    int height = 0;
    std::size_t stride = 0;  // bytes from one row to the next
    bool bilevel = false;
    std::uint8_t zeroGrey = 255;  // bilevel: the grey of a clear bit
    std::uint8_t oneGrey = 0;     // and of a set bit

    // Makes room for a `width` x `height` page, rows packed without padding;
    // the memory is kept when it is large enough. False when there is none.
    bool allocate(int pageWidth, int pageHeight, bool oneBit) {
        width = pageWidth;
        height = pageHeight;
        bilevel = oneBit;
        stride = oneBit ? (static_cast<std::size_t>(pageWidth) + 7) / 8
                        : static_cast<std::size_t>(pageWidth);
        const std::size_t bytes = stride * static_cast<std::size_t>(pageHeight);
        if (pixels.empty() || pixels.size() < bytes)
            pixels = PageMemory(bytes);
        return !pixels.empty();
    }
    std::uint8_t* row(int y) const { return pixels.data() + stride * static_cast<std::size_t>(y); }
    GreyView grey() const {
        return {pixels.data(), width, height, static_cast<std::ptrdiff_t>(stride)};
    }
};

}  // namespace miravo
