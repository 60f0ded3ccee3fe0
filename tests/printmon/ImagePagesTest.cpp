// Images as people send them, through the print path that the desktop
// program, drag and drop and miravo-send all take: every page, upright, at
// its size.
#include "printmon/ImagePages.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <tiffio.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include "app/FileBytes.h"
#include "convert/FaxTiff.h"
#include "convert/ImageLibrary.h"
#include "convert/PageConverter.h"
#include "printmon/PrintJob.h"
#include "tests/convert/ConvertTestSupport.h"

namespace miravo::print {
namespace {

using test::TempDir;

enum Corner { TL, TR, BL, BR };

// A test picture: a black frame a tenth of its size thick and a black
// quarter in one corner, on white. The frame shows the size on the page,
// the quarter which way up it is.
GreyImage picture(int w, int h, Corner corner) {
    GreyImage image(w, h, 255);
    const int t = std::max(1, std::min(w, h) / 10);
    test::fillRect(image, 0, 0, w, t, 0);
    test::fillRect(image, 0, h - t, w, t, 0);
    test::fillRect(image, 0, 0, t, h, 0);
    test::fillRect(image, w - t, 0, t, h, 0);
    const int x = corner == TL || corner == BL ? 0 : w / 2;
    const int y = corner == TL || corner == TR ? 0 : h / 2;
    test::fillRect(image, x, y, w / 2, h / 2, 0);
    return image;
}

QImage qimage(const GreyImage& grey, double dpi) {
    QImage image(grey.width, grey.height, QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height; ++y)
        std::memcpy(image.scanLine(y), grey.pixels.data() + std::size_t(y) * grey.width,
                    std::size_t(grey.width));
    if (dpi > 0) {
        image.setDotsPerMeterX(static_cast<int>(std::lround(dpi / 0.0254)));
        image.setDotsPerMeterY(static_cast<int>(std::lround(dpi / 0.0254)));
    }
    return image;
}

std::string encode(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(95);
    EXPECT_TRUE(writer.write(image)) << format;
    return bytes.toStdString();
}

// A JPEG whose EXIF data says how the camera was held.
std::string jpegWithOrientation(const GreyImage& grey, int orientation) {
    std::string jpeg = encode(qimage(grey, 100), "JPEG");
    // After the JFIF segment: an APP1 segment of EXIF data holding one
    // big-endian entry, tag 0x0112 (orientation), type SHORT, count 1.
    const std::string exif = std::string("Exif\0\0MM\0\x2a\0\0\0\x08\0\x01", 16) +
                             std::string("\x01\x12\0\x03\0\0\0\x01\0", 9) + char(orientation) +
                             std::string(6, '\0');
    const std::size_t length = exif.size() + 2;
    const std::string segment =
        std::string("\xff\xe1") + char(length >> 8) + char(length & 0xff) + exif;
    const std::size_t app0 = 4 + ((std::uint8_t(jpeg[4]) << 8) | std::uint8_t(jpeg[5]));
    return jpeg.insert(app0, segment);
}

// A PNG that states no resolution: Qt always writes one, so it is cut out.
std::string pngWithoutResolution(const GreyImage& grey) {
    std::string png = encode(qimage(grey, 0), "PNG");
    const std::size_t chunk = png.find("pHYs");
    if (chunk != std::string::npos)
        png.erase(chunk - 4, 4 + 4 + 9 + 4);
    return png;
}

struct TiffPageSpec {
    GreyImage image;
    std::uint16_t compression = COMPRESSION_LZW;
    float xDpi = 100, yDpi = 100;
    bool damaged = false;  // its data is garbage
};

// Grey pages, or one bit per pixel with the fax codecs.
void writeTiff(const std::filesystem::path& path, const std::vector<TiffPageSpec>& pages) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    for (const TiffPageSpec& page : pages) {
        const bool bits =
            page.compression == COMPRESSION_CCITTFAX3 || page.compression == COMPRESSION_CCITTFAX4;
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.image.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.image.height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits ? 1 : 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     bits ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, page.compression);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, page.image.height);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, page.xDpi);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, page.yDpi);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        if (page.damaged) {
            const std::string garbage(4096, '\x5a');
            TIFFWriteRawStrip(tif, 0, const_cast<char*>(garbage.data()), garbage.size());
        } else {
            std::vector<std::uint8_t> row(std::size_t(page.image.width));
            for (int y = 0; y < page.image.height; ++y) {
                const std::uint8_t* grey =
                    page.image.pixels.data() + std::size_t(y) * page.image.width;
                if (bits) {
                    std::fill(row.begin(), row.end(), 0);
                    for (int x = 0; x < page.image.width; ++x)
                        if (grey[x] < 128)
                            row[std::size_t(x >> 3)] |= std::uint8_t(0x80 >> (x & 7));
                } else {
                    std::copy(grey, grey + page.image.width, row.begin());
                }
                ASSERT_EQ(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0), 1);
            }
        }
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
}

