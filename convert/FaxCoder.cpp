#include "convert/FaxCoder.h"

#include <algorithm>
#include <cstring>

namespace miravo {

namespace {

struct Code {
    std::uint16_t bits;
    std::uint8_t length;
};

// The run-length codes of ITU-T T.4: terminating codes for runs of 0 to
// 63, make-up codes for 64 to 1728 in steps of 64, then the make-up codes
// both colours share for 1792 to 2560.
constexpr Code kWhiteTerminating[64] = {
    {0x35, 8}, {0x07, 6}, {0x07, 4}, {0x08, 4}, {0x0B, 4}, {0x0C, 4}, {0x0E, 4}, {0x0F, 4},
    {0x13, 5}, {0x14, 5}, {0x07, 5}, {0x08, 5}, {0x08, 6}, {0x03, 6}, {0x34, 6}, {0x35, 6},
    {0x2A, 6}, {0x2B, 6}, {0x27, 7}, {0x0C, 7}, {0x08, 7}, {0x17, 7}, {0x03, 7}, {0x04, 7},
    {0x28, 7}, {0x2B, 7}, {0x13, 7}, {0x24, 7}, {0x18, 7}, {0x02, 8}, {0x03, 8}, {0x1A, 8},
    {0x1B, 8}, {0x12, 8}, {0x13, 8}, {0x14, 8}, {0x15, 8}, {0x16, 8}, {0x17, 8}, {0x28, 8},
    {0x29, 8}, {0x2A, 8}, {0x2B, 8}, {0x2C, 8}, {0x2D, 8}, {0x04, 8}, {0x05, 8}, {0x0A, 8},
    {0x0B, 8}, {0x52, 8}, {0x53, 8}, {0x54, 8}, {0x55, 8}, {0x24, 8}, {0x25, 8}, {0x58, 8},
    {0x59, 8}, {0x5A, 8}, {0x5B, 8}, {0x4A, 8}, {0x4B, 8}, {0x32, 8}, {0x33, 8}, {0x34, 8}};
constexpr Code kWhiteMakeUp[27] = {{0x1B, 5}, {0x12, 5}, {0x17, 6}, {0x37, 7}, {0x36, 8}, {0x37, 8},
                                   {0x64, 8}, {0x65, 8}, {0x68, 8}, {0x67, 8}, {0xCC, 9}, {0xCD, 9},
                                   {0xD2, 9}, {0xD3, 9}, {0xD4, 9}, {0xD5, 9}, {0xD6, 9}, {0xD7, 9},
                                   {0xD8, 9}, {0xD9, 9}, {0xDA, 9}, {0xDB, 9}, {0x98, 9}, {0x99, 9},
                                   {0x9A, 9}, {0x18, 6}, {0x9B, 9}};
constexpr Code kBlackTerminating[64] = {
    {0x37, 10}, {0x02, 3},  {0x03, 2},  {0x02, 2},  {0x03, 3},  {0x03, 4},  {0x02, 4},  {0x03, 5},
    {0x05, 6},  {0x04, 6},  {0x04, 7},  {0x05, 7},  {0x07, 7},  {0x04, 8},  {0x07, 8},  {0x18, 9},
    {0x17, 10}, {0x18, 10}, {0x08, 10}, {0x67, 11}, {0x68, 11}, {0x6C, 11}, {0x37, 11}, {0x28, 11},
    {0x17, 11}, {0x18, 11}, {0xCA, 12}, {0xCB, 12}, {0xCC, 12}, {0xCD, 12}, {0x68, 12}, {0x69, 12},
    {0x6A, 12}, {0x6B, 12}, {0xD2, 12}, {0xD3, 12}, {0xD4, 12}, {0xD5, 12}, {0xD6, 12}, {0xD7, 12},
    {0x6C, 12}, {0x6D, 12}, {0xDA, 12}, {0xDB, 12}, {0x54, 12}, {0x55, 12}, {0x56, 12}, {0x57, 12},
    {0x64, 12}, {0x65, 12}, {0x52, 12}, {0x53, 12}, {0x24, 12}, {0x37, 12}, {0x38, 12}, {0x27, 12},
    {0x28, 12}, {0x58, 12}, {0x59, 12}, {0x2B, 12}, {0x2C, 12}, {0x5A, 12}, {0x66, 12}, {0x67, 12}};
constexpr Code kBlackMakeUp[27] = {
    {0x0F, 10}, {0xC8, 12}, {0xC9, 12}, {0x5B, 12}, {0x33, 12}, {0x34, 12}, {0x35, 12},
    {0x6C, 13}, {0x6D, 13}, {0x4A, 13}, {0x4B, 13}, {0x4C, 13}, {0x4D, 13}, {0x72, 13},
    {0x73, 13}, {0x74, 13}, {0x75, 13}, {0x76, 13}, {0x77, 13}, {0x52, 13}, {0x53, 13},
    {0x54, 13}, {0x55, 13}, {0x5A, 13}, {0x5B, 13}, {0x64, 13}, {0x65, 13}};
constexpr Code kSharedMakeUp[13] = {{0x08, 11}, {0x0C, 11}, {0x0D, 11}, {0x12, 12}, {0x13, 12},
                                    {0x14, 12}, {0x15, 12}, {0x16, 12}, {0x17, 12}, {0x1C, 12},
                                    {0x1D, 12}, {0x1E, 12}, {0x1F, 12}};

// The 2-D mode codes: vertical ones by a1 - b1, from -3 to 3, then pass.
constexpr Code kHorizontal = {0x1, 3};
constexpr Code kVertical[8] = {{0x02, 7}, {0x02, 6}, {0x2, 3},  {0x1, 1},
                               {0x3, 3},  {0x03, 6}, {0x03, 7}, {0x1, 4}};
constexpr std::uint32_t kEndOfLine = 0x001;  // twelve bits

// Bits written high bit first into a 64-bit word, spilled four bytes at a
// time into room the caller has made beforehand.
class BitWriter {
  public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out), at_(out.size()) {}
    // Makes room for at least `bytes` more bytes.
    void reserve(std::size_t bytes) {
        if (out_.size() < at_ + bytes + 8)
            out_.resize(std::max(out_.size() * 2, at_ + bytes + 8));
    }
    void put(std::uint32_t bits, unsigned length) {
        word_ = (word_ << length) | bits;
        used_ += length;
        if (used_ >= 32) {
            used_ -= 32;
            const std::uint32_t high =
                __builtin_bswap32(static_cast<std::uint32_t>(word_ >> used_));
            std::memcpy(out_.data() + at_, &high, 4);
            at_ += 4;
        }
    }
    void put(Code code) { put(code.bits, code.length); }
    // Writes what is left, the last byte padded with zero bits, and trims the room.
    void finish() {
        while (used_ >= 8) {
            used_ -= 8;
            out_[at_++] = static_cast<std::uint8_t>(word_ >> used_);
        }
        if (used_ > 0)
            out_[at_++] = static_cast<std::uint8_t>(word_ << (8 - used_));
        used_ = 0;
        out_.resize(at_);
    }

