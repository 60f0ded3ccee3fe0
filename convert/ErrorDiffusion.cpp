#include "convert/ErrorDiffusion.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace miravo {

namespace {

// The four shares of a pixel's error, each rounded toward zero as integer
// division does. An error never leaves [-127, 127] (an 8-bit level plus
// shares that add up to at most one whole error, measured from the nearer
// of 0 and 255), so the table's 1024 entries hold every one with room to
// spare, and the index is masked to stay inside it whatever comes.
struct Shares {
    std::int16_t right;       // 7/16
    std::int16_t belowLeft;   // 3/16
    std::int16_t below;       // 5/16
    std::int16_t belowRight;  // 1/16
};
constexpr int kErrorRange = 1024;

constexpr std::array<Shares, kErrorRange> makeShares() {
    std::array<Shares, kErrorRange> table{};
    for (int i = 0; i < kErrorRange; ++i) {
        const int e = i - kErrorRange / 2;
        table[static_cast<std::size_t>(i)] = {
            static_cast<std::int16_t>(e * 7 / 16), static_cast<std::int16_t>(e * 3 / 16),
            static_cast<std::int16_t>(e * 5 / 16), static_cast<std::int16_t>(e / 16)};
    }
    return table;
}
constexpr std::array<Shares, kErrorRange> kShares = makeShares();

// The state of one row's error diffusion between pixels. `cur` holds the
// errors the row has from the row above, `next` receives those of the row
// below; the error to the right and the two pending below stay in
// registers.
struct RowState {
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
        const Shares& share =
            kShares[static_cast<std::size_t>((error + kErrorRange / 2) & (kErrorRange - 1))];
        right = share.right;
        next[x - 1] = belowLeft + share.belowLeft;
        belowLeft = below + share.below;
        below = next[x + 1] + share.belowRight;
    }
    void finish(std::uint8_t* dst, int* next, int to) {
        next[to - 1] = belowLeft;
        next[to] = below;
        if (to & 7)  // the row ends inside this byte; the rest is padding
            dst[to >> 3] = static_cast<std::uint8_t>(byte << (8 - (to & 7)));
    }
};

// Pixels [from, to) of one row, starting on a byte of the fax row; a
// neighbour outside the run never reads what it is given.
void diffuseRun(const std::uint8_t* p, std::uint8_t* dst, const int* cur, int* next, int from,
                int to) {
    RowState row{0, next[from - 1], next[from], 0};
    for (int x = from; x < to; ++x)
        row.step(p, dst, cur, next, x);
    row.finish(dst, next, to);
}

