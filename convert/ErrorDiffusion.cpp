#include "convert/ErrorDiffusion.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace miravo {

namespace {

// The four shares of a pixel's error, each rounded toward zero as integer
// division does. An error never leaves [-127, 127] (an 8-bit level plus
// shares that add up to at most one whole error, measured from the nearer
// of 0 and 255), so the table's 1024 entries hold every one with room to
// spare, and the index is masked to stay inside it whatever comes.
struct Shares {
    std::int16_t right;      // 7/16
    std::int16_t belowLeft;  // 3/16
    std::int16_t below;      // 5/16
    std::int16_t belowRight; // 1/16
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

}  // namespace

void DiffuseErrors(GreyView source, BitPage& out, const std::vector<bool>& blocks,
                   int blockSide) {
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
    for (int y = 0; y < source.height;) {
        const std::size_t blockRow = static_cast<std::size_t>(y / rowsPerBlock) * across;
        // Two rows of the same block row share their runs and go together.
        const bool pair = y + 1 < source.height && (y + 1) / rowsPerBlock == y / rowsPerBlock;
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
            y += 1;
        }
    }
}

}  // namespace miravo
