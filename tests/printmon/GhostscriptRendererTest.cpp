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

}  // namespace
}  // namespace miravo::print