  private:
    std::vector<std::uint8_t>& out_;
    std::size_t at_;  // bytes written
    std::uint64_t word_ = 0;
    unsigned used_ = 0;  // bits in word_ not yet written
};

// The code of each run of up to 2623 pixels of either colour as one: its
// make-up code, if any, then its terminating code, at most 25 bits. One
// lookup instead of two choices per run; put in line, since coding a
// dithered page writes millions of runs.
struct RunCodes {
    std::uint32_t bits[2][2624];
    std::uint8_t length[2][2624];
};

constexpr RunCodes makeRunCodes() {
    RunCodes table{};
    for (int black = 0; black < 2; ++black) {
        const Code* terminating = black ? kBlackTerminating : kWhiteTerminating;
        const Code* makeUp = black ? kBlackMakeUp : kWhiteMakeUp;
        for (int run = 0; run < 2624; ++run) {
            Code first{0, 0};
            if (const int steps = run >> 6; steps > 0)
                first = steps <= 27 ? makeUp[steps - 1] : kSharedMakeUp[steps - 28];
            const Code last = terminating[run & 63];
            table.bits[black][run] = (std::uint32_t{first.bits} << last.length) | last.bits;
            table.length[black][run] = static_cast<std::uint8_t>(first.length + last.length);
        }
    }
    return table;
}
constexpr RunCodes kRunCodes = makeRunCodes();

inline void putRun(BitWriter& writer, int run, bool black) {
    while (run >= 2624) {
        writer.put(kSharedMakeUp[12]);
        run -= 2560;
    }
    writer.put(kRunCodes.bits[black][run], kRunCodes.length[black][run]);
}

// A word of eight pixel bytes with each byte's bits reversed: the row's
// first pixel becomes the word's lowest bit on a little-endian load.
std::uint64_t pixelsLowFirst(std::uint64_t w) {
    w = ((w >> 1) & 0x5555555555555555ull) | ((w & 0x5555555555555555ull) << 1);
    w = ((w >> 2) & 0x3333333333333333ull) | ((w & 0x3333333333333333ull) << 2);
    return ((w >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((w & 0x0F0F0F0F0F0F0F0Full) << 4);
}

// The positions where a row's colour changes, the pixel before the first
// taken as white, then `width` three times as the ends every search stops
// at. `changes` has room for width + 3 positions.
void changesOf(const std::uint8_t* row, int width, std::vector<std::uint8_t>& padded,
               int* changes) {
    const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
    const std::size_t words = (rowBytes + 7) / 8;
    padded.resize(words * 8);
    std::memcpy(padded.data(), row, rowBytes);
    std::memset(padded.data() + rowBytes, 0, words * 8 - rowBytes);
    int* out = changes;
    std::uint64_t previous = 0;  // the last pixel of the word before, in the low bit
    for (std::size_t w = 0; w < words; ++w) {
        std::uint64_t word;
        std::memcpy(&word, padded.data() + w * 8, 8);
        word = pixelsLowFirst(word);
        std::uint64_t changed = word ^ ((word << 1) | previous);
        previous = word >> 63;
        const int base = static_cast<int>(w * 64);
        if (width - base < 64)  // no change past the row's end
            changed &= (1ull << (width - base)) - 1;
        while (changed) {
            *out++ = base + __builtin_ctzll(changed);
            changed &= changed - 1;
        }
    }
    *out++ = width;
    *out++ = width;
    *out = width;
}

void code1D(BitWriter& writer, const int* changes, int width) {
    int from = 0;
    bool black = false;
    for (const int* at = changes;; ++at) {
        putRun(writer, *at - from, black);
        if (*at >= width)
            break;
        from = *at;
        black = !black;
    }
}

// Modified READ against the reference row, as T.4 describes it: a0 starts
// on an imaginary white pixel before the row, and b1 is the reference
// row's first change after a0 to the colour opposite a0's.
void code2D(BitWriter& writer, const int* a, const int* b, int width) {
    // a[ia] is a1, the row's first change after a0; b[ib] the reference
    // row's first change after a0. Both lists end in `width` three times,
    // so a2 and b2 can be read without asking whether a1 or b1 is the end.
    std::size_t ia = 0, ib = 0;
    int a0 = 0;
    unsigned black = 0;  // a0's colour
    for (;;) {
        // Changes to black sit at even indexes, changes to white at odd ones:
        // b1 is the first one after a0 whose colour is not a0's.
        const std::size_t ib1 = ib + ((ib ^ black) & 1);
        const int a1 = a[ia];
        const int b1 = b[ib1];
        const int b2 = b[ib1 + 1];
        if (b2 < a1) {
            writer.put(kVertical[7]);  // pass
            a0 = b2;
            ib = ib1 + 2;
            continue;  // a0 < a1 <= width, and b[ib] > a0
        }
        if (const int d = a1 - b1; d >= -3 && d <= 3) {
            writer.put(kVertical[d + 3]);
            a0 = a1;
            ia += 1;
            black ^= 1;
        } else {
            const int a2 = a[ia + 1];
            writer.put(kHorizontal);
            putRun(writer, a1 - a0, black);
            putRun(writer, a2 - a1, !black);
            a0 = a2;
            ia += 2;
        }
        if (a0 >= width)
            break;
        while (b[ib] <= a0)
            ++ib;
    }
}

}  // namespace

void CodeFaxRows(const std::uint8_t* rows, int width, int height, std::size_t rowBytes,
                 int codingRows, std::vector<std::uint8_t>& out) {
    // Codes rarely take more than the rows themselves: one allocation, mostly.
    out.reserve(out.size() + rowBytes * static_cast<std::size_t>(height) + 64);
    BitWriter writer(out);
    std::vector<std::uint8_t> padded;
    std::vector<int> changes(static_cast<std::size_t>(width) + 3);
    std::vector<int> reference(changes.size());
    for (int y = 0; y < height; ++y) {
        const bool oneD = y % codingRows == 0;
        // At most two codes of 13 bits and a mode code per colour change,
        // one 2560 make-up code per 2560 pixels, and the end of line.
        writer.reserve(static_cast<std::size_t>(width) * 4 + 16);
        writer.put((kEndOfLine << 1) | (oneD ? 1 : 0), 13);
        changesOf(rows + rowBytes * static_cast<std::size_t>(y), width, padded, changes.data());
        if (oneD)
            code1D(writer, changes.data(), width);
        else
            code2D(writer, changes.data(), reference.data(), width);
        changes.swap(reference);
    }
    writer.finish();
}

}  // namespace miravo
