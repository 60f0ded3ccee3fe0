#include "convert/PageImage.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace miravo {
namespace {

GreyImage pattern(int w, int h) {
    GreyImage image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.row(y)[x] = static_cast<std::uint8_t>((x * 7 + y * 13) % 256);
    return image;
}

TEST(PageBand, CutsEqualBandsAndDropsTheRemainder) {
    for (std::uint32_t k = 0; k < 3; ++k) {
        const BandGeometry band = PageBand(6601, 3, k);
        EXPECT_EQ(band.top, static_cast<int>(2200 * k));
        EXPECT_EQ(band.rows, 2200);
    }
    EXPECT_EQ(PageBand(6601, 3, 3).rows, 0);
    EXPECT_EQ(PageBand(500, 0, 0).rows, 500);  // a count of 0 is one page
    EXPECT_EQ(PageBand(2, 3, 0).rows, 0);      // fewer rows than pages
}

TEST(RotateQuarterTurn, TurnsCounterClockwise) {
    const GreyImage source = pattern(150, 70);  // larger than one block
    GreyImage turned;
    RotateQuarterTurn(source.view(), turned);
    ASSERT_EQ(turned.width, 70);
    ASSERT_EQ(turned.height, 150);
    for (int y = 0; y < turned.height; ++y)
        for (int x = 0; x < turned.width; ++x)
            ASSERT_EQ(turned.at(x, y), source.at(source.width - 1 - y, x)) << x << "," << y;
}

TEST(ResampleInto, KeepsConstantsAndCopiesAtTheSameSize) {
    GreyImage flat(37, 53, 90);
    GreyImage canvas(100, 120, 255);
    ResampleInto(flat.view(), canvas, 0, 0, 100, 120);
    EXPECT_TRUE(std::all_of(canvas.pixels.begin(), canvas.pixels.end(),
                            [](std::uint8_t v) { return v == 90; }));
    const GreyImage source = pattern(64, 48);
    GreyImage same(64, 48, 0);
    ResampleInto(source.view(), same, 0, 0, 64, 48);
    EXPECT_EQ(same.pixels, source.pixels);
    // A two-pixel ramp stretched keeps its ends and rises in between.
    GreyImage ramp(2, 1);
    ramp.row(0)[0] = 0;
    ramp.row(0)[1] = 200;
    GreyImage wide(10, 1, 255);
    ResampleInto(ramp.view(), wide, 0, 0, 10, 1);
    EXPECT_EQ(wide.at(0, 0), 0);
    EXPECT_EQ(wide.at(9, 0), 200);
    for (int x = 1; x < 10; ++x)
        EXPECT_GE(wide.at(x, 0), wide.at(x - 1, 0));
}

TEST(PlaceOnFaxPage, ThinRulesSurviveScalingDown) {
    // A tall page like a 600-dpi scan with 330 rules one pixel thin: scaled
    // down about three times, every rule must leave its ink on the page,
    // as grey, and show when dithered.
    GreyImage band(1700, 6600);
    for (int k = 0; k < 330; ++k)
        for (int i = 0; i < band.width; ++i)
            band.row(10 + 20 * k)[i] = 0;
    GreyImage canvas, turned;
    PlaceOnFaxPage(band.view(), canvas, turned);
    BitPage dithered;
    Dither(canvas.view(), dithered);
    const double scale = static_cast<double>(kFaxHeight) / band.height;
    const int x = kFaxWidth / 2;
    int inked = 0, shown = 0;
    for (int k = 0; k < 330; ++k) {
        const int row = static_cast<int>((10 + 20 * k) * scale);
        int ink = 0, black = 0;
        for (int y = std::max(0, row - 1); y <= std::min(kFaxHeight - 1, row + 1); ++y) {
            ink += 255 - canvas.at(x, y);
            for (int i = 700; i < 1028; ++i)
                black += dithered.black(i, y);
        }
        // A rule's ink, spread over the rows it falls in: 255 x scale.
        inked += ink >= 255 * scale * 0.8;
        shown += black >= 328 * scale * 0.25;
    }
    EXPECT_EQ(inked, 330);
    EXPECT_EQ(shown, 330);
}

TEST(PlaceOnFaxPage, LandscapeBandIsTurnedThenStretched) {
    // Black top-right quarter of a 2200 x 1700 band: after the turn it is
    // the top-left quarter of a 1700 x 2200 page, stretched to the fax page.
    GreyImage band(2200, 1700);
    for (int y = 0; y < 850; ++y)
        for (int x = 1100; x < 2200; ++x)
            band.row(y)[x] = 0;
    GreyImage canvas, turned;
    PlaceOnFaxPage(band.view(), canvas, turned);
    ASSERT_EQ(canvas.width, kFaxWidth);
    ASSERT_EQ(canvas.height, kFaxHeight);
    EXPECT_EQ(canvas.at(10, 10), 0);
    EXPECT_EQ(canvas.at(kFaxWidth / 2 - 10, kFaxHeight / 2 - 10), 0);
    EXPECT_EQ(canvas.at(kFaxWidth / 2 + 10, 10), 255);
    EXPECT_EQ(canvas.at(10, kFaxHeight / 2 + 10), 255);
    EXPECT_EQ(canvas.at(kFaxWidth - 1, kFaxHeight - 1), 255);
}

TEST(PlaceOnFaxPage, SmallPagesFillThePage) {
    GreyImage band(1000, 1400, 0);
    GreyImage canvas, turned;
    PlaceOnFaxPage(band.view(), canvas, turned);
    EXPECT_TRUE(std::all_of(canvas.pixels.begin(), canvas.pixels.end(),
                            [](std::uint8_t v) { return v == 0; }));
}

TEST(PlaceOnFaxPage, LargePagesAreFittedAndCentredOnWhite) {
    EXPECT_EQ(FitSize(2000, 2500, kFaxWidth, kFaxHeight).width, 1728);
    EXPECT_EQ(FitSize(2000, 2500, kFaxWidth, kFaxHeight).height, 2160);
    EXPECT_EQ(FitSize(100000, 1, kFaxWidth, kFaxHeight).height, 1);
    GreyImage band(2000, 2500, 0);
    GreyImage canvas, turned;
    PlaceOnFaxPage(band.view(), canvas, turned);
    const int top = (kFaxHeight - 2160) / 2;  // 66
    for (int y : {0, top - 1, top + 2160, kFaxHeight - 1})
        EXPECT_EQ(canvas.at(kFaxWidth / 2, y), 255) << y;
    for (int y : {top, top + 2159})
        for (int x : {0, kFaxWidth - 1})
            EXPECT_EQ(canvas.at(x, y), 0) << x << "," << y;
}

TEST(PlaceOnFaxPage, ExactWidthIsPlacedUnscaled) {
    // A portrait page exactly as wide as the fax page is not below the fax
    // size, so it is placed as it is, centred on white.
    const GreyImage band = pattern(kFaxWidth, 2000);
    GreyImage canvas, turned;
    PlaceOnFaxPage(band.view(), canvas, turned);
    const int top = (kFaxHeight - 2000) / 2;
    for (int y = 0; y < kFaxHeight; ++y) {
        for (int x = 0; x < kFaxWidth; x += 97) {
            const int expected = (y >= top && y < top + 2000) ? band.at(x, y - top) : 255;
            ASSERT_EQ(canvas.at(x, y), expected) << x << "," << y;
        }
    }
    // 1728 x 1000 is landscape: turned first (1000 x 1728), then stretched.
    GreyImage wide(kFaxWidth, 1000, 0);
    PlaceOnFaxPage(wide.view(), canvas, turned);
    EXPECT_TRUE(std::all_of(canvas.pixels.begin(), canvas.pixels.end(),
                            [](std::uint8_t v) { return v == 0; }));
}

TEST(Threshold, LevelsAbove123AreWhite) {
    GreyImage grey(11, 2, 255);  // a width that leaves padding bits
    grey.row(0)[0] = 123;
    grey.row(0)[1] = 124;
    grey.row(0)[8] = 0;
    grey.row(0)[10] = 123;
    grey.row(1)[3] = 122;
    BitPage bits;
    Threshold(grey.view(), bits);
    EXPECT_TRUE(bits.black(0, 0));
    EXPECT_FALSE(bits.black(1, 0));
    EXPECT_TRUE(bits.black(8, 0));
    EXPECT_FALSE(bits.black(9, 0));
    EXPECT_TRUE(bits.black(10, 0));
    EXPECT_TRUE(bits.black(3, 1));
    EXPECT_EQ(bits.row(0)[1] & 0x1F, 0);  // padding stays white
}

int blacks(const BitPage& bits) {
    int n = 0;
    for (int y = 0; y < bits.height; ++y)
        for (int x = 0; x < bits.width; ++x)
            n += bits.black(x, y);
    return n;
}

TEST(Dither, KeepsTheGreyLevelWhereThresholdCannot) {
    BitPage bits;
    for (int level : {64, 128, 192}) {
        const GreyImage grey(200, 200, static_cast<std::uint8_t>(level));
        Dither(grey.view(), bits);
        const double expected = (255.0 - level) / 255.0 * 200 * 200;
        EXPECT_NEAR(blacks(bits), expected, 0.03 * 200 * 200) << level;
        Threshold(grey.view(), bits);
        EXPECT_EQ(blacks(bits), level <= kThresholdLevel ? 200 * 200 : 0);
    }
    Dither(GreyImage(50, 50, 0).view(), bits);
    EXPECT_EQ(blacks(bits), 50 * 50);
    Dither(GreyImage(50, 50, 255).view(), bits);
    EXPECT_EQ(blacks(bits), 0);
}

TEST(PackBlackAndWhite, GivesWhatThresholdGivesOrRefusesGrey) {
    // 37 columns: two vector blocks and a tail of five.
    GreyImage page(37, 3, 255);
    for (int x : {0, 7, 15, 16, 31, 32, 36})
        page.row(1)[x] = 0;
    page.row(2)[35] = 0;
    BitPage packed;
    BitPage thresholded;
    ASSERT_TRUE(PackBlackAndWhite(page.view(), packed));
    Threshold(page.view(), thresholded);
    EXPECT_EQ(packed.bits, thresholded.bits);
    for (int x : {3, 20, 33}) {  // in either block or the tail
        GreyImage grey = page;
        grey.row(2)[x] = 254;
        EXPECT_FALSE(PackBlackAndWhite(grey.view(), packed)) << x;
    }
}

}  // namespace
}  // namespace miravo