// The same run of two rows at once, the second a few pixels behind the
// first: its errors from above are final once the first row has passed the
// next pixel, and with a few pixels between them neither waits for the
// other, so their chains of dependent steps overlap in the processor. The
// result is that of two diffuseRun calls.
void diffuseRunPair(const std::uint8_t* pA, const std::uint8_t* pB, std::uint8_t* dstA,
                    std::uint8_t* dstB, const int* cur, int* mid, int* next, int from, int to) {
    constexpr int kBehind = 4;
    RowState a{0, mid[from - 1], mid[from], 0};
    RowState b{0, next[from - 1], next[from], 0};
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

#if defined(__SSE2__)
// Eight rows at once, one per 16-bit lane, each row two pixels behind the
// one above: a pixel's errors from above are final once the row above has
// passed the next pixel, and the row above hands them down one step later,
// a shift by one lane. Every lane does what RowState does, with the shares
// worked out rather than looked up (they truncate toward zero alike), so
// the result is that of eight diffuseRun calls.
constexpr int kLanes = 8;
constexpr int kLag = 2;
// Pixel positions are counted in the lanes' 16 bits: wider rows go two at a
// time.
constexpr int kWidestLaneRow = 30000;

// The share n / 16 of an error whose sign is in `bias` (15 when negative),
// rounded toward zero.
inline __m128i sixteenths(__m128i n, __m128i bias) {
    return _mm_srai_epi16(_mm_add_epi16(n, bias), 4);
}

struct LaneState {
    __m128i right = _mm_setzero_si128();
    __m128i belowLeft = _mm_setzero_si128();
    __m128i below = _mm_setzero_si128();
    __m128i handed = _mm_setzero_si128();  // each lane's error for the row below, last step

    // One step of every lane: `level` the pixels, `fromAbove` their errors
    // from above. Gives the black pixels as all-ones lanes. With `ramp`,
    // only lanes inside the run (`inside`) step; a lane at the run's end
    // (`atEnd`) or one past it (`pastEnd`) hands down what RowState::finish
    // leaves.
    template <bool ramp>
    __m128i step(__m128i level, __m128i fromAbove, __m128i inside = __m128i(),
                 __m128i atEnd = __m128i(), __m128i pastEnd = __m128i()) {
        const __m128i v = _mm_add_epi16(_mm_add_epi16(level, fromAbove), right);
        __m128i black = _mm_cmplt_epi16(v, _mm_set1_epi16(128));
        const __m128i error = _mm_sub_epi16(v, _mm_andnot_si128(black, _mm_set1_epi16(255)));
        const __m128i bias = _mm_and_si128(_mm_srai_epi16(error, 15), _mm_set1_epi16(15));
        const __m128i twice = _mm_add_epi16(error, error);
        const __m128i four = _mm_add_epi16(twice, twice);
        const __m128i r7 = sixteenths(_mm_sub_epi16(_mm_add_epi16(four, four), error), bias);
        const __m128i r3 = sixteenths(_mm_add_epi16(twice, error), bias);
        const __m128i r5 = sixteenths(_mm_add_epi16(four, error), bias);
        const __m128i r1 = sixteenths(error, bias);
        __m128i down = _mm_add_epi16(belowLeft, r3);
        if constexpr (!ramp) {
            right = r7;
            belowLeft = _mm_add_epi16(below, r5);
            below = r1;
        } else {
            down = _mm_or_si128(
                _mm_and_si128(inside, down),
                _mm_or_si128(_mm_and_si128(atEnd, belowLeft), _mm_and_si128(pastEnd, below)));
            right = _mm_or_si128(_mm_and_si128(inside, r7), _mm_andnot_si128(inside, right));
            belowLeft = _mm_or_si128(_mm_and_si128(inside, _mm_add_epi16(below, r5)),
                                     _mm_andnot_si128(inside, belowLeft));
            below = _mm_or_si128(_mm_and_si128(inside, r1), _mm_andnot_si128(inside, below));
            black = _mm_and_si128(black, inside);
        }
        handed = down;
        return black;
    }
};

// Rows rows[0..7] of the run [from, to), whose errors from above are in
// `cur`; the errors of the last row for the row below go to `next`, as
// diffuseRun leaves them. `steps` holds one byte per step (a bit per lane)
// and `padded` the rows' pixels with a margin; both are scratch.
void diffuseEightRows(const std::uint8_t* const* rows, std::uint8_t* const* dst, const int* cur,
                      int* next, int from, int to, std::vector<std::uint8_t>& steps,
                      std::vector<std::uint8_t>& padded) {
    const int length = to - from;
    // Steps until the last lane is past its run's end, rounded up to whole
    // groups of eight; every lane reads its pixels through a margin of zeros.
    const int total = (length + kLag * (kLanes - 1) + 2 + 7) / 8 * 8;
    const int margin = kLag * (kLanes - 1);
    const std::size_t stride = static_cast<std::size_t>(total + margin + 8);
    padded.assign(stride * kLanes, 0);
    steps.assign(static_cast<std::size_t>(total) + 8, 0);
    for (int k = 0; k < kLanes; ++k)
        std::memcpy(padded.data() + stride * static_cast<std::size_t>(k) + margin, rows[k] + from,
                    static_cast<std::size_t>(length));

    LaneState lanes;
    const __m128i zero = _mm_setzero_si128();
    // Lane k is at pixel from + t - 2k: the lane's offset from lane 0.
    const __m128i laneLag = _mm_setr_epi16(0, 2, 4, 6, 8, 10, 12, 14);
    for (int t = 0; t < total; t += 8) {
        // Eight steps of pixels, gathered as eight rows of eight bytes and
        // turned so that each step holds one pixel of every row.
        __m128i r[kLanes];
        for (int k = 0; k < kLanes; ++k)
            r[k] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(
                padded.data() + stride * static_cast<std::size_t>(k) + margin + t - kLag * k));
        const __m128i a0 = _mm_unpacklo_epi8(r[0], r[1]), a1 = _mm_unpacklo_epi8(r[2], r[3]);
        const __m128i a2 = _mm_unpacklo_epi8(r[4], r[5]), a3 = _mm_unpacklo_epi8(r[6], r[7]);
        const __m128i b0 = _mm_unpacklo_epi16(a0, a1), b1 = _mm_unpackhi_epi16(a0, a1);
        const __m128i b2 = _mm_unpacklo_epi16(a2, a3), b3 = _mm_unpackhi_epi16(a2, a3);
        const __m128i pairs[4] = {_mm_unpacklo_epi32(b0, b2), _mm_unpackhi_epi32(b0, b2),
                                  _mm_unpacklo_epi32(b1, b3), _mm_unpackhi_epi32(b1, b3)};
        const bool ramp = t < margin + 8 || t + 8 > length;
        for (int s = 0; s < 8; ++s) {
            const __m128i level = s & 1 ? _mm_unpackhi_epi8(pairs[s >> 1], zero)
                                        : _mm_unpacklo_epi8(pairs[s >> 1], zero);
            const int step = t + s;
            // Lane 0 takes its errors from `cur`; every other lane those
            // the lane above handed down one step before.
            const int x0 = from + step;
            const __m128i fromAbove =
                _mm_insert_epi16(_mm_slli_si128(lanes.handed, 2), x0 < to ? cur[x0] : 0, 0);
            __m128i black;
            if (!ramp) {
                black = lanes.step<false>(level, fromAbove);
            } else {
                // The lanes' pixels relative to the run: step - 2k.
                const __m128i at = _mm_sub_epi16(_mm_set1_epi16(static_cast<short>(step)), laneLag);
                const __m128i inside = _mm_andnot_si128(
                    _mm_cmplt_epi16(at, zero),
                    _mm_cmplt_epi16(at, _mm_set1_epi16(static_cast<short>(length))));
                const __m128i atEnd =
                    _mm_cmpeq_epi16(at, _mm_set1_epi16(static_cast<short>(length)));
                const __m128i pastEnd =
                    _mm_cmpeq_epi16(at, _mm_set1_epi16(static_cast<short>(length + 1)));
                black = lanes.step<true>(level, fromAbove, inside, atEnd, pastEnd);
            }
            steps[static_cast<std::size_t>(step)] =
                static_cast<std::uint8_t>(_mm_movemask_epi8(_mm_packs_epi16(black, zero)));
            // The last lane's error for the row below, at its pixel - 1.
            const int x7 = x0 - kLag * (kLanes - 1);
            if (x7 >= from && x7 <= to + 1)
                next[x7 - 1] = static_cast<std::int16_t>(_mm_extract_epi16(lanes.handed, 7));
        }
    }
    // Each row's bits: its pixel x was step x - from + 2k, bit k.
    const int bytes = (length + 7) / 8;
    for (int k = 0; k < kLanes; ++k) {
        const std::uint8_t* own = steps.data() + kLag * k;
        std::uint8_t* out = dst[k] + (from >> 3);
        for (int i = 0; i < bytes; ++i) {
            std::uint64_t word;
            std::memcpy(&word, own + 8 * i, 8);
            // Bit k of each of the eight bytes, the first byte's highest.
            const std::uint64_t picked = (word >> k) & 0x0101010101010101ull;
            out[i] = static_cast<std::uint8_t>((picked * 0x8040201008040201ull) >> 56);
        }
    }
}
#endif

}  // namespace

