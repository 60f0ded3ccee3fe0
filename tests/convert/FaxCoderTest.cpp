// The fax coder against libtiff's own Group 3 coder: the same rows must give
// the same bytes, for every run length of both colours, every 2-D mode,
// odd widths and both K factors.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "convert/FaxCoder.h"
#include "convert/PageImage.h"

namespace miravo {
namespace {

// libtiff's codes for the page: written as a one-strip fax TIFF, the strip read back raw.
std::vector<std::uint8_t> libtiffCodes(const BitPage& page, float linesPerInch) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("faxcoder-" + std::to_string(::getpid()));
    std::vector<std::uint8_t> codes;
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        return codes;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, linesPerInch);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, page.height);
    std::vector<std::uint8_t> rows = page.bits;
    TIFFWriteEncodedStrip(tif, 0, rows.data(), static_cast<tmsize_t>(rows.size()));
    TIFFClose(tif);
    tif = TIFFOpen(path.c_str(), "r");
    if (tif) {
        codes.resize(static_cast<std::size_t>(TIFFRawStripSize(tif, 0)));
        TIFFReadRawStrip(tif, 0, codes.data(), static_cast<tmsize_t>(codes.size()));
        TIFFClose(tif);
    }
    std::filesystem::remove(path);
    return codes;
}

void setRun(BitPage& page, int y, int from, int to) {
    for (int x = from; x < to && x < page.width; ++x)
        page.bits[page.rowBytes() * y + (x >> 3)] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
}

// Every run length from 0 to `width` of both colours, each in four rows
// so that one of them is coded 1-D: row y holds a run of y / 4 pixels of
// one colour and the rest of the other.
BitPage everyRunLength(int width, bool blackFirst) {
    BitPage page(width, 4 * (width + 1));
    for (int y = 0; y < page.height; ++y)
        if (blackFirst)
            setRun(page, y, 0, y / 4);
        else
            setRun(page, y, y / 4, width);
    return page;
}

BitPage noise(int width, int height, double blackShare, unsigned seed) {
    BitPage page(width, height);
    std::mt19937 random(seed);
    std::bernoulli_distribution black(blackShare);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (black(random))
                setRun(page, y, x, x + 1);
    return page;
}

// Rows that differ from the row above by small shifts, as text and lines
// do: every vertical, pass and horizontal case between them.
BitPage shiftedBars(int width, int height, unsigned seed) {
    BitPage page(width, height);
    std::mt19937 random(seed);
    std::vector<int> edges;
    for (int x = 0; x < width; x += 2 + static_cast<int>(random() % 40))
        edges.push_back(x);
    for (int y = 0; y < height; ++y) {
        for (std::size_t i = 0; i + 1 < edges.size(); i += 2)
            setRun(page, y, edges[i], edges[i + 1]);
        for (int& e : edges)
            e = std::max(0, e + static_cast<int>(random() % 9) - 4);
        std::sort(edges.begin(), edges.end());
    }
    return page;
}

TEST(FaxCoderTest, SameBytesAsLibtiffsCoder) {
    struct Case {
        const char* name;
        BitPage page;
        float linesPerInch;
    };
    const std::vector<Case> cases = {
        {"every run, white first", everyRunLength(5400, false), 196},
        {"every run, black first", everyRunLength(5400, true), 196},
        {"sparse noise", noise(1728, 40, 0.02, 1), 196},
        {"half noise", noise(1728, 40, 0.5, 2), 196},
        {"dense noise, odd width", noise(1727, 33, 0.9, 3), 196},
        {"shifted bars", shiftedBars(1728, 300, 4), 196},
        {"shifted bars at normal resolution", shiftedBars(1728, 300, 5), 98},
        {"narrow", noise(13, 17, 0.4, 6), 196},
        {"one pixel", noise(1, 1, 1.0, 7), 196},
        {"white page", noise(1728, 9, 0.0, 8), 196},
        {"black page", noise(1728, 9, 1.0, 9), 196},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> ours;
        CodeFaxRows(c.page.bits.data(), c.page.width, c.page.height, c.page.rowBytes(),
                    FaxCodingRows(c.linesPerInch), ours);
        const std::vector<std::uint8_t> theirs = libtiffCodes(c.page, c.linesPerInch);
        ASSERT_FALSE(theirs.empty());
        EXPECT_EQ(ours, theirs);
    }
}

}  // namespace
}  // namespace miravo
