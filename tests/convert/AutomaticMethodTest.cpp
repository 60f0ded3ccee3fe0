#include "convert/AutomaticMethod.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/AppSettings.h"
#include "convert/ErrorDiffusion.h"
#include "convert/PageConverter.h"
#include "tests/convert/ConvertTestSupport.h"
#include "tests/convert/ToneMeasure.h"

namespace miravo {
namespace {

using test::TempDir;

// Text of several sizes and weights over the top half of a fax page, as
// Ghostscript draws it, with soft edges (anti-aliased) so that the strokes
// have grey borders the automatic method must still threshold.
GreyImage textPage(const TempDir& dir) {
    std::string ps = "%!PS\n";
    int y = 800;
    for (const auto& [font, size] : std::vector<std::pair<std::string, int>>{{"Helvetica", 7},
                                                                             {"Helvetica", 9},
                                                                             {"Times-Roman", 10},
                                                                             {"Helvetica-Bold", 12},
                                                                             {"Courier", 10},
                                                                             {"Times-Bold", 18},
                                                                             {"Helvetica", 36}}) {
        for (int line = 0; line < 3; ++line, y -= size + 4)
            ps += "/" + font + " findfont " + std::to_string(size) + " scalefont setfont 30 " +
                  std::to_string(y) +
                  " moveto (The quick brown fox jumps over the lazy dog 0123456789 "
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZ) show\n";
    }
    ps += "showpage\n";
    test::writeBytes(dir / "text.ps", ps);
    const test::ToolRun gs = test::runTool(
        "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pgmraw -r204x196 -g1728x2292 -dFIXEDMEDIA "
        "-dTextAlphaBits=4 -dGraphicsAlphaBits=4 -sOutputFile=" +
        (dir / "text.pgm").string() + " " + (dir / "text.ps").string());
    EXPECT_EQ(gs.status, 0) << gs.output;
    std::optional<GreyImage> page = DecodePageFile(dir / "text.pgm");
    EXPECT_TRUE(page.has_value());
    return page ? *page : GreyImage(kFaxWidth, kFaxHeight);
}

// Ghostscript's own fax output of a grey page: its halftone.
BitPage ghostscriptHalftone(const TempDir& dir, const GreyImage& page) {
    std::string ps =
        "%!PS\n609.882 841.959 scale\n1728 2292 8 [1728 0 0 -2292 0 2292] "
        "currentfile image\n";
    ps.append(reinterpret_cast<const char*>(page.pixels.data()), page.pixels.size());
    ps += "\nshowpage\n";
    test::writeBytes(dir / "page.ps", ps);
    const test::ToolRun gs = test::runTool(
        "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=tiffg32d -r204x196 -g1728x2292 -dFIXEDMEDIA "
        "-sOutputFile=" +
        (dir / "gs.tif").string() + " " + (dir / "page.ps").string());
    EXPECT_EQ(gs.status, 0) << gs.output;
    std::vector<test::TiffPage> pages = test::readTiff(dir / "gs.tif");
    EXPECT_EQ(pages.size(), 1u);
    return pages.empty() ? BitPage(kFaxWidth, kFaxHeight) : pages.front().bits;
}

TEST(AutomaticConvert, TextStaysThresholdedAndThePhotographBeatsThresholdAndHalftone) {
    TempDir dir;
    // Text over the top half, a photograph below it, touching.
    GreyImage page = textPage(dir);
    const int seam = kFaxHeight / 2;
    const GreyImage photo = test::Photograph(kFaxWidth, kFaxHeight - seam);
    for (int y = seam; y < kFaxHeight; ++y)
        std::copy(photo.pixels.begin() + std::ptrdiff_t(y - seam) * kFaxWidth,
                  photo.pixels.begin() + std::ptrdiff_t(y - seam + 1) * kFaxWidth, page.row(y));

    BitPage automatic, threshold;
    AutomaticConvert(page.view(), automatic);
    Threshold(page.view(), threshold);
    // Every text pixel as the threshold makes it (the text ends far above
    // the seam, so no block there holds both).
    const std::size_t textBytes = threshold.rowBytes() * seam;
    int differing = 0;
    for (std::size_t i = 0; i < textBytes; ++i)
        differing += automatic.bits[i] != threshold.bits[i];
    EXPECT_EQ(differing, 0);
    EXPECT_GT(test::blackCount(threshold, 0, 0, kFaxWidth, seam), 20000);  // there is text

    const double automaticError = test::BlurredDifference(page, automatic, seam + 32);
    const double thresholdError = test::BlurredDifference(page, threshold, seam + 32);
    const double halftoneError =
        test::BlurredDifference(page, ghostscriptHalftone(dir, page), seam + 32);
    EXPECT_LT(automaticError, thresholdError / 2);
    EXPECT_LE(automaticError, halftoneError);
    RecordProperty("automatic", std::to_string(automaticError));
    RecordProperty("threshold", std::to_string(thresholdError));
    RecordProperty("halftone", std::to_string(halftoneError));
}

TEST(AutomaticConvert, BlocksAreJudgedByTheirMiddleTones) {
    // Pure black and white, a thin soft-edged stroke, flat grey and a
    // ramp: only the last two are continuous tone.
    GreyImage page(4 * kToneBlock, kToneBlock, 255);
    test::fillRect(page, 4, 4, 20, 20, 0);
    test::fillRect(page, kToneBlock + 10, 0, 3, kToneBlock, 0);
    test::fillRect(page, kToneBlock + 9, 0, 1, kToneBlock, 128);
    test::fillRect(page, kToneBlock + 13, 0, 1, kToneBlock, 128);
    test::fillRect(page, 2 * kToneBlock, 0, kToneBlock, kToneBlock, 200);
    for (int x = 0; x < kToneBlock; ++x)
        test::fillRect(page, 3 * kToneBlock + x, 0, 1, kToneBlock, std::uint8_t(x * 8));
    EXPECT_EQ(ToneBlocks(page.view()), (std::vector<bool>{false, false, true, true}));
    // Flat grey 200 would vanish at the threshold; dithered, about a fifth
    // of it is black.
    BitPage bits;
    AutomaticConvert(page.view(), bits);
    const int black = test::blackCount(bits, 2 * kToneBlock, 0, 3 * kToneBlock, kToneBlock);
    EXPECT_NEAR(black, kToneBlock * kToneBlock * 55 / 255, 40);
}

TEST(AutomaticConvert, IsWhatTheConversionUsesForThatMethod) {
    const GreyImage photo = test::Photograph(kFaxWidth, kFaxHeight);
    PagePipeline pipeline;
    BitPage expected;
    AutomaticConvert(photo.view(), expected);
    EXPECT_EQ(pipeline.run(photo.view(), ConversionMethod::Automatic).bits, expected.bits);
}

// Floyd-Steinberg as the textbook writes it, one pixel at a time; with
// `flagged`, only its pixels, and no error goes right out of a run of them.
BitPage textbookDiffusion(const GreyImage& grey,
                          const std::function<bool(int x, int y)>& flagged = {}) {
    BitPage out(grey.width, grey.height);
    std::vector<int> error(static_cast<std::size_t>(grey.width + 2) * (grey.height + 1), 0);
    auto at = [&](int x, int y) -> int& {
        return error[static_cast<std::size_t>(y) * (grey.width + 2) + x + 1];
    };
    auto inRun = [&](int x, int y) { return !flagged || flagged(x, y); };
    for (int y = 0; y < grey.height; ++y)
        for (int x = 0; x < grey.width; ++x) {
            if (!inRun(x, y))
                continue;
            const int v = grey.at(x, y) + at(x, y);
            const int e = v < 128 ? v : v - 255;
            if (v < 128)
                out.bits[out.rowBytes() * y + (x >> 3)] |=
                    static_cast<std::uint8_t>(0x80 >> (x & 7));
            if (x + 1 < grey.width && inRun(x + 1, y))
                at(x + 1, y) += e * 7 / 16;
            at(x - 1, y + 1) += e * 3 / 16;
            at(x, y + 1) += e * 5 / 16;
            at(x + 1, y + 1) += e / 16;
        }
    return out;
}

GreyImage busyGrey(int width, int height) {
    GreyImage photo(width, height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            photo.pixels[static_cast<std::size_t>(y) * width + x] =
                static_cast<std::uint8_t>(40 + (x * 7 + y * 13 + (x * y) % 29) % 170);
    return photo;
}

// Dithering, and the automatic method where every block is tone, are that
// diffusion, whatever rows they take together: an odd height leaves one
// row on its own, an odd width a byte part full, and a row wider than
// 16 bits count is taken all the same.
TEST(AutomaticConvert, AllToneIsTextbookErrorDiffusion) {
    for (const auto& [width, height] :
         {std::pair{kFaxWidth, 67}, std::pair{45, 33}, std::pair{40000, 9}}) {
        const GreyImage photo = busyGrey(width, height);
        const std::vector<bool> tone = ToneBlocks(photo.view());
        ASSERT_TRUE(std::all_of(tone.begin(), tone.end(), [](bool t) { return t; }));
        const BitPage expected = textbookDiffusion(photo);
        BitPage automatic, dithered;
        AutomaticConvert(photo.view(), automatic);
        Dither(photo.view(), dithered);
        EXPECT_EQ(automatic.bits, expected.bits) << width << " x " << height;
        EXPECT_EQ(dithered.bits, expected.bits) << width << " x " << height;
    }
}

// Runs of tone blocks that change from one row of blocks to the next, and
// rows of blocks that share their rows out unevenly, are each dithered as
// the textbook does within them, their errors going on into the rows below.
TEST(DiffuseErrors, RunsOfBlocksAreTextbookDiffusionWithinThem) {
    struct Shape {
        int width, height, side;
    };
    for (const Shape& shape : {Shape{kFaxWidth, 75, 32}, Shape{45, 33, 8}, Shape{203, 41, 24}}) {
        const GreyImage photo = busyGrey(shape.width, shape.height);
        const int across = (shape.width + shape.side - 1) / shape.side;
        const int down = (shape.height + shape.side - 1) / shape.side;
        std::vector<bool> blocks(static_cast<std::size_t>(across * down));
        for (int by = 0; by < down; ++by)
            for (int bx = 0; bx < across; ++bx)
                blocks[static_cast<std::size_t>(by * across + bx)] = (bx * 5 + by * 3) % 7 < 4;
        const auto flagged = [&](int x, int y) {
            return blocks[static_cast<std::size_t>(y / shape.side * across + x / shape.side)];
        };
        BitPage bits(shape.width, shape.height);
        DiffuseErrors(photo.view(), bits, blocks, shape.side);
        EXPECT_EQ(bits.bits, textbookDiffusion(photo, flagged).bits)
            << shape.width << " x " << shape.height << " in blocks of " << shape.side;
    }
}

}  // namespace
}  // namespace miravo