struct Seen {
    int left = kFaxWidth, top = kFaxHeight, right = -1, bottom = -1;  // black bounds
    Corner corner = TL;
    bool oneCorner = false;  // black in exactly one quarter's middle
};

Seen look(const GreyImage& page) {
    Seen seen;
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x)
            if (page.at(x, y) < 128) {
                seen.left = std::min(seen.left, x);
                seen.right = std::max(seen.right, x);
                seen.top = std::min(seen.top, y);
                seen.bottom = std::max(seen.bottom, y);
            }
    const int w = seen.right - seen.left + 1, h = seen.bottom - seen.top + 1;
    int black = 0;
    for (Corner c : {TL, TR, BL, BR}) {
        const int x = seen.left + (c == TL || c == BL ? w * 3 / 10 : w * 7 / 10);
        const int y = seen.top + (c == TL || c == TR ? h * 3 / 10 : h * 7 / 10);
        if (seen.right >= 0 && page.at(x, y) < 128) {
            seen.corner = c;
            ++black;
        }
    }
    seen.oneCorner = black == 1;
    return seen;
}

struct Expected {
    int width = 0, height = 0;  // on the fax page, in its pixels
    Corner corner = TL;
};

struct Case {
    std::string name;  // the file made, by its extension
    std::function<void(const std::filesystem::path&)> make;
    std::vector<Expected> pages;  // empty: refused
    std::string message;          // what the refusal names
};

void bytesOf(const std::filesystem::path& path, const std::string& bytes) {
    test::writeBytes(path, bytes);
}

TEST(ImagePages, EveryPageUprightAtItsSize) {
    std::vector<Case> cases;
    cases.push_back({"two-pages.tif",
                     [](const auto& p) {
                         writeTiff(p, {{picture(400, 600, TL), COMPRESSION_LZW},
                                       {picture(400, 600, TR), COMPRESSION_ADOBE_DEFLATE}});
                     },
                     {{816, 1176, TL}, {816, 1176, TR}},
                     ""});
    cases.push_back({"three-pages.tif",
                     [](const auto& p) {
                         writeTiff(p, {{picture(1000, 1400, TL), COMPRESSION_CCITTFAX4, 200, 200},
                                       {picture(1000, 1400, TR), COMPRESSION_PACKBITS, 200, 200},
                                       {picture(1000, 1400, BR), COMPRESSION_NONE, 200, 200}});
                     },
                     {{1020, 1372, TL}, {1020, 1372, TR}, {1020, 1372, BR}},
                     ""});
    // Stored 300 x 200 with the black quarter top left; each orientation
    // shows it elsewhere, 5 to 8 upright (200 x 300).
    const Corner shown[8] = {TL, TR, BR, BL, TL, TR, BR, BL};
    for (int o = 1; o <= 8; ++o) {
        const Expected e =
            o <= 4 ? Expected{612, 392, shown[o - 1]} : Expected{408, 588, shown[o - 1]};
        cases.push_back(
            {"orientation-" + std::to_string(o) + ".jpg",
             [o](const auto& p) { bytesOf(p, jpegWithOrientation(picture(300, 200, TL), o)); },
             {e},
             ""});
    }
    // An icon at 300 dpi stays an icon; a photo without a resolution fills
    // the page, turned since it comes out larger so.
    cases.push_back(
        {"icon.png",
         [](const auto& p) { bytesOf(p, encode(qimage(picture(32, 32, BR), 300), "PNG")); },
         {{22, 21, BR}},
         ""});
    cases.push_back({"photo.png",
                     [](const auto& p) { bytesOf(p, pngWithoutResolution(picture(227, 149, TL))); },
                     {{1566, 2292, BL}},
                     ""});
    cases.push_back({"standard.tif",
                     [](const auto& p) {
                         writeTiff(p, {{picture(1728, 1146, TR), COMPRESSION_CCITTFAX3, 204, 98}});
                     },
                     {{1728, 2292, TR}},
                     ""});
    // A 12-bit JPEG, which the image library does not decode, and a TIFF
    // whose second page is damaged: refused, naming the page.
    cases.push_back({"twelve-bit.jpg",
                     [](const auto& p) {
                         std::string jpeg = encode(qimage(picture(64, 64, TL), 100), "JPEG");
                         const std::size_t sof = jpeg.find("\xff\xc0");
                         jpeg[sof + 4] = 12;  // the sample precision
                         bytesOf(p, jpeg);
                     },
                     {},
                     "page 1"});
    cases.push_back({"damaged.tif",
                     [](const auto& p) {
                         writeTiff(
                             p, {{picture(400, 600, TL), COMPRESSION_LZW},
                                 {picture(400, 600, TL), COMPRESSION_ADOBE_DEFLATE, 100, 100, true},
                                 {picture(400, 600, TL), COMPRESSION_LZW}});
                     },
                     {},
                     "page 2"});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto input = dir / c.name;
        c.make(input);
        PrintOptions options;
        options.outFolder = dir / "spool";
        options.launch = false;
        options.inputs = {input};
        const PrintResult result = WritePrintJob(options);
        if (c.pages.empty()) {
            EXPECT_FALSE(result.ok);
            EXPECT_NE(result.error.find(c.message), std::string::npos) << result.error;
            EXPECT_FALSE(std::filesystem::exists(dir / "spool"));  // nothing left behind
            continue;
        }
        ASSERT_TRUE(result.ok) << result.error;
        ASSERT_EQ(result.pages, static_cast<int>(c.pages.size()));
        for (std::size_t k = 0; k < c.pages.size(); ++k) {
            SCOPED_TRACE("page " + std::to_string(k + 1));
            const std::optional<GreyImage> page = DecodePageFile(result.files[k]);
            ASSERT_TRUE(page.has_value());
            ASSERT_EQ(page->width, kFaxWidth);
            ASSERT_EQ(page->height, kFaxHeight);
            const Seen seen = look(*page);
            const Expected& e = c.pages[k];
            EXPECT_NEAR(seen.right - seen.left + 1, e.width, std::max(1.0, e.width * 0.02));
            EXPECT_NEAR(seen.bottom - seen.top + 1, e.height, std::max(1.0, e.height * 0.02));
            EXPECT_TRUE(seen.oneCorner);
            EXPECT_EQ(seen.corner, e.corner);
            // Centred on the page.
            EXPECT_NEAR(seen.left + seen.right, kFaxWidth - 1, 3);
            EXPECT_NEAR(seen.top + seen.bottom, kFaxHeight - 1, 3);
        }
    }
}

