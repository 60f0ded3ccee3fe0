#include <gtest/gtest.h>

#include "convert/PageConverter.h"
#include "printmon/PageFileWriter.h"
#include "app/Paths.h"
#include "tests/TestSupport.h"
#include "tests/convert/ConvertTestSupport.h"

namespace miravo::print {
namespace {

// Whether a page file holds one fax page coded as the fax document holds it.
bool isCodedFaxPage(const std::filesystem::path& path) {
    const std::string bytes = test::readBytes(path);
    if (bytes.substr(0, 2) != "II" && bytes.substr(0, 2) != "MM")
        return false;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    std::uint32_t width = 0, height = 0, options = 0;
    std::uint16_t compression = 0;
    const bool coded = tiff && TIFFNumberOfDirectories(tiff) == 1 &&
                       TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) && width == kFaxWidth &&
                       TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) && height == kFaxHeight &&
                       TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression) &&
                       compression == COMPRESSION_CCITTFAX3 &&
                       TIFFGetField(tiff, TIFFTAG_GROUP3OPTIONS, &options) &&
                       options == GROUP3OPT_2DENCODING;
    if (tiff)
        TIFFClose(tiff);
    return coded;
}

GreyImage pageWith(std::uint8_t level) {
    GreyImage page(kFaxWidth, kFaxHeight, 255);
    for (int y = 100; y < 140; ++y)
        for (int x = 5; x < 1700; x += 3)
            page.row(y)[x] = 0;
    page.row(2000)[1727] = level;
    // A grey area, as a filled shape or a picture's background gives.
    if (level != 0)
        for (int y = 300; y < 1800; ++y)
            for (int x = 200; x < 1500; ++x)
                page.row(y)[x] = static_cast<std::uint8_t>(level + (x / 300));
    return page;
}

TEST(PageFileWriter, BlackAndWhitePagesComeCodedGreyPagesKeepTheirLevelsCompactly) {
    test::TempDir dir;
    const GreyImage bilevel = pageWith(0);
    const GreyImage grey = pageWith(77);
    PageFileWriter writer;
    // More pages than the queue holds, alternating, through reused buffers.
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(writer.add(dir / ("p" + std::to_string(i)), (i % 2 ? grey : bilevel).view()));
    std::string error;
    ASSERT_TRUE(writer.finish(error)) << error;
    std::uint64_t total = 0;
    for (int i = 0; i < 6; ++i) {
        const auto path = dir / ("p" + std::to_string(i));
        const std::string bytes = test::readBytes(path);
        total += bytes.size();
        // Grey pages: a TIFF (either byte order), far below the page's 3.96 MB of grey.
        const std::string magic = bytes.substr(0, 2);
        if (i % 2) {
            EXPECT_TRUE(magic == "II" || magic == "MM") << i;
            EXPECT_LT(bytes.size(), 100'000u) << i;
        } else {
            EXPECT_TRUE(isCodedFaxPage(path)) << i;
        }
        EXPECT_TRUE(IsRendererPageFile(path)) << i;
        const auto decoded = DecodePageFile(path);
        ASSERT_TRUE(decoded.has_value()) << i;
        const GreyImage& expected = i % 2 ? grey : bilevel;
        for (int y = 0; y < kFaxHeight; ++y)
            for (int x = 0; x < kFaxWidth; ++x)
                if (decoded->at(x, y) != expected.at(x, y))
                    FAIL() << i << " differs at " << x << "," << y;
    }
    EXPECT_EQ(writer.bytesWritten(), total);
}

// A photograph's grey: gradients with grain, which every method treats
// differently.
GreyImage photoPage(int width, int height) {
    GreyImage page(width, height, 255);
    std::uint32_t grain = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            grain = grain * 1103515245u + 12345u;
            page.row(y)[x] =
                static_cast<std::uint8_t>((x * 255 / width + y * 97 / height + (grain >> 28)) % 256);
        }
    return page;
}

GreyImage photoOnATenth() {
    GreyImage page = pageWith(0);
    const GreyImage photo = photoPage(kFaxWidth, kFaxHeight / 10);
    std::copy(photo.pixels.begin(), photo.pixels.end(), page.pixels.begin() + kFaxWidth * 500);
    return page;
}

GreyImage textWithAGreyMark() {
    GreyImage page = pageWith(0);
    for (int y = 600; y < 700; ++y)
        for (int x = 600; x < 800; ++x)
            page.row(y)[x] = 128;
    return page;
}

