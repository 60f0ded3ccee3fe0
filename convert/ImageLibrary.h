// Image formats other than the renderer's own page files (PNG, JPEG, TIFF,
// GIF, BMP and what else the image library reads) are decoded by a module
// of their own, miravo-images.so, loaded when the first such file comes:
// printing or converting a PDF never loads the image library, whose start
// costs more than a short job takes to convert.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "convert/DecodedPage.h"

namespace miravo {

// Loads the module and sets the library up once (allocation limit, format
// plug-ins) on the calling thread. False, with the reason, when the module
// cannot be loaded; decoding then fails.
bool PrepareImageLibrary(std::string* reason = nullptr);

// Decodes the regular file open as `fd`, `size` bytes long, into `page`:
// one bit per pixel when the image is two-coloured, else 8-bit grey by the
// classic luma, transparent parts on white. Not decoded when it is no
// image, its size passes the page-file limits, or memory runs out; a read
// of the file that failed is told apart, as it is not the image's fault.
struct ImageDecoded {
    bool decoded = false;
    bool readError = false;
    double xDpi = 0;  // the resolution the file states, 0 where none
    double yDpi = 0;
};
ImageDecoded DecodeImageFile(int fd, std::int64_t size, DecodedPage& page);

// Decodes every page of the file open as `fd` in turn (the pages of a
// TIFF; of an animation only its first frame), each upright by the orientation its file
// states, and hands it to `sink` with its resolution in dots per inch (0
// where none is stated). The sink returns false to stop.
using FrameSink = std::function<bool(const DecodedPage& page, double xDpi, double yDpi)>;
struct FramesRead {
    bool image = false;   // the file is an image the library reads
    int delivered = 0;    // images handed to the sink
    int failedFrame = 0;  // the image, from 1, that could not be decoded; 0 none
    bool readError = false;  // a read of the file failed (an I/O error)
};
FramesRead DecodeImageFrames(int fd, std::int64_t size, const FrameSink& sink);

}  // namespace miravo
