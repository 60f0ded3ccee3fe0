#include "convert/AutomaticMethod.h"

#include <algorithm>

namespace miravo {

namespace {

// Levels between these count as middle tone; text strokes on paper lie
// outside them except on their soft edges.
constexpr unsigned kMiddleLow = 40;
constexpr unsigned kMiddleHigh = 215;

// A block with more middle-tone pixels than this share of its area is
// continuous tone. The soft edges of dense text stay well below it.
constexpr int kToneShareNumerator = 3;
constexpr int kToneShareDenominator = 10;

int blocksAcross(int width) {
    return (width + kToneBlock - 1) / kToneBlock;
}

}  // namespace

std::vector<bool> ToneBlocks(GreyView source) {
    const int across = blocksAcross(source.width);
    const int down = (source.height + kToneBlock - 1) / kToneBlock;
    std::vector<bool> tone(static_cast<std::size_t>(across) * down, false);
    std::vector<int> middle(static_cast<std::size_t>(across));
    for (int by = 0; by < down; ++by) {
        std::fill(middle.begin(), middle.end(), 0);
        const int top = by * kToneBlock;
        const int rows = std::min(kToneBlock, source.height - top);
        for (int y = top; y < top + rows; ++y) {
            const std::uint8_t* p = source.row(y);
            for (int bx = 0; bx < across; ++bx) {
                const int from = bx * kToneBlock;
                const int to = std::min(from + kToneBlock, source.width);
                int count = 0;
                for (int x = from; x < to; ++x)
                    count += static_cast<unsigned>(p[x] - kMiddleLow) <= kMiddleHigh - kMiddleLow;
                middle[static_cast<std::size_t>(bx)] += count;
            }
        }
        for (int bx = 0; bx < across; ++bx) {
            const int area = rows * (std::min((bx + 1) * kToneBlock, source.width) - bx * kToneBlock);
            tone[static_cast<std::size_t>(by) * across + bx] =
                middle[static_cast<std::size_t>(bx)] * kToneShareDenominator >
                area * kToneShareNumerator;
        }
    }
    return tone;
}

void AutomaticConvert(GreyView source, BitPage& out) {
    // Every pixel first as the threshold gives it; the tone blocks are then
    // dithered over it.
    Threshold(source, out);
    const std::vector<bool> tone = ToneBlocks(source);
    if (std::none_of(tone.begin(), tone.end(), [](bool t) { return t; }))
        return;
    const int across = blocksAcross(source.width);
    const std::size_t rowBytes = out.rowBytes();
    // Errors of the current and the next row, one guard cell on each side.
    std::vector<int> current(static_cast<std::size_t>(source.width) + 2, 0);
    std::vector<int> next(current.size(), 0);
    std::vector<std::uint8_t> inTone(static_cast<std::size_t>(source.width) + 2, 0);
    for (int y = 0; y < source.height; ++y) {
        const std::size_t blockRow = static_cast<std::size_t>(y / kToneBlock) * across;
        bool any = false;
        for (int bx = 0; bx < across; ++bx) {
            const bool t = tone[blockRow + bx];
            any = any || t;
            const int from = bx * kToneBlock;
            const int to = std::min(from + kToneBlock, source.width);
            std::fill(inTone.begin() + 1 + from, inTone.begin() + 1 + to, t ? 1 : 0);
        }
        std::fill(next.begin(), next.end(), 0);
        if (any) {
            const std::uint8_t* p = source.row(y);
            std::uint8_t* dst = out.bits.data() + rowBytes * y;
            int* cur = current.data() + 1;
            int* nxt = next.data() + 1;
            const std::uint8_t* dithered = inTone.data() + 1;
            for (int x = 0; x < source.width; ++x) {
                if (!dithered[x])
                    continue;
                const int v = p[x] + cur[x];
                const std::uint8_t bit = static_cast<std::uint8_t>(0x80u >> (x & 7));
                int error;
                if (v >= 128) {
                    error = v - 255;
                    dst[x >> 3] = static_cast<std::uint8_t>(dst[x >> 3] & ~bit);
                } else {
                    error = v;
                    dst[x >> 3] = static_cast<std::uint8_t>(dst[x >> 3] | bit);
                }
                // A thresholded neighbour never reads the error it is given.
                cur[x + 1] += error * 7 / 16;
                nxt[x - 1] += error * 3 / 16;
                nxt[x] += error * 5 / 16;
                nxt[x + 1] += error / 16;
            }
        }
        current.swap(next);
    }
}

}  // namespace miravo
