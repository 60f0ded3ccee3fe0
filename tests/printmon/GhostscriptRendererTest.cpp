#include "printmon/GhostscriptRenderer.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

namespace miravo::print {
namespace {

const std::filesystem::path kSample = std::filesystem::path(MIRAVO_SOURCE_DIR) / "data/sample.pdf";

TEST(RenderDocument, HandsOverEveryPageAtTheFaxSize) {
    std::vector<bool> blackAndWhite;
    std::string error;
    const bool ok = RenderDocument(
        kSample,
        [&](const GreyView& page) {
            EXPECT_EQ(page.width, kFaxWidth);
            EXPECT_EQ(page.height, kFaxHeight);
            BitPage bits;
            blackAndWhite.push_back(PackBlackAndWhite(page, bits));
            return true;
        },
        error);
    ASSERT_TRUE(ok) << error;
    // The sample's second page holds a grey figure; the others are text.
    EXPECT_EQ(blackAndWhite, (std::vector<bool>{true, false, true}));
}

TEST(RenderDocument, ColoursBecomeTheirLuma) {
    test::TempDir dir;
    // Red, a middle green and blue squares, one inch each.
    test::writeBytes(dir / "colours.ps",
                     "%!PS\n<< /PageSize [612 792] >> setpagedevice\n"
                     "1 0 0 setrgbcolor 72 600 72 72 rectfill\n"
                     "0 0.62745 0 setrgbcolor 216 600 72 72 rectfill\n"
                     "0 0 1 setrgbcolor 360 600 72 72 rectfill showpage\n");
    std::vector<int> levels;
    std::string error;
    ASSERT_TRUE(RenderDocument(
        dir / "colours.ps",
        [&](const GreyView& page) {
            // The square centres: x 1.5, 3.5 and 5.5 in, 2.5 in from the top
            // (the letter page fits the fax page's height).
            const double scale = static_cast<double>(kFaxHeight) / (11.0 * kFaxYDpi);
            const int left = static_cast<int>((kFaxWidth - 8.5 * kFaxXDpi * scale) / 2);
            const int y = static_cast<int>(2.5 * kFaxYDpi * scale);
            for (double inch : {1.5, 3.5, 5.5})
                levels.push_back(page.row(y)[left + static_cast<int>(inch * kFaxXDpi * scale)]);
            return true;
        },
        error))
        << error;
    // 0.30 R + 0.59 G + 0.11 B: the classic luma (76, 94, 29) within a level.
    EXPECT_EQ(levels, (std::vector<int>{76, 94, 28}));
}

TEST(RenderDocument, ARefusedPageRefusesTheRest) {
    int pages = 0;
    std::string error;
    EXPECT_FALSE(RenderDocument(
        kSample, [&](const GreyView&) { return ++pages < 2; }, error));
    EXPECT_EQ(pages, 2);
    EXPECT_NE(error.find("cannot be written"), std::string::npos) << error;
    // The library is left in a state to render the next document.
    pages = 0;
    EXPECT_TRUE(RenderDocument(
        kSample, [&](const GreyView&) { return ++pages > 0; }, error))
        << error;
    EXPECT_EQ(pages, 3);
}

TEST(RenderDocument, ABrokenDocumentIsAnErrorWithGhostscriptsReason) {
    test::TempDir dir;
    test::writeBytes(dir / "broken.ps", "%!PS\n/undefinedthing 3 add showpage\n");
    std::string error;
    EXPECT_FALSE(RenderDocument(
        dir / "broken.ps", [](const GreyView&) { return true; }, error));
    EXPECT_NE(error.find("cannot render"), std::string::npos) << error;
    EXPECT_NE(error.find("undefined"), std::string::npos) << error;
}

// Ghostscript starts without collecting its start-up's garbage; a long
// document still needs collection on, or its memory only grows.
TEST(RenderDocument, TheDocumentRunsWithGarbageCollectionOn) {
    test::TempDir dir;
    test::writeBytes(dir / "collection.ps",
                     "%!PS\ncurrentuserparams /VMReclaim get 0 eq {showpage} {collectionoff} ifelse\n");
    int pages = 0;
    std::string error;
    EXPECT_TRUE(RenderDocument(
        dir / "collection.ps", [&](const GreyView&) { return ++pages > 0; }, error))
        << error;
    EXPECT_EQ(pages, 1);
}

}  // namespace
}  // namespace miravo::print
