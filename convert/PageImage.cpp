#include "convert/PageImage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
    // Output row r is source column w - 1 - r read top to bottom. Blocks keep
    // both the source rows and the output rows in the cache.
    constexpr int kBlock = 64;
    for (int by = 0; by < h; by += kBlock) {
        const int yEnd = std::min(h, by + kBlock);
        for (int bx = 0; bx < w; bx += kBlock) {
            const int xEnd = std::min(w, bx + kBlock);
            for (int x = bx; x < xEnd; ++x) {
                std::uint8_t* dst = out.row(w - 1 - x);
                for (int y = by; y < yEnd; ++y)
                    dst[y] = source.row(y)[x];
            }
        }
    }
}

namespace {

// Source position of each output pixel centre in 1/256 pixel, split into the
// left (or upper) neighbour, the right one and the weight of the right one.
struct Tap {
    int first;
    int second;
    int weight;  // 0..255
};

void makeTaps(int sourceSize, int outSize, std::vector<Tap>& taps) {
    taps.resize(static_cast<std::size_t>(outSize));
    const std::int64_t last = static_cast<std::int64_t>(sourceSize - 1) * 256;
    for (int i = 0; i < outSize; ++i) {
        std::int64_t pos = (static_cast<std::int64_t>(2 * i + 1) * sourceSize * 256) /
                               (2 * static_cast<std::int64_t>(outSize)) -
                           128;
        pos = std::clamp<std::int64_t>(pos, 0, last);
        const int first = static_cast<int>(pos >> 8);
        taps[static_cast<std::size_t>(i)] = {first, std::min(first + 1, sourceSize - 1),
                                             static_cast<int>(pos & 255)};
    }
}

}  // namespace

void ResampleInto(GreyView source, GreyImage& canvas, int x, int y, int w, int h) {
    if (w <= 0 || h <= 0 || source.width <= 0 || source.height <= 0)
        return;
    thread_local std::vector<Tap> columns;
    thread_local std::vector<Tap> rows;
    makeTaps(source.width, w, columns);
    makeTaps(source.height, h, rows);
    for (int j = 0; j < h; ++j) {
        const Tap& r = rows[static_cast<std::size_t>(j)];
        const std::uint8_t* upper = source.row(r.first);
        const std::uint8_t* lower = source.row(r.second);
        std::uint8_t* dst = canvas.row(y + j) + x;
        const int wy = r.weight;
        if (wy == 0) {
            for (int i = 0; i < w; ++i) {
                const Tap& c = columns[static_cast<std::size_t>(i)];
                const int v = upper[c.first] * (256 - c.weight) + upper[c.second] * c.weight;
                dst[i] = static_cast<std::uint8_t>((v + 128) >> 8);
            }
            continue;
        }
        for (int i = 0; i < w; ++i) {
            const Tap& c = columns[static_cast<std::size_t>(i)];
            const int top = upper[c.first] * (256 - c.weight) + upper[c.second] * c.weight;
            const int bottom = lower[c.first] * (256 - c.weight) + lower[c.second] * c.weight;
            dst[i] = static_cast<std::uint8_t>((top * (256 - wy) + bottom * wy + 32768) >> 16);
        }
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
    std::fill(canvas.pixels.begin(), canvas.pixels.end(), std::uint8_t{255});
    const Size fit = FitSize(page.width, page.height, kFaxWidth, kFaxHeight);
    const int left = (kFaxWidth - fit.width) / 2;
    const int top = (kFaxHeight - fit.height) / 2;
    if (fit.width == page.width && fit.height == page.height) {
        for (int y = 0; y < page.height; ++y)
            std::memcpy(canvas.row(top + y) + left, page.row(y),
                        static_cast<std::size_t>(page.width));
        return;
    }
    ResampleInto(page, canvas, left, top, fit.width, fit.height);
}

void Threshold(GreyView source, BitPage& out, int level) {
    if (out.width != source.width || out.height != source.height)
        out = BitPage(source.width, source.height);
    const std::size_t rowBytes = out.rowBytes();
    const int whole = source.width / 8;
    for (int y = 0; y < source.height; ++y) {
        const std::uint8_t* p = source.row(y);
        std::uint8_t* dst = out.bits.data() + rowBytes * y;
        for (int b = 0; b < whole; ++b) {
            const std::uint8_t* q = p + 8 * b;
            unsigned byte = 0;
            for (int i = 0; i < 8; ++i)
                byte |= static_cast<unsigned>(q[i] <= level) << (7 - i);
            dst[b] = static_cast<std::uint8_t>(byte);
        }
        if (whole < static_cast<int>(rowBytes)) {
            unsigned byte = 0;
            for (int x = whole * 8; x < source.width; ++x)
                byte |= static_cast<unsigned>(p[x] <= level) << (7 - (x & 7));
            dst[whole] = static_cast<std::uint8_t>(byte);
        }
    }
}

void Dither(GreyView source, BitPage& out) {
    if (out.width != source.width || out.height != source.height)
        out = BitPage(source.width, source.height);
    std::fill(out.bits.begin(), out.bits.end(), std::uint8_t{0});
    const std::size_t rowBytes = out.rowBytes();
    // Errors of the current and the next row, one guard cell on each side.
    std::vector<int> current(static_cast<std::size_t>(source.width) + 2, 0);
    std::vector<int> next(current.size(), 0);
    for (int y = 0; y < source.height; ++y) {
        const std::uint8_t* p = source.row(y);
        std::uint8_t* dst = out.bits.data() + rowBytes * y;
        std::fill(next.begin(), next.end(), 0);
        int* cur = current.data() + 1;
        int* nxt = next.data() + 1;
        for (int x = 0; x < source.width; ++x) {
            const int v = p[x] + cur[x];
            int error;
            if (v >= 128) {
                error = v - 255;
            } else {
                error = v;
                dst[x >> 3] = static_cast<std::uint8_t>(dst[x >> 3] | (0x80u >> (x & 7)));
            }
            cur[x + 1] += error * 7 / 16;
            nxt[x - 1] += error * 3 / 16;
            nxt[x] += error * 5 / 16;
            nxt[x + 1] += error / 16;
        }
        current.swap(next);
    }
}

}  // namespace miravo
