#include "convert/AutomaticMethod.h"

#include <algorithm>

#include "convert/ErrorDiffusion.h"

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
                // Each byte lane counts its middle pixels (a match is -1);
                // the lanes are summed once per block and row.
                static_assert(kToneBlock / 16 <= 255, "a byte lane counts one block row");
                const __m128i low = _mm_set1_epi8(static_cast<char>(kMiddleLow));
                const __m128i span = _mm_set1_epi8(static_cast<char>(kMiddleHigh - kMiddleLow));
                __m128i lanes = _mm_setzero_si128();
                for (; x + 16 <= to; x += 16) {
                    const __m128i v =
                        _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x)), low);
                    lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(_mm_min_epu8(v, span), v));
                }
                const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
                count += _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
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

void AutomaticConvert(GreyView source, BitPage& out) {
    // Every pixel first as the threshold gives it; the tone blocks are then
    // dithered over it.
    Threshold(source, out);
    const std::vector<bool> tone = ToneBlocks(source);
    if (std::none_of(tone.begin(), tone.end(), [](bool t) { return t; }))
        return;
    DiffuseErrors(source, out, tone, kToneBlock);
}

}  // namespace miravo
