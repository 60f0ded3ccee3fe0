#include "convert/PageImage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "convert/ErrorDiffusion.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace miravo {

BandGeometry PageBand(int imageHeight, std::uint32_t count, std::uint32_t k) {
    const std::uint32_t n = BandCount(count);
    if (imageHeight <= 0 || k >= n)
        return {};
    const std::uint32_t rows = static_cast<std::uint32_t>(imageHeight) / n;
    return {static_cast<int>(rows * k), static_cast<int>(rows)};
}

void RotateQuarterTurn(GreyView source, GreyImage& out) {
    const int w = source.width;
    const int h = source.height;
    out.width = h;
    out.height = w;
    out.pixels.resize(static_cast<std::size_t>(w) * h);
    // Output row r is source column w - 1 - r read top to bottom. The work
    // goes in blocks that keep both the source rows and the output rows in
    // the cache, 8 x 8 pixels at a time where the vector unit allows.
    int w8 = 0;
    int h8 = 0;
#if defined(__SSE2__)
    w8 = w & ~7;
    h8 = h & ~7;
    constexpr int kBlock = 64;
    for (int by = 0; by < h8; by += kBlock) {
        const int yEnd = std::min(h8, by + kBlock);
        for (int bx = 0; bx < w8; bx += kBlock) {
            const int xEnd = std::min(w8, bx + kBlock);
            for (int y = by; y < yEnd; y += 8) {
                for (int x = bx; x < xEnd; x += 8) {
                    __m128i r[8];
                    for (int j = 0; j < 8; ++j)
                        r[j] = _mm_loadl_epi64(
                            reinterpret_cast<const __m128i*>(source.row(y + j) + x));
                    const __m128i t0 = _mm_unpacklo_epi8(r[0], r[1]);
                    const __m128i t1 = _mm_unpacklo_epi8(r[2], r[3]);
                    const __m128i t2 = _mm_unpacklo_epi8(r[4], r[5]);
                    const __m128i t3 = _mm_unpacklo_epi8(r[6], r[7]);
                    const __m128i u0 = _mm_unpacklo_epi16(t0, t1);
                    const __m128i u1 = _mm_unpackhi_epi16(t0, t1);
                    const __m128i u2 = _mm_unpacklo_epi16(t2, t3);
                    const __m128i u3 = _mm_unpackhi_epi16(t2, t3);
                    // Each holds two source columns, top to bottom.
                    const __m128i columns[4] = {
                        _mm_unpacklo_epi32(u0, u2), _mm_unpackhi_epi32(u0, u2),
                        _mm_unpacklo_epi32(u1, u3), _mm_unpackhi_epi32(u1, u3)};
                    for (int i = 0; i < 4; ++i) {
                        _mm_storel_epi64(reinterpret_cast<__m128i*>(out.row(w - 1 - x - 2 * i) + y),
                                         columns[i]);
                        _mm_storel_epi64(reinterpret_cast<__m128i*>(out.row(w - 2 - x - 2 * i) + y),
                                         _mm_unpackhi_epi64(columns[i], columns[i]));
                    }
                }
            }
        }
    }
#endif
    // What the blocks left: the right-hand columns and the bottom rows.
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = source.row(y);
        for (int x = (y < h8 ? w8 : 0); x < w; ++x)
            out.row(w - 1 - x)[y] = src[x];
    }
}

