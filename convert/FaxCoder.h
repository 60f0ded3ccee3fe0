// The Group 3 coder of fax pages: 1-bit rows (1 = black, the first pixel
// in the byte's high bit) to the modified READ codes a fax TIFF strip
// holds, with an end-of-line code and its 1-D/2-D tag bit before every
// row, no fill bits, and K rows per 1-D row (4 above 150 lines per inch,
// else 2). The codes are bit for bit those of libtiff's own Group 3 coder
// for the same options; this one finds a row's colour changes a machine
// word at a time, which makes it several times faster on dithered photos,
// where the coding is most of the conversion's time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace miravo {

// The K factor of 2-D coding at a vertical resolution in lines per inch.
inline int FaxCodingRows(double linesPerInch) {
    return linesPerInch > 150 ? 4 : 2;
}

// Appends the codes of `height` rows of `width` pixels, `rowBytes` apart
// from `rows`, to `out`; the last byte is padded with zero bits.
void CodeFaxRows(const std::uint8_t* rows, int width, int height, std::size_t rowBytes,
                 int codingRows, std::vector<std::uint8_t>& out);

}  // namespace miravo
