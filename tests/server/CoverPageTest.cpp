// The sender's text on the cover page: smaller type before any cut, and a
// cut that shows.
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "server/CoverPage.h"
#include "tests/TestSupport.h"

namespace miravo::server {
namespace {

// 5,999 characters of prose whose last word is "Zanzibar."
std::string longestProse() {
    std::string text;
    while (text.size() < 5989)
        text += "Please find the signed contract attached, with the delivery schedule. ";
    text.resize(5989);
    return text + " Zanzibar.";
}

// The last lines of ink on the page, read back by OCR in `language`.
std::string lastLinesRead(const std::string& tiff, const std::string& language = "eng") {
    const QImage page =
        QImage::fromData(QByteArray(tiff.data(), static_cast<qsizetype>(tiff.size())), "TIFF")
            .convertToFormat(QImage::Format_Grayscale8);
    int bottom = page.height() - 1;
    auto inked = [&](int y) {
        const uchar* row = page.constScanLine(y);
        return std::any_of(row, row + page.width(), [](uchar v) { return v < 128; });
    };
    while (bottom > 0 && !inked(bottom))
        --bottom;
    miravo::test::TempDir dir;
    const std::string strip = (dir.path() / "strip.png").string();
    if (page.isNull() || !page.copy(0, std::max(0, bottom - 150), page.width(), 170).save(
                             QString::fromStdString(strip)))
        return {};
    std::string text;
    if (FILE* ocr = ::popen(("tesseract " + strip + " stdout -l " + language + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, ocr)) > 0;)
            text.append(buffer, n);
        ::pclose(ocr);
    }
    return text;
}

class CoverPageTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "cover_page_test";
        static char* argv[] = {name, nullptr};
        if (!QGuiApplication::instance())
            app_ = new QGuiApplication(argc, argv);
    }
    static inline QGuiApplication* app_ = nullptr;
};

TEST_F(CoverPageTest, TextShrinksToFitAndIsCutOnlyBeyondTheSmallestType) {
    std::string lines;
    for (int i = 0; i < 600; ++i)
        lines += "line " + std::to_string(i) + "\n";
    struct Case {
        const char* name;
        std::string text;
        bool cut;
        int pixelSize;  // 0: smaller than the largest, not the smallest
    };
    const Case cases[] = {
        {"short", "Hello, see the pages that follow.", false, kLargestCoverTextPx},
        {"5,999 characters", longestProse(), false, 0},
        {"600 lines", lines, true, kSmallestCoverTextPx},
        {"one endless word", std::string(20000, 'W'), true, kSmallestCoverTextPx},
    };
    for (const Case& c : cases) {
        CoverRequest request;
        request.destinations = {{"+49 30 1234567", "Anna"}};
        request.pageCount = 2;
        request.text = c.text;
        CoverTextFit fit;
        const std::string page = renderCoverPage(request, &fit);
        EXPECT_FALSE(page.empty()) << c.name;
        EXPECT_EQ(fit.cut, c.cut) << c.name;
        if (c.pixelSize) {
            EXPECT_EQ(fit.pixelSize, c.pixelSize) << c.name;
        } else {
            EXPECT_GT(fit.pixelSize, kSmallestCoverTextPx) << c.name;
            EXPECT_LT(fit.pixelSize, kLargestCoverTextPx) << c.name;
        }
        if (!c.cut) {
            EXPECT_EQ(fit.drawn, c.text) << c.name;
            // The last word is on the paper, not only in the layout.
            if (c.text.size() > 1000)
                EXPECT_NE(lastLinesRead(page).find("Zanzibar"), std::string::npos) << c.name;
            continue;
        }
        // What is drawn is the text's beginning and a visible "…".
        const std::string ellipsis = "\xE2\x80\xA6";
        ASSERT_GT(fit.drawn.size(), ellipsis.size() + 100) << c.name;
        EXPECT_EQ(fit.drawn.substr(fit.drawn.size() - ellipsis.size()), ellipsis) << c.name;
        const std::string kept = fit.drawn.substr(0, fit.drawn.size() - ellipsis.size());
        EXPECT_EQ(c.text.compare(0, kept.size(), kept), 0) << c.name;
    }
}

// A cover text in Japanese is drawn with Japanese glyphs: OCR reads every
// character back.
TEST_F(CoverPageTest, JapaneseTextIsDrawnInJapaneseGlyphs) {
    const std::u32string text = U"請求書を三枚送ります";
    CoverRequest request;
    request.destinations = {{"+81 3 1234 5678", "Tanaka"}};
    request.pageCount = 3;
    request.text = "\xE8\xAB\x8B\xE6\xB1\x82\xE6\x9B\xB8\xE3\x82\x92\xE4\xB8\x89"
                   "\xE6\x9E\x9A\xE9\x80\x81\xE3\x82\x8A\xE3\x81\xBE\xE3\x81\x99";
    CoverTextFit fit;
    const std::string page = renderCoverPage(request, &fit);
    ASSERT_FALSE(page.empty());
    EXPECT_FALSE(fit.cut);
    const QString read = QString::fromStdString(lastLinesRead(page, "jpn"));
    for (const char32_t c : text)
        EXPECT_TRUE(read.contains(QString::fromUcs4(&c, 1)))
            << "character U+" << std::hex << static_cast<unsigned>(c) << " not read in "
            << read.toStdString();
}

}  // namespace
}  // namespace miravo::server
