#include "convert/PageConverter.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include <QBuffer>
#include <QImage>

#include "app/Paths.h"
#include "tests/convert/ConvertTestSupport.h"

namespace miravo {
namespace {

using test::TempDir;

std::u16string text(const std::filesystem::path& path) {
    return FromFsPath(path);
}

// Three pages of 1000 x 1200 stacked, one spare row at the bottom; page k
// has a black block at a place of its own.
GreyImage threePages() {
    GreyImage image(1000, 3 * 1200 + 1);
    for (int k = 0; k < 3; ++k)
        test::fillRect(image, 100 + 300 * k, 1200 * k + 100, 200, 200, 0);
    test::fillRect(image, 0, 3600, 1000, 1, 0);  // the spare row belongs to no page
    return image;
}

TEST(ConvertPageFile, CutsStackedPagesAndStretchesThem) {
    TempDir dir;
    test::writePgm(dir / "job_1_1", threePages());
    const std::u16string base = text(dir / "tosend");
    const PageFileResult result = ConvertPageFile(false, base, 4, text(dir / "job_1_1"), 3);
    EXPECT_TRUE(result.decoded);
    EXPECT_EQ(result.pages, 3);
    const auto pages = test::readTiff(dir / "tosend_res_4.tif");
    ASSERT_EQ(pages.size(), 3u);
    // 1000 x 1200 stretched to 1728 x 2292: the block of page k moves to
    // x 1.728 * (100 + 300k), y 1.91 * 100, each side scaled likewise.
    for (int k = 0; k < 3; ++k) {
        const BitPage& page = pages[k].bits;
        EXPECT_EQ(page.width, kFaxWidth);
        EXPECT_EQ(page.height, kFaxHeight);
        const int x0 = static_cast<int>(1.728 * (100 + 300 * k)) + 3;
        const int x1 = static_cast<int>(1.728 * (300 + 300 * k)) - 3;
        EXPECT_EQ(test::blackCount(page, x0, 195, x1, 570), (x1 - x0) * (570 - 195)) << k;
        const int blacks = test::blackCount(page, 0, 0, kFaxWidth, kFaxHeight);
        EXPECT_NEAR(blacks, 1.728 * 200 * 1.91 * 200, 4000) << k;  // nothing else is black
    }
    // Only the result is left beside the page file.
    EXPECT_EQ(test::folderNames(dir.path()),
              (std::vector<std::string>{"job_1_1", "tosend_res_4.tif"}));
}

TEST(ConvertPageFile, ColouredSquaresStayBlackAtTheThresholdAndShowWhenDithered) {
    struct Case {
        QRgb colour;
        int luma;  // 0.299 R + 0.587 G + 0.114 B, rounded
    };
    for (const Case c : {Case{qRgb(255, 0, 0), 76}, Case{qRgb(0, 160, 0), 94}}) {
        TempDir dir;
        // A fax-sized page in colour, kept as it is: only the grey rule counts.
        QImage page(kFaxWidth, kFaxHeight, QImage::Format_RGB32);
        page.fill(Qt::white);
        for (int y = 400; y < 800; ++y)
            for (int x = 400; x < 800; ++x)
                page.setPixel(x, y, c.colour);
        ASSERT_TRUE(page.save(QString::fromStdString((dir / "job_1_1").string()), "PNG"));
        const auto grey = DecodePageFile(dir / "job_1_1");
        ASSERT_TRUE(grey.has_value());
        EXPECT_EQ(grey->at(600, 600), c.luma);
        for (const bool dithering : {false, true}) {
            ASSERT_EQ(
                ConvertPageFile(dithering, text(dir / "d"), 1, text(dir / "job_1_1"), 1).pages, 1);
            const auto pages = test::readTiff(dir / "d_res_1.tif");
            ASSERT_EQ(pages.size(), 1u);
            const int black = test::blackCount(pages[0].bits, 400, 400, 800, 800);
            // All black at the threshold; dithered, as dark as the grey is.
            const int expected = dithering ? 400 * 400 * (255 - c.luma) / 255 : 400 * 400;
            EXPECT_NEAR(black, expected, 400 * 4) << c.luma << (dithering ? " dithered" : "");
        }
    }
}

TEST(ConvertPageFile, DitheringFollowsTheSetting) {
    TempDir dir;
    test::writePgm(dir / "p_1_1", GreyImage(800, 1000, 160));
    const std::u16string base = text(dir / "d");
    ASSERT_EQ(ConvertPageFile(false, base, 1, text(dir / "p_1_1"), 1).pages, 1);
    ASSERT_EQ(ConvertPageFile(true, base, 2, text(dir / "p_1_1"), 1).pages, 1);
    const BitPage thresholded = test::readTiff(dir / "d_res_1.tif").at(0).bits;
    const BitPage dithered = test::readTiff(dir / "d_res_2.tif").at(0).bits;
    EXPECT_EQ(test::blackCount(thresholded, 0, 0, kFaxWidth, kFaxHeight), 0);
    const double share =
        test::blackCount(dithered, 0, 0, kFaxWidth, kFaxHeight) / double(kFaxWidth * kFaxHeight);
    EXPECT_NEAR(share, (255 - 160) / 255.0, 0.03);
}

TEST(ConvertPageFile, ReadsImagesByContentWithTransparencyOnWhite) {
    TempDir dir;
    QImage image(600, 400, QImage::Format_ARGB32);  // landscape
    image.setDotsPerMeterX(3937);                   // 100 dpi
    image.setDotsPerMeterY(3937);
    image.fill(Qt::transparent);
    for (int y = 0; y < 100; ++y)
        for (int x = 500; x < 600; ++x)
            image.setPixel(x, y, qRgba(0, 0, 0, 255));
    ASSERT_TRUE(image.save(QString::fromStdString((dir / "img_1_1").string()), "PNG"));
    ASSERT_EQ(ConvertPageFile(false, text(dir / "r"), 1, text(dir / "img_1_1"), 0).pages, 1);
    const BitPage page = test::readTiff(dir / "r_res_1.tif").at(0).bits;
    // At its size (6 x 4 inches: 1224 x 784 fax pixels, centred from x 252,
    // y 754), so upright: the top-right corner stays there and the rest is
    // paper, not black.
    EXPECT_EQ(test::blackCount(page, 1276, 758, 1472, 946), 196 * 188);
    EXPECT_EQ(test::blackCount(page, 0, 0, kFaxWidth, kFaxHeight),
              test::blackCount(page, 1268, 750, 1480, 954));
}

// A PNG without the chunk that states its resolution.
QByteArray pngWithoutResolution(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    const qsizetype at = png.indexOf("pHYs");
    if (at >= 4)
        png.remove(at - 4, 4 + 4 + 9 + 4);  // length, type, data, CRC
    return png;
}

// The rectangle the black pixels of a page take: width, height.
std::pair<int, int> blackExtent(const BitPage& page) {
    int x0 = kFaxWidth, x1 = -1, y0 = kFaxHeight, y1 = -1;
    for (int y = 0; y < page.height; ++y)
        if (test::blackCount(page, 0, y, kFaxWidth, y + 1) > 0)
            y0 = std::min(y0, y), y1 = y;
    for (int x = 0; x < page.width; ++x)
        if (test::blackCount(page, x, 0, x + 1, kFaxHeight) > 0)
            x0 = std::min(x0, x), x1 = x;
    return {x1 - x0 + 1, y1 - y0 + 1};
}

// Page files of other programs (not the renderer's formats) are placed as
// images are: their shape kept and, with a resolution, their size; never
// stretched over the page.
TEST(ConvertPageFile, OtherProgramsPageFilesKeepTheirShapeAndSize) {
    const struct {
        const char* what;
        int width, height;
        double dpi;  // 0: none stated
        int onPageWidth, onPageHeight;
    } cases[] = {
        {"one inch square at 300 dpi", 300, 300, 300, 204, 196},
        {"a square without resolution: fitted", 300, 300, 0, 1728, 1660},
        {"6 x 3 inches at 100 dpi: upright at its size", 600, 300, 100, 1224, 588},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        QImage image(c.width, c.height, QImage::Format_Grayscale8);
        image.fill(0);
        QByteArray png;
        if (c.dpi > 0) {
            image.setDotsPerMeterX(static_cast<int>(std::lround(c.dpi / 0.0254)));
            image.setDotsPerMeterY(static_cast<int>(std::lround(c.dpi / 0.0254)));
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "PNG");
        } else {
            png = pngWithoutResolution(image);
        }
        test::writeBytes(dir / "img_1_1", png.toStdString());
        ASSERT_EQ(ConvertPageFile(false, text(dir / "r"), 1, text(dir / "img_1_1"), 1).pages, 1);
        const BitPage page = test::readTiff(dir / "r_res_1.tif").at(0).bits;
        const auto [width, height] = blackExtent(page);
        EXPECT_NEAR(width, c.onPageWidth, c.onPageWidth * 0.02);
        EXPECT_NEAR(height, c.onPageHeight, c.onPageHeight * 0.02);
        // Nothing else is black.
        EXPECT_NEAR(test::blackCount(page, 0, 0, kFaxWidth, kFaxHeight),
                    double(c.onPageWidth) * c.onPageHeight, c.onPageWidth * c.onPageHeight * 0.03);
    }
}

TEST(ConvertPageFile, BadPageFilesGiveNoPageAndLeaveNothing) {
    TempDir dir;
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        GreyImage grey(300, 300, 0);
        QImage(grey.pixels.data(), 300, 300, 300, QImage::Format_Grayscale8).save(&buffer, "PNG");
    }
    test::writeBytes(dir / "truncated", png.left(png.size() / 2).toStdString());
    test::writeBytes(dir / "junk", "this is no image at all");
    test::writeBytes(dir / "empty", "");
    test::writeBytes(dir / "hugepgm", "P5\n100000 100000\n255\n" + std::string(1000, '\0'));
    test::writeBytes(dir / "shortpgm", "P5\n10 10\n255\n" + std::string(99, '\0'));
    // A PNG header claiming 100000 x 100000 with nothing behind it.
    std::string hugePng = png.left(33).toStdString();
    const char side[4] = {0, 1, static_cast<char>(0x86), static_cast<char>(0xA0)};
    hugePng.replace(16, 4, side, 4);
    hugePng.replace(20, 4, side, 4);
    test::writeBytes(dir / "hugepng", hugePng);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder");
    const auto before = test::folderNames(dir.path());
    for (const char* name : {"truncated", "junk", "empty", "hugepgm", "shortpgm", "hugepng", "fifo",
                             "folder", "missing"}) {
        const PageFileResult result =
            ConvertPageFile(false, text(dir / "o"), 1, text(dir / name), 2);
        EXPECT_FALSE(result.decoded) << name;
        EXPECT_EQ(result.pages, 0) << name;
    }
    EXPECT_EQ(test::folderNames(dir.path()), before);
}