void DiffuseErrors(GreyView source, BitPage& out, const std::vector<bool>& blocks, int blockSide) {
    const int across = (source.width + blockSide - 1) / blockSide;
    const int rowsPerBlock = blocks.empty() ? source.height : blockSide;
    const std::size_t rowBytes = out.rowBytes();
    // Errors into the current row and the two below, one guard cell on each side.
    std::vector<int> current(static_cast<std::size_t>(source.width) + 2, 0);
    std::vector<int> next(current.size(), 0);
    std::vector<int> after(current.size(), 0);
    const auto flagged = [&](std::size_t blockRow, int bx) {
        return blocks.empty() || blocks[blockRow + static_cast<std::size_t>(bx)];
    };
#if defined(__SSE2__)
    std::vector<std::uint8_t> steps;
    std::vector<std::uint8_t> padded;
#endif
    for (int y = 0; y < source.height;) {
        const std::size_t blockRow = static_cast<std::size_t>(y / rowsPerBlock) * across;
        // Rows of the same block row share their runs and go together:
        // eight where the processor has the lanes, else two.
        const int blockRowEnd = std::min((y / rowsPerBlock + 1) * rowsPerBlock, source.height);
#if defined(__SSE2__)
        const bool eight = y + kLanes <= blockRowEnd && source.width <= kWidestLaneRow;
#else
        const bool eight = false;
#endif
        const bool pair = !eight && y + 1 < blockRowEnd;
        std::fill(next.begin(), next.end(), 0);
        if (pair)
            std::fill(after.begin(), after.end(), 0);
        for (int bx = 0; bx < across;) {
            if (!flagged(blockRow, bx)) {
                ++bx;
                continue;
            }
            int end = bx + 1;
            while (end < across && flagged(blockRow, end))
                ++end;
            const int from = bx * blockSide;
            const int to = std::min(end * blockSide, source.width);
            std::uint8_t* dst = out.bits.data() + rowBytes * static_cast<std::size_t>(y);
#if defined(__SSE2__)
            if (eight) {
                const std::uint8_t* rows[kLanes];
                std::uint8_t* dsts[kLanes];
                for (int k = 0; k < kLanes; ++k) {
                    rows[k] = source.row(y + k);
                    dsts[k] = dst + rowBytes * static_cast<std::size_t>(k);
                }
                diffuseEightRows(rows, dsts, current.data() + 1, next.data() + 1, from, to, steps,
                                 padded);
                bx = end;
                continue;
            }
#endif
            if (pair)
                diffuseRunPair(source.row(y), source.row(y + 1), dst, dst + rowBytes,
                               current.data() + 1, next.data() + 1, after.data() + 1, from, to);
            else
                diffuseRun(source.row(y), dst, current.data() + 1, next.data() + 1, from, to);
            bx = end;
        }
        if (pair) {
            current.swap(after);
            y += 2;
        } else {
            current.swap(next);
#if defined(__SSE2__)
            y += eight ? kLanes : 1;
#else
            y += 1;
#endif
        }
    }
}

}  // namespace miravo
