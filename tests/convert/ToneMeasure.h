// How near a black-and-white page looks to its grey original from a
// reading distance: the page seen through a 5 x 5 box blur, against the
// grey, as the mean absolute difference in grey levels over a region.
// Shared by the conversion tests and the conversion benchmark.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "convert/PageImage.h"

namespace miravo::test {

inline double BlurredDifference(const GreyImage& original, const BitPage& bits, int top = 0,
                                int bottom = -1) {
    if (bottom < 0)
        bottom = original.height;
    const int w = original.width;
    // Column sums of 5 rows, then 5 columns of them.
    std::vector<int> column(static_cast<std::size_t>(w));
    double total = 0;
    long count = 0;
    for (int y = std::max(top, 2); y < std::min(bottom, original.height - 2); ++y) {
        for (int x = 0; x < w; ++x) {
            int white = 0;
            for (int j = -2; j <= 2; ++j)
                white += bits.black(x, y + j) ? 0 : 255;
            column[static_cast<std::size_t>(x)] = white;
        }
        for (int x = 2; x < w - 2; ++x) {
            int sum = 0;
            for (int i = -2; i <= 2; ++i)
                sum += column[static_cast<std::size_t>(x + i)];
            total += std::abs(sum / 25.0 - original.at(x, y));
            ++count;
        }
    }
    return count ? total / count : 0;
}

// A grey page that stands in for a photograph: smooth light and shade over
// the whole range, with finer texture on top.
inline GreyImage Photograph(int width, int height) {
    GreyImage image(width, height);
    std::uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const double v = 128 + 90 * std::sin(x / 173.0) * std::cos(y / 211.0) +
                             25 * std::sin((x + 2 * y) / 37.0) + ((noise >> 24) % 17) - 8;
            image.row(y)[x] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        }
    }
    return image;
}

}  // namespace miravo::test