TEST(PageFileWriter, WithTheMethodKnownEachPageConvertsToTheSameFaxPageAsItsGrey) {
    test::TempDir dir;
    // How pages come: pure black and white ones coded as the fax page,
    // those of the fax page's size with one bit per pixel, but pages of
    // flat grey areas (whose grey compresses far better; a page the
    // conversion still has to place keeps its grey).
    enum Kind { Coded, Bits, Grey };
    struct Page {
        const char* what;
        GreyImage grey;
        Kind kind;
    };
    const std::vector<Page> pages = {
        {"black and white", pageWith(0), Coded},
        {"grey areas", pageWith(77), Grey},
        {"photograph", photoPage(kFaxWidth, kFaxHeight), Bits},
        {"photograph on a tenth of the page", photoOnATenth(), Bits},
        {"text with a grey mark", textWithAGreyMark(), Bits},
        {"not the fax page's size", photoPage(900, 1200), Grey},
    };
    int file = 0;
    for (ConversionMethod method :
         {ConversionMethod::Threshold, ConversionMethod::Dithering, ConversionMethod::Automatic}) {
        PageFileWriter writer(method);
        for (std::size_t i = 0; i < pages.size(); ++i)
            ASSERT_TRUE(writer.add(dir / ("m" + std::to_string(file + i)), pages[i].grey.view()));
        std::string error;
        ASSERT_TRUE(writer.finish(error)) << error;
        for (const auto& [what, page, kind] : pages) {
            const auto path = dir / ("m" + std::to_string(file++));
            EXPECT_EQ(test::readBytes(path).substr(0, 2) == "P4", kind == Bits) << what;
            EXPECT_EQ(isCodedFaxPage(path), kind == Coded) << what;
            const PageFileResult converted =
                ConvertPageFile(method, FromFsPath(dir / "fax"), static_cast<std::uint32_t>(file),
                                FromFsPath(path), 1);
            ASSERT_EQ(converted.pages, 1) << what;
            const auto result = test::readTiff(ToFsPath(PageFileResultName(
                FromFsPath(dir / "fax"), static_cast<std::uint32_t>(file))));
            ASSERT_EQ(result.size(), 1u) << what;
            PagePipeline pipeline;
            EXPECT_EQ(result[0].bits.bits, pipeline.run(page.view(), method).bits)
                << what << " by method " << static_cast<int>(method);
        }
    }
}

// A page keeps its grey from a sixteenth of mid-grey (17 to 239) on, and
// while fewer than one in 32 pixels are busy (mid-grey, unlike the one
// before). One row of 4,100 pixels is counted across every stretch the
// count is taken in, its last pixels included.
TEST(PageFileWriter, KeepsItsGreyAtItsThresholdsExactly) {
    constexpr int kWidth = 4100;  // a sixteenth is 256.25 pixels, a 32nd 128.1
    const auto row = [](int mid, std::uint8_t level, int steps) {
        std::vector<std::uint8_t> pixels(kWidth, 255);
        for (int x = kWidth - mid; x < kWidth; ++x)  // one flat run, at the row's end
            pixels[static_cast<std::size_t>(x)] = level;
        if (steps > 0)  // a staircase of mid-grey: one busy pixel per step, every 31
            for (int x = 1; x < kWidth; ++x)
                pixels[static_cast<std::size_t>(x)] =
                    static_cast<std::uint8_t>(60 + std::min((x - 1) / 31, steps - 1));
        return pixels;
    };
    const struct {
        int mid;
        std::uint8_t level;
        int steps;
        bool keeps;
    } cases[] = {
        {257, 128, 0, true}, {256, 128, 0, false}, {257, 17, 0, true},  {257, 16, 0, false},
        {257, 239, 0, true}, {257, 240, 0, false}, {0, 0, 128, true},   {0, 0, 129, false},
    };
    for (const auto& c : cases) {
        const std::vector<std::uint8_t> pixels = row(c.mid, c.level, c.steps);
        EXPECT_EQ(KeepsItsGrey(GreyView{pixels.data(), kWidth, 1, kWidth}), c.keeps)
            << c.mid << " of level " << int(c.level) << ", " << c.steps << " steps";
    }
}

TEST(PageFileWriter, AnExistingFileIsNeverOverwritten) {
    test::TempDir dir;
    test::writeBytes(dir / "taken", "the user's");
    PageFileWriter writer;
    const GreyImage page = pageWith(0);
    writer.add(dir / "taken", page.view());
    std::string error;
    EXPECT_FALSE(writer.finish(error));
    EXPECT_NE(error.find("taken"), std::string::npos) << error;
    EXPECT_EQ(test::readBytes(dir / "taken"), "the user's");
    // Later pages are refused once a write failed.
    EXPECT_FALSE(writer.add(dir / "later", page.view()));
    EXPECT_FALSE(std::filesystem::exists(dir / "later"));
}

}  // namespace
}  // namespace miravo::print
