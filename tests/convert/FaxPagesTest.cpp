#include "convert/FaxPages.h"

#include "tests/convert/ConvertTestSupport.h"

namespace miravo {
namespace {

using test::readTiff;
using test::TempDir;

// A fax page that is white but for black rectangles given in pixels.
BitPage markedPage(std::initializer_list<std::array<int, 4>> rects) {
    BitPage page(kFaxWidth, kFaxHeight);
    for (const auto& [x0, y0, w, h] : rects)
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x)
                page.bits[page.rowBytes() * y + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    return page;
}

std::filesystem::path writeDocument(const std::filesystem::path& path,
                                    const std::vector<BitPage>& pages) {
    FaxTiffWriter writer;
    EXPECT_TRUE(writer.open(path));
    for (const BitPage& page : pages)
        EXPECT_TRUE(writer.addPage(page, static_cast<int>(pages.size())));
    EXPECT_TRUE(writer.close());
    return path;
}

// The smallest rectangle holding every black pixel: x0, y0, x1, y1 (exclusive).
std::array<int, 4> blackBox(const BitPage& page) {
    std::array<int, 4> box{page.width, page.height, 0, 0};
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x)
            if (page.black(x, y))
                box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x + 1),
                       std::max(box[3], y + 1)};
    return box;
}

struct Step {
    enum { Move, Turn, Remove } what;
    int a = 0;
    int b = 0;
    bool done = true;
};

// Documents A (3 pages) and B (1 page); each case edits from A0 A1 A2 B0.
TEST(FaxPages, EditsKeepThePagesInTheOrderGiven) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<FaxPage> expected;
    };
    const Case cases[] = {
        {"untouched", {}, {{0, 0}, {0, 1}, {0, 2}, {1, 0}}},
        {"last to front", {{Step::Move, 3, 0}}, {{1, 0}, {0, 0}, {0, 1}, {0, 2}}},
        {"front to last", {{Step::Move, 0, 3}}, {{0, 1}, {0, 2}, {1, 0}, {0, 0}}},
        {"down by one", {{Step::Move, 1, 2}}, {{0, 0}, {0, 2}, {0, 1}, {1, 0}}},
        {"turned three times",
         {{Step::Turn, 1}, {Step::Turn, 1}, {Step::Turn, 1}},
         {{0, 0}, {0, 1, 3}, {0, 2}, {1, 0}}},
        {"four turns are none",
         {{Step::Turn, 2}, {Step::Turn, 2}, {Step::Turn, 2}, {Step::Turn, 2}},
         {{0, 0}, {0, 1}, {0, 2}, {1, 0}}},
        {"turn moves with its page",
         {{Step::Turn, 0}, {Step::Move, 0, 2}},
         {{0, 1}, {0, 2}, {0, 0, 1}, {1, 0}}},
        {"removed", {{Step::Remove, 2}, {Step::Remove, 0}}, {{0, 1}, {1, 0}}},
        {"outside the fax",
         {{Step::Move, 4, 0, false}, {Step::Move, 0, -1, false}, {Step::Turn, 4, 0, false},
          {Step::Remove, -1, 0, false}},
         {{0, 0}, {0, 1}, {0, 2}, {1, 0}}},
    };
    for (const Case& c : cases) {
        FaxPages fax;
        ASSERT_EQ(fax.add({u"A", "a.tif", 3}), AddOutcome::Added);
        ASSERT_EQ(fax.add({u"B", "b.tif", 1}), AddOutcome::Added);
        for (const Step& s : c.steps) {
            const unsigned before = fax.revision();
            const bool done = s.what == Step::Move   ? fax.move(s.a, s.b)
                              : s.what == Step::Turn ? fax.turn(s.a)
                                                     : fax.remove(s.a);
            EXPECT_EQ(done, s.done) << c.name;
            EXPECT_EQ(fax.revision() != before, s.done) << c.name;
        }
        ASSERT_EQ(fax.pages().size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(fax.pages()[i].document, c.expected[i].document) << c.name << " page " << i;
            EXPECT_EQ(fax.pages()[i].page, c.expected[i].page) << c.name << " page " << i;
            EXPECT_EQ(fax.pages()[i].quarterTurns, c.expected[i].quarterTurns) << c.name;
        }
        EXPECT_EQ(fax.pagesOf(0) + fax.pagesOf(1), fax.pageCount()) << c.name;
    }
}