namespace {

// How the pixels of one axis are made: output pixel i takes `count[i]`
// source pixels from `first[i]` on, with weights (out of 256) from
// `weight[offset[i]]` on.
struct AxisFilter {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<int> offset;
    std::vector<std::uint32_t> weight;
};

// Scaling up (or keeping the size): bilinear between the two source pixels
// around the output pixel's centre (pixel centres aligned). Scaling down:
// each output pixel is the average of the source area it covers (a box
// filter), so a line one source pixel thin still darkens the output pixel
// it falls in instead of falling between two samples.
void makeFilter(int sourceSize, int outSize, AxisFilter& filter) {
    filter.first.assign(static_cast<std::size_t>(outSize), 0);
    filter.count.assign(static_cast<std::size_t>(outSize), 0);
    filter.offset.assign(static_cast<std::size_t>(outSize), 0);
    filter.weight.clear();
    if (outSize >= sourceSize) {
        const std::int64_t last = static_cast<std::int64_t>(sourceSize - 1) * 256;
        for (int i = 0; i < outSize; ++i) {
            std::int64_t pos = (static_cast<std::int64_t>(2 * i + 1) * sourceSize * 256) /
                                   (2 * static_cast<std::int64_t>(outSize)) -
                               128;
            pos = std::clamp<std::int64_t>(pos, 0, last);
            const auto k = static_cast<std::size_t>(i);
            filter.first[k] = static_cast<int>(pos >> 8);
            filter.offset[k] = static_cast<int>(filter.weight.size());
            const auto right = static_cast<std::uint32_t>(pos & 255);
            filter.count[k] = right == 0 ? 1 : 2;
            filter.weight.push_back(256 - right);
            if (right != 0)
                filter.weight.push_back(right);
        }
        return;
    }
    // Positions in 1/outSize of a source pixel: output pixel i covers
    // [i * sourceSize, (i + 1) * sourceSize).
    for (int i = 0; i < outSize; ++i) {
        const std::int64_t begin = static_cast<std::int64_t>(i) * sourceSize;
        const std::int64_t end = begin + sourceSize;
        const auto k = static_cast<std::size_t>(i);
        const int from = static_cast<int>(begin / outSize);
        const int to = static_cast<int>((end + outSize - 1) / outSize);  // one past the last
        filter.first[k] = from;
        filter.count[k] = to - from;
        filter.offset[k] = static_cast<int>(filter.weight.size());
        std::uint32_t sum = 0;
        std::size_t largest = filter.weight.size();
        for (int p = from; p < to; ++p) {
            const std::int64_t covered =
                std::min<std::int64_t>(end, std::int64_t(p + 1) * outSize) -
                std::max<std::int64_t>(begin, std::int64_t(p) * outSize);
            const auto w =
                static_cast<std::uint32_t>((covered * 256 + sourceSize / 2) / sourceSize);
            if (p == from || w > filter.weight[largest])
                largest = filter.weight.size();
            filter.weight.push_back(w);
            sum += w;
        }
        // Rounding must not make the page lighter or darker.
        filter.weight[largest] += 256 - sum;
    }
}

}  // namespace

void ResampleInto(GreyView source, GreyImage& canvas, int x, int y, int w, int h) {
    if (w <= 0 || h <= 0 || source.width <= 0 || source.height <= 0)
        return;
    thread_local AxisFilter columns;
    thread_local AxisFilter rows;
    makeFilter(source.width, w, columns);
    makeFilter(source.height, h, rows);
    // Separable: a source row is scaled across once (in 1/256 grey levels)
    // and kept while the next output row still needs it; consecutive output
    // rows share at most two source rows.
    thread_local std::vector<std::uint32_t> lines[2];
    int lineRow[2] = {-1, -1};
    int older = 0;
    auto across = [&](int sourceRow) -> const std::uint32_t* {
        for (int k = 0; k < 2; ++k)
            if (lineRow[k] == sourceRow)
                return lines[k].data();
        const int k = older;
        older ^= 1;
        std::vector<std::uint32_t>& line = lines[k];
        line.resize(static_cast<std::size_t>(w));
        lineRow[k] = sourceRow;
        const std::uint8_t* s = source.row(sourceRow);
        for (int i = 0; i < w; ++i) {
            const auto c = static_cast<std::size_t>(i);
            const std::uint8_t* px = s + columns.first[c];
            const std::uint32_t* wt = columns.weight.data() + columns.offset[c];
            std::uint32_t sum = 0;
            for (int t = 0; t < columns.count[c]; ++t)
                sum += px[t] * wt[t];
            line[c] = sum;
        }
        return line.data();
    };
    thread_local std::vector<std::uint32_t> sum;
    sum.resize(static_cast<std::size_t>(w));
    for (int j = 0; j < h; ++j) {
        const auto r = static_cast<std::size_t>(j);
        std::uint8_t* dst = canvas.row(y + j) + x;
        const std::uint32_t* wt = rows.weight.data() + rows.offset[r];
        if (rows.count[r] == 1) {
            const std::uint32_t* line = across(rows.first[r]);
            for (int i = 0; i < w; ++i)
                dst[i] = static_cast<std::uint8_t>((line[i] + 128) >> 8);
            continue;
        }
        std::fill(sum.begin(), sum.end(), 0u);
        for (int t = 0; t < rows.count[r]; ++t) {
            const std::uint32_t* line = across(rows.first[r] + t);
            const std::uint32_t weight = wt[t];
            for (int i = 0; i < w; ++i)
                sum[static_cast<std::size_t>(i)] += line[i] * weight;
        }
        for (int i = 0; i < w; ++i)
            dst[i] = static_cast<std::uint8_t>((sum[static_cast<std::size_t>(i)] + 32768) >> 16);
    }
}

