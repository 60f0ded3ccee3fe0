// The pixel kernels of the page pipeline: quarter turn, bilinear resample,
// aspect-kept fit centred on white, and the two ways to one bit per pixel
// (threshold and Floyd-Steinberg error diffusion). They work on 8-bit grey
// buffers (0 black, 255 white) and produce fax rows of 1 bit per pixel,
// most significant bit first, 1 meaning black.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace miravo {

// The fax page: 1728 x 2292 pixels at 204 x 196 dots per inch.
inline constexpr int kFaxWidth = 1728;
inline constexpr int kFaxHeight = 2292;
inline constexpr int kFaxXDpi = 204;
inline constexpr int kFaxYDpi = 196;
// Grey levels above this become white, the others black.
inline constexpr int kThresholdLevel = 123;

// A read-only window on grey pixels; `stride` is the distance between rows.
struct GreyView {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;

    const std::uint8_t* row(int y) const { return data + stride * y; }
    // Rows [top, top + rows) of this view.
    GreyView band(int top, int rows) const { return {row(top), width, rows, stride}; }
};

struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width * height, no padding

    GreyImage() = default;
    GreyImage(int w, int h, std::uint8_t fill = 255)
        : width(w), height(h), pixels(static_cast<std::size_t>(w) * h, fill) {}
    GreyView view() const { return {pixels.data(), width, height, width}; }
    std::uint8_t* row(int y) { return pixels.data() + static_cast<std::size_t>(width) * y; }
    std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(width) * y + x]; }
};

// One bit per pixel, rows of (width + 7) / 8 bytes, MSB first, 1 = black.
struct BitPage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bits;

    BitPage() = default;
    BitPage(int w, int h) : width(w), height(h), bits(rowBytes() * h, 0) {}
    std::size_t rowBytes() const { return (static_cast<std::size_t>(width) + 7) / 8; }
    const std::uint8_t* row(int y) const { return bits.data() + rowBytes() * y; }
    bool black(int x, int y) const { return (row(y)[x >> 3] >> (7 - (x & 7))) & 1; }
};

// Rows of one bit per pixel as a BitPage holds them, `rowBytes` apart, in
// memory someone else owns: a page read from a file is coded where it lies.
struct BitView {
    const std::uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    std::size_t rowBytes = 0;

    BitView() = default;
    BitView(const std::uint8_t* data, int w, int h, std::size_t stride)
        : bits(data), width(w), height(h), rowBytes(stride) {}
    // A page whose bits fall short of its size (or a negative one) is a
    // page without rows.
    BitView(const BitPage& page)  // NOLINT(google-explicit-constructor): any page is a view
        : BitView(page.bits.data(), page.width, page.height, page.rowBytes()) {
        if (page.bits.size() < page.rowBytes() * static_cast<std::size_t>(page.height))
            height = 0;
    }
};

// The classic luma of 8-bit encoded red, green and blue: 0.299 R +
// 0.587 G + 0.114 B, rounded. Every colour page becomes grey by it, so a
// pure red (76) or a darker green stays black at the threshold.
inline std::uint8_t ClassicLuma(unsigned r, unsigned g, unsigned b) {
    return static_cast<std::uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}
// One row of `width` pixels of three bytes each (red, green, blue) to grey.
void LumaRow(const std::uint8_t* rgb, std::uint8_t* grey, int width);

// Page k of a page file holding `count` pages stacked vertically: rows
// (H / N) * k to (H / N) * (k + 1), with N = max(count, 1). Rows left over at
// the bottom belong to no page. Zero rows when the image is lower than N.
struct BandGeometry {
    int top = 0;
    int rows = 0;
};
BandGeometry PageBand(int imageHeight, std::uint32_t count, std::uint32_t k);
inline std::uint32_t BandCount(std::uint32_t count) {
    return count == 0 ? 1 : count;
}

// A quarter turn counter-clockwise: the top-right corner becomes the
// top-left one; width and height are exchanged.
void RotateQuarterTurn(GreyView source, GreyImage& out);

// Scales `source` bilinearly (pixel centres aligned) into the rectangle
// (x, y, w, h) of `canvas`, which must lie inside it.
void ResampleInto(GreyView source, GreyImage& canvas, int x, int y, int w, int h);

// The size `source` takes inside a box: scaled down, aspect kept, only
// when it is larger than the box in either direction; at least 1 x 1.
struct Size {
    int width = 0;
    int height = 0;
};
Size FitSize(int width, int height, int boxWidth, int boxHeight);

// Brings one page band onto the fax page, grey: a landscape band is turned a
// quarter turn; a band smaller than the page in both directions is stretched
// to fill it exactly; any other is fitted (aspect kept) centred on white.
// `canvas` is reused between pages.
void PlaceOnFaxPage(GreyView band, GreyImage& canvas, GreyImage& turnBuffer);

// Grey to bits: levels above `level` white, the others black.
void Threshold(GreyView source, BitPage& out, int level = kThresholdLevel);
// Grey to bits by Floyd-Steinberg error diffusion (left to right).
void Dither(GreyView source, BitPage& out);

// Grey to bits without loss: true when every pixel is black (0) or white
// (255), `out` then holding them; false at the first other level. Threshold
// and dithering both give such a page back unchanged.
bool PackBlackAndWhite(GreyView source, BitPage& out);

}  // namespace miravo
