#include "convert/PagePlacement.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace miravo {

Resolution Sane(Resolution stated) {
    auto sane = [](double dpi) { return dpi >= kLeastDpi && dpi <= kMostDpi; };
    if (!sane(stated.x) || !sane(stated.y))
        return {};
    return stated;
}

namespace {

struct Fit {
    double scale = 0;  // of the image's size in fax pixels
    double width = 0;  // that size, before the scale
    double height = 0;
};

// The image's size in fax pixels and the scale it then takes on the page.
Fit fitOnPage(double columns, double rows, Resolution r) {
    Fit fit;
    if (r.known()) {
        fit.width = columns * kFaxXDpi / r.x;
        fit.height = rows * kFaxYDpi / r.y;
    } else {
        // Square pixels: only the shape counts, the page sets the size.
        fit.width = columns * kFaxXDpi;
        fit.height = rows * kFaxYDpi;
    }
    fit.scale = std::min(kFaxWidth / fit.width, kFaxHeight / fit.height);
    if (r.known())
        fit.scale = std::min(fit.scale, 1.0);
    return fit;
}

int rounded(double pixels, int most) {
    return std::clamp(static_cast<int>(std::lround(pixels)), 1, most);
}

// Each source pixel becomes a block of `kx` x `ky` pixels.
void replicateInto(GreyView source, GreyImage& canvas, int left, int top, int kx, int ky) {
    for (int y = 0; y < source.height; ++y) {
        const std::uint8_t* src = source.row(y);
        std::uint8_t* dst = canvas.row(top + y * ky) + left;
        if (kx == 1) {
            std::memcpy(dst, src, static_cast<std::size_t>(source.width));
        } else {
            for (int x = 0; x < source.width; ++x)
                std::memset(dst + x * kx, src[x], static_cast<std::size_t>(kx));
        }
        for (int k = 1; k < ky; ++k)
            std::memcpy(canvas.row(top + y * ky + k) + left, dst,
                        static_cast<std::size_t>(source.width) * kx);
    }
}

}  // namespace

Placement PlaceImageOnPage(int width, int height, Resolution resolution, bool mayTurn) {
    Placement place;
    if (width <= 0 || height <= 0)
        return place;
    Resolution r = Sane(resolution);
    // A page of the fax size is a fax page, whatever its file says.
    if (!r.known() && width == kFaxWidth && height == kFaxHeight)
        r = {kFaxXDpi, kFaxYDpi};
    const Fit upright = fitOnPage(width, height, r);
    // Turned, the columns run down the page and the rows across.
    const Fit turned = fitOnPage(height, width, Resolution{r.y, r.x});
    const bool landscape = upright.width > upright.height;
    // A turn must gain more than rounding: a square stays upright.
    place.turned = mayTurn && landscape && turned.scale > upright.scale * 1.0001;
    const Fit& fit = place.turned ? turned : upright;
    place.width = rounded(fit.width * fit.scale, kFaxWidth);
    place.height = rounded(fit.height * fit.scale, kFaxHeight);
    place.left = (kFaxWidth - place.width) / 2;
    place.top = (kFaxHeight - place.height) / 2;
    return place;
}

void DrawPlacedImage(GreyView image, Resolution resolution, GreyImage& canvas,
                     GreyImage& turnBuffer, bool mayTurn) {
    if (canvas.width != kFaxWidth || canvas.height != kFaxHeight)
        canvas = GreyImage(kFaxWidth, kFaxHeight);
    const Placement place = PlaceImageOnPage(image.width, image.height, resolution, mayTurn);
    if (place.width == 0)
        return;
    GreyView page = image;
    if (place.turned) {
        RotateQuarterTurn(image, turnBuffer);
        page = turnBuffer.view();
    }
    // White paper around the image: whole rows above and below, the
    // margins beside it; the image itself overwrites the rest.
    const int right = place.left + place.width;
    for (int y = 0; y < kFaxHeight; ++y) {
        std::uint8_t* row = canvas.row(y);
        if (y < place.top || y >= place.top + place.height) {
            std::memset(row, 255, kFaxWidth);
        } else {
            std::memset(row, 255, static_cast<std::size_t>(place.left));
            std::memset(row + right, 255, static_cast<std::size_t>(kFaxWidth - right));
        }
    }
    // Whole multiples (a fax page as it is, or of standard resolution) are
    // copied pixel for pixel, so that a black-and-white page stays so.
    if (place.width % page.width == 0 && place.height % page.height == 0) {
        replicateInto(page, canvas, place.left, place.top, place.width / page.width,
                      place.height / page.height);
        return;
    }
    ResampleInto(page, canvas, place.left, place.top, place.width, place.height);
}

void DrawTurnedPage(GreyView page, Resolution resolution, int quarterTurns, GreyImage& canvas,
                    GreyImage (&buffers)[2]) {
    // Clockwise by a quarter is counter-clockwise by three.
    const int counterClockwise = (4 - ((quarterTurns % 4) + 4) % 4) % 4;
    GreyView turned = page;
    for (int i = 0; i < counterClockwise; ++i) {
        RotateQuarterTurn(turned, buffers[i % 2]);
        turned = buffers[i % 2].view();
    }
    // Turned a quarter, the columns run down the page: the resolutions trade places.
    const Resolution r = counterClockwise % 2 ? Resolution{resolution.y, resolution.x} : resolution;
    GreyImage scratch;
    DrawPlacedImage(turned, r, canvas, scratch, false);
}

}  // namespace miravo