TEST(FaxPages, ThePageLimitRefusesAWholeDocumentAndOnlyOneDocumentAsConvertedIsTheFax) {
    FaxPages fax(3);
    EXPECT_FALSE(fax.asConverted());
    EXPECT_EQ(fax.add({u"empty", "e.tif", 0}), AddOutcome::NoPages);
    EXPECT_EQ(fax.add({u"A", "a.tif", 2}), AddOutcome::Added);
    EXPECT_TRUE(fax.asConverted());
    EXPECT_EQ(fax.add({u"B", "b.tif", 2}), AddOutcome::TooManyPages);  // never cut to fit
    EXPECT_EQ(fax.pageCount(), 2);
    EXPECT_EQ(fax.documents().size(), 1u);
    EXPECT_TRUE(fax.asConverted());
    fax.turn(1);
    EXPECT_FALSE(fax.asConverted());
    fax.turn(1), fax.turn(1), fax.turn(1);
    EXPECT_TRUE(fax.asConverted());
    fax.move(0, 1);
    EXPECT_FALSE(fax.asConverted());
    fax.move(0, 1);
    EXPECT_EQ(fax.add({u"C", "c.tif", 1}), AddOutcome::Added);
    EXPECT_EQ(fax.pageCount(), 3);
    EXPECT_FALSE(fax.asConverted());
    fax.setMaxPages(0);  // no limit
    EXPECT_EQ(fax.add({u"D", "d.tif", 500}), AddOutcome::Added);
}

// The composed fax: pages in the order given, untouched pages exactly as
// converted, a half turn exact, a quarter turn re-placed upright at the
// fax page's unequal resolutions with its shape kept.
TEST(ComposeFaxTiff, PagesInOrderTurnedPagesPlacedUprightAtTheirTrueShape) {
    TempDir dir;
    // A one-inch square at the top left; a bar across the top.
    const BitPage square = markedPage({{0, 0, kFaxXDpi, kFaxYDpi}});
    const BitPage bar = markedPage({{100, 10, 1528, 40}});
    const BitPage other = markedPage({{800, 1100, 100, 100}});
    FaxPages fax;
    fax.add({u"A", writeDocument(dir / "a.tif", {square, bar}), 2});
    fax.add({u"B", writeDocument(dir / "b.tif", {other}), 1});
    fax.move(2, 0);  // B0 A0 A1
    fax.turn(1);     // A0 a quarter clockwise
    fax.turn(2), fax.turn(2);  // A1 half
    const JoinResult made = fax.compose(dir / "fax.tif");
    ASSERT_TRUE(made.ok) << made.error;
    EXPECT_EQ(made.pages, 3);
    const auto pages = readTiff(dir / "fax.tif");
    ASSERT_EQ(pages.size(), 3u);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(pages[i].width, 1728u);
        EXPECT_EQ(pages[i].height, 2292u);
        EXPECT_FLOAT_EQ(pages[i].xDpi, 204);
        EXPECT_FLOAT_EQ(pages[i].yDpi, 196);
        EXPECT_EQ(pages[i].group3Options & GROUP3OPT_2DENCODING, GROUP3OPT_2DENCODING);
        EXPECT_EQ(pages[i].pageIndex, i);
        EXPECT_EQ(pages[i].pageTotal, 3);
    }
    EXPECT_EQ(pages[0].bits.bits, other.bits);
    // The square's corner comes to the top right; the page, 11.7 inches
    // across once turned, is scaled to the 8.5 inches of the fax page
    // and centred from top to bottom.
    const auto box = blackBox(pages[1].bits);
    const double scale = (kFaxWidth / 204.0) / (kFaxHeight / 196.0);
    EXPECT_NEAR(box[2], kFaxWidth, 1);
    EXPECT_NEAR(box[1], (kFaxHeight - kFaxWidth * 196.0 / 204.0 * scale) / 2, 3);
    const double inchesAcross = (box[2] - box[0]) / 204.0;
    const double inchesDown = (box[3] - box[1]) / 196.0;
    EXPECT_NEAR(inchesAcross, scale, 0.02);
    EXPECT_NEAR(inchesDown, scale, 0.02);
    // A half turn: every pixel where the opposite one was.
    const BitPage& half = pages[2].bits;
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{100, 10}, {1627, 49}, {900, 30}})
        EXPECT_TRUE(half.black(kFaxWidth - 1 - x, kFaxHeight - 1 - y)) << x << "," << y;
    EXPECT_EQ(blackBox(half), (std::array<int, 4>{100, kFaxHeight - 50, 1628, kFaxHeight - 10}));
}

TEST(ComposeFaxTiff, AnUnreadablePageFailsTheWholeAndLeavesTheFaxBefore) {
    TempDir dir;
    writeDocument(dir / "a.tif", {markedPage({{0, 0, 8, 8}})});
    test::writeBytes(dir / "fax.tif", "kept");
    test::writeDamagedFaxTiff(dir / "damaged.tif");
    const std::vector<std::vector<PagePick>> bad = {
        {{dir / "a.tif", 0}, {dir / "missing.tif", 0}},
        {{dir / "a.tif", 0}, {dir / "a.tif", 1}},
        {{dir / "a.tif", 0}, {dir / "damaged.tif", 0, 1}},
        {},
    };
    for (const auto& picks : bad) {
        const JoinResult made = ComposeFaxTiff(picks, dir / "fax.tif");
        EXPECT_FALSE(made.ok);
        EXPECT_FALSE(made.error.empty());
        EXPECT_EQ(test::readBytes(dir / "fax.tif"), "kept");
        EXPECT_EQ(test::folderNames(dir.path()),
                  (std::vector<std::string>{"a.tif", "damaged.tif", "fax.tif"}));
    }
}

}  // namespace
}  // namespace miravo