TEST(ImagePages, AStandardResolutionFaxPageHasEachRowTwice) {
    TempDir dir;
    GreyImage fax = picture(1728, 1146, TL);
    for (int y = 0; y < fax.height; y += 3)  // rows that differ from their neighbours
        test::fillRect(fax, 200 + y % 500, y, 300, 1, 0);
    writeTiff(dir / "fax.tif", {{fax, COMPRESSION_CCITTFAX3, 204, 98}});
    const ImagePagesOutcome out = WriteImagePages(dir / "fax.tif", (dir / "job_1").string(), 1);
    ASSERT_TRUE(out.ok) << out.error;
    const std::optional<GreyImage> page = DecodePageFile(dir / "job_1_1");
    ASSERT_TRUE(page.has_value());
    for (int y = 0; y < kFaxHeight; ++y)
        ASSERT_EQ(0, std::memcmp(page->pixels.data() + std::size_t(y) * kFaxWidth, fax.row(y / 2),
                                 kFaxWidth))
            << "row " << y;
}

// A file whose reading fails midway (an I/O error; reading /proc/self/mem at
// address 0 gives one) is told as a file that cannot be read, never as a
// damaged image or a file of another kind.
TEST(ImagePages, AReadThatFailsIsToldAsSuch) {
    ASSERT_TRUE(PrepareImageLibrary());
    const UniqueFd fd(::open("/proc/self/mem", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    DecodedPage page;
    EXPECT_TRUE(DecodeImageFile(fd.get(), 4096, page).readError);
    const FramesRead frames =
        DecodeImageFrames(fd.get(), 4096, [](const DecodedPage&, double, double) { return true; });
    EXPECT_TRUE(frames.readError);
    EXPECT_EQ(frames.delivered, 0);

    TempDir dir;
    const test::ToolRun printed =
        test::runTool(std::string(MIRAVO_BINARY_DIR) + "/bin/miravo-print --no-launch --out " +
                      (dir / "spool").string() + " /proc/self/mem");
    EXPECT_EQ(WEXITSTATUS(printed.status), 1) << printed.output;
    EXPECT_NE(printed.output.find("cannot be read: Input/output error"), std::string::npos)
        << printed.output;
    EXPECT_EQ(printed.output.find("not a PDF"), std::string::npos) << printed.output;
}

}  // namespace
}  // namespace miravo::print
