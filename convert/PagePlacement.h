// Where an image goes on the fax page. An image keeps its shape: with a
// resolution it takes its physical size (scaled down, never up, when it is
// larger than the page); without one it is fitted to the page. A landscape
// image is turned a quarter turn only when it then comes out larger. The
// image is centred on white paper; a page of exactly the fax size is
// taken as it is, and a fax page of standard resolution (98 lines per
// inch) has each of its rows doubled.
#pragma once

#include "convert/PageImage.h"

namespace miravo {

// An image's resolution in dots per inch; 0 where the file states none.
struct Resolution {
    double x = 0;
    double y = 0;
    bool known() const { return x > 0 && y > 0; }
};

// Resolutions outside this range are taken as none stated: no scan or
// screen makes them, and they would put a page at a size of miles or dust.
inline constexpr double kLeastDpi = 10;
inline constexpr double kMostDpi = 20000;
Resolution Sane(Resolution stated);

struct Placement {
    bool turned = false;  // a quarter turn counter-clockwise first
    int left = 0;         // the image's rectangle on the fax page
    int top = 0;
    int width = 0;
    int height = 0;
};

// The placement of a `width` x `height` image (before any turn) of the
// given resolution on the fax page. Without `mayTurn` the image stays as
// it is turned now (a page the user turned).
Placement PlaceImageOnPage(int width, int height, Resolution resolution, bool mayTurn = true);

// Draws the image onto the fax page (`canvas` becomes 1728 x 2292 grey)
// as PlaceImageOnPage says. `turnBuffer` is reused between pages.
void DrawPlacedImage(GreyView image, Resolution resolution, GreyImage& canvas,
                     GreyImage& turnBuffer, bool mayTurn = true);

// A page of the given resolution turned `quarterTurns` quarter turns
// clockwise (any count; four is none) and placed upright on the fax page:
// a half turn keeps the page's size, a quarter turn fits what was the
// page's height across the fax page, keeping its true shape at the fax
// page's unequal resolutions. `buffers` are reused between pages.
void DrawTurnedPage(GreyView page, Resolution resolution, int quarterTurns, GreyImage& canvas,
                    GreyImage (&buffers)[2]);

}  // namespace miravo