// Binary PBM and PGM page files are read without the image library; they
// must give the pixels the library's own decoding gives, rows of any width.
TEST(DecodePageFile, NetpbmPageFilesGiveWhatTheImageLibraryGives) {
    TempDir dir;
    std::string pixels;
    for (int i = 0; i < 13 * 7 * 2; ++i)
        pixels += static_cast<char>((i * 37 + 11) % 256);
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"pbm, padded rows", "P4\n13 7\n" + pixels.substr(0, 2 * 7)},
        {"pbm, comment", "P4 # made here\n# and here\n16\t3\r" + pixels.substr(0, 6)},
        {"pgm, padded rows", "P5\n13 7\n255\n" + pixels.substr(0, 13 * 7)},
        {"pgm, fax width", "P5 4 2 255 " + pixels.substr(0, 8)},
        {"pgm of 16 bits", "P5\n13 7\n65535\n" + pixels.substr(0, 13 * 7 * 2)},
    };
    for (const auto& c : cases) {
        const auto path = dir / "page";
        test::writeBytes(path, c.bytes);
        const QImage expected = QImage::fromData(QByteArray::fromStdString(c.bytes))
                                    .convertToFormat(QImage::Format_Grayscale8);
        ASSERT_FALSE(expected.isNull()) << c.name;
        const std::optional<GreyImage> got = DecodePageFile(path);
        ASSERT_TRUE(got) << c.name;
        ASSERT_EQ(QSize(got->width, got->height), expected.size()) << c.name;
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x)
                ASSERT_EQ(got->at(x, y), qGray(expected.pixel(x, y)))
                    << c.name << " at " << x << "," << y;
    }
}

