#include "convert/AutomaticMethod.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace miravo {

namespace {

// Levels between these count as middle tone; text strokes on paper lie
// outside them except on their soft edges.
constexpr unsigned kMiddleLow = 20;
constexpr unsigned kMiddleHigh = 235;

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
                int x = from;
#if defined(__SSE2__)
                // 16 pixels at a time: middle where min(p - low, span) == p - low.
                const __m128i low = _mm_set1_epi8(static_cast<char>(kMiddleLow));
                const __m128i span = _mm_set1_epi8(static_cast<char>(kMiddleHigh - kMiddleLow));
                for (; x + 16 <= to; x += 16) {
                    const __m128i v =
                        _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x)), low);
                    count += __builtin_popcount(static_cast<unsigned>(
                        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, span), v))));
                }
#endif
                for (; x < to; ++x)
                    count += static_cast<unsigned>(p[x] - kMiddleLow) <= kMiddleHigh - kMiddleLow;
                middle[static_cast<std::size_t>(bx)] += count;
            }
        }
        for (int bx = 0; bx < across; ++bx) {
            const int area =
                rows * (std::min((bx + 1) * kToneBlock, source.width) - bx * kToneBlock);
            tone[static_cast<std::size_t>(by) * across + bx] =
                middle[static_cast<std::size_t>(bx)] * kToneShareDenominator >
                area * kToneShareNumerator;
        }
    }
    return tone;
}

namespace {

// The state of one row's error diffusion between pixels. `cur` holds the
// errors the row has from the row above, `next` receives those of the row
// below; the error to the right and the two pending below stay in
// registers.
struct DitherState {
    int right = 0;
    int belowLeft = 0;
    int below = 0;
    unsigned byte = 0;

    void step(const std::uint8_t* p, std::uint8_t* dst, const int* cur, int* next, int x) {
        const int v = p[x] + cur[x] + right;
        const bool black = v < 128;
        const int error = black ? v : v - 255;
        byte = (byte << 1) | static_cast<unsigned>(black);
        if ((x & 7) == 7) {
            dst[x >> 3] = static_cast<std::uint8_t>(byte);
            byte = 0;
        }
        right = error * 7 / 16;
        next[x - 1] = belowLeft + error * 3 / 16;
        belowLeft = below + error * 5 / 16;
        below = next[x + 1] + error / 16;
    }
    void finish(std::uint8_t* dst, int* next, int to) {
        next[to - 1] = belowLeft;
        next[to] = below;
        if (to & 7)
            dst[to >> 3] = static_cast<std::uint8_t>(byte << (8 - (to & 7)));
    }
};

// Floyd-Steinberg error diffusion over pixels [from, to) of one row, a run
// of whole tone blocks (so it starts on a byte of the fax row); a neighbour
// outside the run is thresholded and never reads what it is given.
void ditherRun(const std::uint8_t* p, std::uint8_t* dst, const int* cur, int* next, int from,
               int to) {
    DitherState row{0, next[from - 1], next[from], 0};
    for (int x = from; x < to; ++x)
        row.step(p, dst, cur, next, x);
    row.finish(dst, next, to);
}

// ditherRun over two rows at once, the second a few pixels behind the
// first: its errors from above are final once the first row has passed the
// next pixel, and with a few pixels between them neither waits for the
// other, so their chains of dependent steps overlap in the processor. The
// result is that of two ditherRun calls.
void ditherRunPair(const std::uint8_t* pA, const std::uint8_t* pB, std::uint8_t* dstA,
                   std::uint8_t* dstB, const int* cur, int* mid, int* next, int from, int to) {
    constexpr int kBehind = 4;
    DitherState a{0, mid[from - 1], mid[from], 0};
    DitherState b{0, next[from - 1], next[from], 0};
    int x = from;
    for (; x < to && x < from + kBehind; ++x)
        a.step(pA, dstA, cur, mid, x);
    for (; x < to; ++x) {
        a.step(pA, dstA, cur, mid, x);
        b.step(pB, dstB, mid, next, x - kBehind);
    }
    a.finish(dstA, mid, to);
    for (x = std::max(from, to - kBehind); x < to; ++x)
        b.step(pB, dstB, mid, next, x);
    b.finish(dstB, next, to);
}

}  // namespace

void AutomaticConvert(GreyView source, BitPage& out) {
    // Every pixel first as the threshold gives it; the tone blocks are then
    // dithered over it.
    Threshold(source, out);
    const std::vector<bool> tone = ToneBlocks(source);
    if (std::none_of(tone.begin(), tone.end(), [](bool t) { return t; }))
        return;
    const int across = blocksAcross(source.width);
    const std::size_t rowBytes = out.rowBytes();
    // Errors into the current row and the two below, one guard cell on each side.
    std::vector<int> current(static_cast<std::size_t>(source.width) + 2, 0);
    std::vector<int> next(current.size(), 0);
    std::vector<int> after(current.size(), 0);
    for (int y = 0; y < source.height;) {
        const std::size_t blockRow = static_cast<std::size_t>(y / kToneBlock) * across;
        // Two rows of the same block row share their runs and go together.
        const bool pair = y + 1 < source.height && (y + 1) / kToneBlock == y / kToneBlock;
        std::fill(next.begin(), next.end(), 0);
        if (pair)
            std::fill(after.begin(), after.end(), 0);
        for (int bx = 0; bx < across;) {
            if (!tone[blockRow + bx]) {
                ++bx;
                continue;
            }
            int end = bx + 1;
            while (end < across && tone[blockRow + end])
                ++end;
            const int from = bx * kToneBlock;
            const int to = std::min(end * kToneBlock, source.width);
            std::uint8_t* dst = out.bits.data() + rowBytes * y;
            if (pair)
                ditherRunPair(source.row(y), source.row(y + 1), dst, dst + rowBytes,
                              current.data() + 1, next.data() + 1, after.data() + 1, from, to);
            else
                ditherRun(source.row(y), dst, current.data() + 1, next.data() + 1, from, to);
            bx = end;
        }
        if (pair) {
            current.swap(after);
            y += 2;
        } else {
            current.swap(next);
            y += 1;
        }
    }
}

}  // namespace miravo