Size FitSize(int width, int height, int boxWidth, int boxHeight) {
    if (width <= boxWidth && height <= boxHeight)
        return {std::max(width, 1), std::max(height, 1)};
    const double scale =
        std::min(static_cast<double>(boxWidth) / width, static_cast<double>(boxHeight) / height);
    const int w = static_cast<int>(std::lround(width * scale));
    const int h = static_cast<int>(std::lround(height * scale));
    return {std::clamp(w, 1, boxWidth), std::clamp(h, 1, boxHeight)};
}

void PlaceOnFaxPage(GreyView band, GreyImage& canvas, GreyImage& turnBuffer) {
    GreyView page = band;
    if (page.height < page.width) {
        RotateQuarterTurn(page, turnBuffer);
        page = turnBuffer.view();
    }
    if (canvas.width != kFaxWidth || canvas.height != kFaxHeight)
        canvas = GreyImage(kFaxWidth, kFaxHeight);
    if (page.height < kFaxHeight && page.width < kFaxWidth) {
        ResampleInto(page, canvas, 0, 0, kFaxWidth, kFaxHeight);
        return;
    }
    const Size fit = FitSize(page.width, page.height, kFaxWidth, kFaxHeight);
    const int left = (kFaxWidth - fit.width) / 2;
    const int top = (kFaxHeight - fit.height) / 2;
    // White paper around the page: whole rows above and below, the margins
    // beside it; the page itself overwrites the rest.
    const int right = left + fit.width;
    for (int y = 0; y < kFaxHeight; ++y) {
        std::uint8_t* row = canvas.row(y);
        if (y < top || y >= top + fit.height) {
            std::memset(row, 255, kFaxWidth);
        } else {
            std::memset(row, 255, static_cast<std::size_t>(left));
            std::memset(row + right, 255, static_cast<std::size_t>(kFaxWidth - right));
        }
    }
    if (fit.width == page.width && fit.height == page.height) {
        for (int y = 0; y < page.height; ++y)
            std::memcpy(canvas.row(top + y) + left, page.row(y),
                        static_cast<std::size_t>(page.width));
        return;
    }
    ResampleInto(page, canvas, left, top, fit.width, fit.height);
}

namespace {

// Bit order reversed within a byte: the mask of 8 pixels has pixel 0 in
// its lowest bit, the fax row wants it in the highest.
constexpr std::array<std::uint8_t, 256> makeReversed() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        for (unsigned b = 0; b < 8; ++b)
            r |= ((i >> b) & 1u) << (7 - b);
        table[i] = static_cast<std::uint8_t>(r);
    }
    return table;
}
constexpr std::array<std::uint8_t, 256> kReversed = makeReversed();

}  // namespace

