// The entry points of the image module (miravo-images.so), looked up by
// name when the module is loaded; both sides are built from this header.
#pragma once

#include "convert/DecodedPage.h"

namespace miravo {
// Changes whenever an entry point or DecodedPage changes, so that a module
// from another build is refused rather than called wrongly.
inline constexpr int kImageModuleVersion = 1;
}  // namespace miravo

extern "C" {
int miravo_images_version();
bool miravo_images_prepare();
bool miravo_images_probe(const char* path, int* width, int* height, int* count);
bool miravo_images_decode(int fd, long long size, miravo::DecodedPage* page);
}
