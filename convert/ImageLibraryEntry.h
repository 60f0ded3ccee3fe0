// The entry points of the image module (miravo-images.so), looked up by
// name when the module is loaded; both sides are built from this header.
#pragma once

#include "convert/DecodedPage.h"

namespace miravo {
// Changes whenever an entry point or DecodedPage changes, so that a module
// from another build is refused rather than called wrongly.
inline constexpr int kImageModuleVersion = 2;
}  // namespace miravo

extern "C" {
int miravo_images_version();
bool miravo_images_prepare();
bool miravo_images_decode(int fd, long long size, miravo::DecodedPage* page);
// Called with each image of a file in turn, upright, with its resolution
// in dots per inch (0 where the file states none); false stops the reading.
typedef bool (*miravo_images_frame_sink)(void* context, const miravo::DecodedPage* page,
                                         double xDpi, double yDpi);
// The images delivered (-1 when the file is no image); `failedFrame` is the
// number, from 1, of the image that could not be decoded, else 0.
int miravo_images_decode_frames(int fd, long long size, miravo_images_frame_sink sink,
                                void* context, int* failedFrame);
}