TEST(ConvertPageFile, MorePagesThanRowsGiveNoPage) {
    TempDir dir;
    test::writePgm(dir / "p_1_1", GreyImage(20, 5, 0));
    const PageFileResult result =
        ConvertPageFile(false, text(dir / "o"), 1, text(dir / "p_1_1"), 6);
    EXPECT_TRUE(result.decoded);
    EXPECT_EQ(result.pages, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "o_res_1.tif"));
    EXPECT_EQ(ConvertPageFile(false, text(dir / "o"), 1, text(dir / "p_1_1"), 70000).pages, 0);
}

TEST(ConvertPageFile, CancelStopsAndRemovesTheResult) {
    TempDir dir;
    test::writePgm(dir / "p_1_1", threePages());
    std::atomic<bool> cancel{true};
    EXPECT_EQ(ConvertPageFile(false, text(dir / "o"), 1, text(dir / "p_1_1"), 3, &cancel).pages, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "o_res_1.tif"));
}

TEST(PagePipeline, AFaxSizedBandGivesWhatTheCanvasWouldGive) {
    // Two fax pages stacked in an image wider than the page, so each band is
    // a window with its own row stride; grey tones exercise both methods.
    GreyImage image(kFaxWidth + 8, 2 * kFaxHeight);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.row(y)[x] = static_cast<std::uint8_t>((x * 7 + y * 3 + (x * y) % 29) & 255);
    const GreyView whole = image.view();
    for (const bool dithering : {false, true}) {
        for (int k = 0; k < 2; ++k) {
            GreyView band = whole.band(k * kFaxHeight, kFaxHeight);
            band.width = kFaxWidth;
            GreyImage canvas;
            GreyImage turned;
            PlaceOnFaxPage(band, canvas, turned);
            BitPage expected;
            if (dithering)
                Dither(canvas.view(), expected);
            else
                Threshold(canvas.view(), expected);
            PagePipeline pipeline;
            const BitPage& got = pipeline.run(band, dithering);
            EXPECT_EQ(got.width, kFaxWidth);
            EXPECT_EQ(got.height, kFaxHeight);
            EXPECT_TRUE(got.bits == expected.bits) << dithering << " " << k;
        }
    }
}

