// Helpers of the conversion tests: page files, fax TIFF reading and the
// libtiff tools.
#pragma once

#include <tiffio.h>

#include <random>

#include <array>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "convert/PageImage.h"
#include "tests/TestSupport.h"

namespace miravo::test {

// A binary PGM of a grey image.
inline void writePgm(const std::filesystem::path& path, const GreyImage& image) {
    std::string bytes =
        "P5\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    bytes.append(reinterpret_cast<const char*>(image.pixels.data()), image.pixels.size());
    writeBytes(path, bytes);
}

inline void fillRect(GreyImage& image, int x, int y, int w, int h, std::uint8_t value) {
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i)
            image.row(j)[i] = value;
}

struct TiffPage {
    std::uint32_t width = 0, height = 0;
    std::uint16_t compression = 0, photometric = 99, bitsPerSample = 0, pageIndex = 0,
                  pageTotal = 0;
    std::uint32_t group3Options = 0;
    float xDpi = 0, yDpi = 0;
    BitPage bits;  // decoded rows, 1 = black
};

// Every page of a TIFF file, decoded scan line by scan line.
inline std::vector<TiffPage> readTiff(const std::filesystem::path& path) {
    std::vector<TiffPage> pages;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return pages;
    do {
        TiffPage page;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page.width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &page.height);
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &page.compression);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page.photometric);
        TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &page.bitsPerSample);
        TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &page.group3Options);
        TIFFGetField(tif, TIFFTAG_XRESOLUTION, &page.xDpi);
        TIFFGetField(tif, TIFFTAG_YRESOLUTION, &page.yDpi);
        TIFFGetField(tif, TIFFTAG_PAGENUMBER, &page.pageIndex, &page.pageTotal);
        page.bits = BitPage(static_cast<int>(page.width), static_cast<int>(page.height));
        // Rows of more than one bit would overrun the page's rows.
        if (TIFFScanlineSize64(tif) != page.bits.rowBytes()) {
            ADD_FAILURE() << path << " is no one-bit TIFF";
            pages.push_back(std::move(page));
            continue;
        }
        for (std::uint32_t y = 0; y < page.height; ++y) {
            if (TIFFReadScanline(tif, page.bits.bits.data() + page.bits.rowBytes() * y, y, 0) < 0)
                ADD_FAILURE() << "scan line " << y << " of " << path << " does not decode";
        }
        pages.push_back(std::move(page));
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return pages;
}

// The fields of a fax page: 1728 x `rows`, Group 3, 204 x 196 dpi, one strip.
inline void setFaxPageFields(TIFF* tiff, std::uint32_t rows) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 1728);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, rows);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rows);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 204.0);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 196.0);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
}

// Coded rows that are noise, as a transfer cut short or a bad sector leaves
// them: libtiff reads the page's header and fails on its rows.
inline void writeNoiseStrip(TIFF* tiff) {
    std::string noise(3000, '\0');
    std::mt19937 random(34);
    for (char& c : noise)
        c = static_cast<char>(random());
    TIFFWriteRawStrip(tiff, 0, noise.data(), static_cast<tmsize_t>(noise.size()));
}

// A fax TIFF (Group 3, one-dimensional, 1728 x 200) whose coded rows are
// noise.
inline void writeDamagedFaxTiff(const std::filesystem::path& out) {
    TIFF* tiff = TIFFOpen(out.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    setFaxPageFields(tiff, 200);
    writeNoiseStrip(tiff);
    TIFFClose(tiff);
}

struct ToolRun {
    int status = -1;
    std::string output;  // stdout and stderr together
};

inline ToolRun runTool(const std::string& command) {
    ToolRun run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> buffer{};
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        run.output.append(buffer.data(), n);
    run.status = ::pclose(pipe);
    return run;
}

// tiffinfo (reading every strip) and tiffcp both accept the file without
// a single warning.
inline void expectToolsAccept(const std::filesystem::path& path) {
    const ToolRun info = runTool("tiffinfo -D '" + path.string() + "' >/dev/null");
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.output, "") << "tiffinfo on " << path;
    const std::filesystem::path copy = path.string() + ".copy.tif";
    const ToolRun cp = runTool("tiffcp '" + path.string() + "' '" + copy.string() + "'");
    EXPECT_EQ(cp.status, 0);
    EXPECT_EQ(cp.output, "") << "tiffcp on " << path;
    std::filesystem::remove(copy);
}

inline std::vector<std::string> folderNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline int blackCount(const BitPage& page, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += page.black(x, y);
    return n;
}

}  // namespace miravo::test
