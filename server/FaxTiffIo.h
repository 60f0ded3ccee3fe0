// Fax TIFF for the service: counting the readable pages of an uploaded
// document (in memory), and a fax page (1728 × 2292, 204 × 196 dpi, 1 bit,
// min-is-white, CCITT Group 3 2-D, one strip) from an image, written by the
// project's fax TIFF writer.
#pragma once

#include <QImage>

#include <optional>
#include <string>
#include <string_view>

namespace miravo::server {

// The number of pages when every page of the TIFF has sane dimensions and
// strips within the file, and the first page's first strip decodes; nothing
// when the bytes are not such a TIFF. Counting stops at maxPages + 1.
std::optional<int> countTiffPages(std::string_view bytes, int maxPages);

// One-page fax TIFF from an image of 1728 × 2292 pixels, thresholded as the
// conversion does. Empty on failure.
std::string encodeFaxPage(const QImage& image);

}  // namespace miravo::server