// A fax TIFF of one page's dark pixels, coded by libtiff with the given
// Group 3 options and fill order, in `strips` strips. Its 2-D coding
// restarts with a 1-D row every second row, as at standard resolution,
// where the conversion's own coder does so every fourth: its codes are
// not what the conversion would make of its pixels.
void writeFaxTiff(const std::filesystem::path& path, const QImage& bits, std::uint32_t options,
                  std::uint16_t fillOrder, std::uint32_t strips) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    const auto rows = static_cast<std::uint32_t>(bits.height());
    test::setFaxPageFields(tiff, rows);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 98.0);
    TIFFSetField(tiff, TIFFTAG_GROUP3OPTIONS, options);
    TIFFSetField(tiff, TIFFTAG_FILLORDER, fillOrder);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, (rows + strips - 1) / strips);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(bits.width() + 7) / 8);
    for (std::uint32_t y = 0; y < rows; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < bits.width(); ++x)
            if (qGray(bits.pixel(x, static_cast<int>(y))) < 128)
                row[static_cast<std::size_t>(x) / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), y, 0), 1);
    }
    TIFFClose(tiff);
}

// The coded bytes of a TIFF's first strip.
std::string firstStrip(const std::filesystem::path& path) {
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff)
        return {};
    std::string codes(static_cast<std::size_t>(TIFFRawStripSize64(tiff, 0)), '\0');
    if (TIFFReadRawStrip(tiff, 0, codes.data(), static_cast<tmsize_t>(codes.size())) < 0)
        codes.clear();
    TIFFClose(tiff);
    return codes;
}

