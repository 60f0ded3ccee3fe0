// The entry points of the image module (miravo-images.so), looked up by
// name when the module is loaded; both sides are built from this header.
#pragma once

#include "convert/DecodedPage.h"

namespace miravo {
// Changes whenever an entry point or DecodedPage changes, so that a module
// from another build is refused rather than called wrongly.
inline constexpr int kImageModuleVersion = 3;
}  // namespace miravo

extern "C" {
int miravo_images_version();
bool miravo_images_prepare();
// What the decoding entry points hand back when the file could not be read
// (an I/O error), as opposed to bytes that are no image.
#define MIRAVO_IMAGES_READ_ERROR (-2)
// 1 decoded, 0 no image it can decode, MIRAVO_IMAGES_READ_ERROR; the
// resolution stated in the file in dots per inch, 0 where none is.
int miravo_images_decode(int fd, long long size, miravo::DecodedPage* page, double* xDpi,
                         double* yDpi);
// Called with each image of a file in turn, upright, with its resolution
// in dots per inch (0 where the file states none); false stops the reading.
typedef bool (*miravo_images_frame_sink)(void* context, const miravo::DecodedPage* page,
                                         double xDpi, double yDpi);
// The images delivered (-1 when the file is no image, MIRAVO_IMAGES_READ_ERROR
// when a read of the file failed, whatever was delivered); `failedFrame` is
// the number, from 1, of the image that could not be decoded, else 0.
int miravo_images_decode_frames(int fd, long long size, miravo_images_frame_sink sink,
                                void* context, int* failedFrame);
}