void LumaRow(const std::uint8_t* rgb, std::uint8_t* grey, int width) {
    // Printed pages are mostly white paper and black text, whose luma is
    // their level itself (the weights sum to one): only colour is weighed.
    for (int x = 0; x < width; ++x, rgb += 3) {
        const unsigned r = rgb[0], g = rgb[1], b = rgb[2];
        grey[x] = r == g && g == b ? static_cast<std::uint8_t>(r) : ClassicLuma(r, g, b);
    }
}

void Threshold(GreyView source, BitPage& out, int level) {
    if (out.width != source.width || out.height != source.height)
        out = BitPage(source.width, source.height);
    const std::size_t rowBytes = out.rowBytes();
    const int whole = source.width / 8;
    const auto limit = static_cast<std::uint8_t>(std::clamp(level, 0, 255));
    for (int y = 0; y < source.height; ++y) {
        const std::uint8_t* p = source.row(y);
        std::uint8_t* dst = out.bits.data() + rowBytes * y;
        int b = 0;
#if defined(__SSE2__)
        // 16 pixels at a time: black where min(pixel, level) == pixel.
        const __m128i bound = _mm_set1_epi8(static_cast<char>(limit));
        for (; b + 2 <= whole; b += 2) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8 * b));
            const unsigned mask =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, bound), v)));
            dst[b] = kReversed[mask & 0xFF];
            dst[b + 1] = kReversed[mask >> 8];
        }
#endif
        for (; b < whole; ++b) {
            const std::uint8_t* q = p + 8 * b;
            unsigned byte = 0;
            for (int i = 0; i < 8; ++i)
                byte |= static_cast<unsigned>(q[i] <= limit) << (7 - i);
            dst[b] = static_cast<std::uint8_t>(byte);
        }
        if (whole < static_cast<int>(rowBytes)) {
            unsigned byte = 0;
            for (int x = whole * 8; x < source.width; ++x)
                byte |= static_cast<unsigned>(p[x] <= limit) << (7 - (x & 7));
            dst[whole] = static_cast<std::uint8_t>(byte);
        }
    }
}

bool PackBlackAndWhite(GreyView source, BitPage& out) {
    if (out.width != source.width || out.height != source.height)
        out = BitPage(source.width, source.height);
    const std::size_t rowBytes = out.rowBytes();
    for (int y = 0; y < source.height; ++y) {
        const std::uint8_t* p = source.row(y);
        std::uint8_t* dst = out.bits.data() + rowBytes * y;
        int x = 0;
#if defined(__SSE2__)
        const __m128i black = _mm_setzero_si128();
        const __m128i white = _mm_set1_epi8(static_cast<char>(0xFF));
        for (; x + 16 <= source.width; x += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x));
            const __m128i isBlack = _mm_cmpeq_epi8(v, black);
            if (_mm_movemask_epi8(_mm_or_si128(isBlack, _mm_cmpeq_epi8(v, white))) != 0xFFFF)
                return false;
            const auto mask = static_cast<unsigned>(_mm_movemask_epi8(isBlack));
            dst[x >> 3] = kReversed[mask & 0xFF];
            dst[(x >> 3) + 1] = kReversed[mask >> 8];
        }
#endif
        if (x < source.width)
            std::memset(dst + (x >> 3), 0, rowBytes - static_cast<std::size_t>(x >> 3));
        for (; x < source.width; ++x) {
            if (p[x] != 0 && p[x] != 255)
                return false;
            if (p[x] == 0)
                dst[x >> 3] = static_cast<std::uint8_t>(dst[x >> 3] | (0x80u >> (x & 7)));
        }
    }
    return true;
}

void Dither(GreyView source, BitPage& out) {
    if (out.width != source.width || out.height != source.height)
        out = BitPage(source.width, source.height);
    DiffuseErrors(source, out);
}

}  // namespace miravo