// A one-bit page file and the same pixels in grey must give the same fax
// pages, whether the one-bit file is taken as it is or goes through grey.
TEST(ConvertPageFile, OneBitPageFilesGiveWhatTheirGreyPixelsGive) {
    TempDir dir;
    struct Case {
        const char* name;
        int width, height, pages;
        QRgb colour0, colour1;
        const char* format;
    };
    const Case cases[] = {
        {"fax page as PBM", kFaxWidth, kFaxHeight, 1, qRgb(255, 255, 255), qRgb(0, 0, 0), "PBM"},
        {"two stacked, black first", kFaxWidth, 2 * kFaxHeight + 1, 2, qRgb(0, 0, 0),
         qRgb(255, 255, 255), "PNG"},
        {"grey colour", kFaxWidth, kFaxHeight, 1, qRgb(255, 255, 255), qRgb(100, 100, 100), "PNG"},
        {"small page", 600, 800, 1, qRgb(255, 255, 255), qRgb(0, 0, 0), "PBM"},
        // Fax TIFFs: the fax page's shape exactly has its codes taken as
        // they are; any other is decoded.
        {"fax page coded", kFaxWidth, kFaxHeight, 1, qRgb(255, 255, 255), qRgb(0, 0, 0), "G3"},
        {"coded, two stacked", kFaxWidth, kFaxHeight, 2, qRgb(255, 255, 255), qRgb(0, 0, 0),
         "G3"},
        {"coded 1-D", kFaxWidth, kFaxHeight, 1, qRgb(255, 255, 255), qRgb(0, 0, 0), "G3 1-D"},
        {"coded, bits reversed", kFaxWidth, kFaxHeight, 1, qRgb(255, 255, 255), qRgb(0, 0, 0),
         "G3 LSB"},
        {"coded in strips", kFaxWidth, kFaxHeight, 1, qRgb(255, 255, 255), qRgb(0, 0, 0),
         "G3 strips"},
    };
    int index = 0;
    for (const Case& c : cases) {
        QImage bits(c.width, c.height, QImage::Format_Mono);
        bits.setColorCount(2);
        bits.setColor(0, c.colour0);
        bits.setColor(1, c.colour1);
        bits.fill(0);
        for (int y = 0; y < c.height; y += 7)
            for (int x = (y * 13) % 50; x < c.width; x += 50)
                bits.setPixel(x, y, 1);
        const auto oneBit = dir / ("one_" + std::to_string(index));
        const std::string format = c.format;
        if (format.rfind("G3", 0) == 0)
            writeFaxTiff(oneBit, bits, format == "G3 1-D" ? 0 : GROUP3OPT_2DENCODING,
                         format == "G3 LSB" ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB,
                         format == "G3 strips" ? 3 : 1);
        else
            ASSERT_TRUE(bits.save(QString::fromStdString(oneBit.string()), c.format)) << c.name;
        GreyImage grey(c.width, c.height);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                grey.row(y)[x] = static_cast<std::uint8_t>(qGray(bits.pixel(x, y)));
        const auto greyFile = dir / ("grey_" + std::to_string(index));
        test::writePgm(greyFile, grey);
        for (bool dithering : {false, true}) {
            const std::u16string base = text(dir / (dithering ? "d" : "t"));
            ASSERT_EQ(ConvertPageFile(dithering, base, 2 * index, text(oneBit), c.pages).pages,
                      c.pages)
                << c.name;
            ASSERT_EQ(
                ConvertPageFile(dithering, base, 2 * index + 1, text(greyFile), c.pages).pages,
                c.pages);
            const auto fromBits =
                test::readTiff(dir / (std::string(dithering ? "d" : "t") + "_res_" +
                                      std::to_string(2 * index) + ".tif"));
            const auto fromGrey =
                test::readTiff(dir / (std::string(dithering ? "d" : "t") + "_res_" +
                                      std::to_string(2 * index + 1) + ".tif"));
            ASSERT_EQ(fromBits.size(), static_cast<std::size_t>(c.pages)) << c.name;
            if (format == "G3" && c.pages == 1) {
                EXPECT_EQ(firstStrip(dir / (std::string(dithering ? "d" : "t") + "_res_" +
                                            std::to_string(2 * index) + ".tif")),
                          firstStrip(oneBit));
            }
            for (int k = 0; k < c.pages; ++k) {
                EXPECT_EQ(fromBits[k].bits.bits, fromGrey[k].bits.bits)
                    << c.name << " page " << k << (dithering ? " dithered" : "");
                EXPECT_GT(test::blackCount(fromBits[k].bits, 0, 0, kFaxWidth, kFaxHeight), 0);
            }
        }
        ++index;
    }
}

}  // namespace
}  // namespace miravo
