#include "convert/OrderedFaxDocument.h"

#include <future>

#include "tests/convert/ConvertTestSupport.h"

namespace miravo {
namespace {

using test::TempDir;

// Fax pages that differ: page k has a black band at row 100 k.
std::vector<BitPage> distinctPages(int count) {
    std::vector<BitPage> pages;
    for (int k = 0; k < count; ++k) {
        BitPage page(kFaxWidth, kFaxHeight);
        std::fill_n(page.bits.begin() + page.rowBytes() * 100 * k, page.rowBytes() * 30, 0xFF);
        pages.push_back(std::move(page));
    }
    return pages;
}

std::vector<std::uint8_t> codesOf(const BitPage& page) {
    std::vector<std::uint8_t> codes;
    EXPECT_TRUE(EncodeFaxPage(page, codes));
    return codes;
}

using Put = OrderedFaxDocument::Put;

TEST(OrderedFaxDocument, PagesComeInAnyOrderAndAreWrittenInOrder) {
    TempDir dir;
    const std::vector<BitPage> pages = distinctPages(4);
    FaxTiffWriter inOrder;
    ASSERT_TRUE(inOrder.open(dir / "in-order.tif"));
    for (const BitPage& page : pages)
        ASSERT_TRUE(inOrder.addPage(page, 4));
    ASSERT_TRUE(inOrder.close());
    const std::string expected = test::readBytes(dir / "in-order.tif");

    for (const std::vector<int>& order :
         {std::vector<int>{0, 1, 2, 3}, {2, 0, 3, 1}, {3, 2, 1, 0}}) {
        OrderedFaxDocument document(4, 8);
        ASSERT_TRUE(document.open(dir / "ordered.tif"));
        for (int k : order)
            EXPECT_EQ(document.put(k, codesOf(pages[k]), kFaxWidth, kFaxHeight), Put::Taken);
        EXPECT_EQ(document.put(1, codesOf(pages[1]), kFaxWidth, kFaxHeight), Put::Refused);
        ASSERT_TRUE(document.close());
        EXPECT_TRUE(test::readBytes(dir / "ordered.tif") == expected) << order[0];
    }
}

TEST(OrderedFaxDocument, AWorkerFarAheadWaitsUntilThePagesBeforeComeOrTheRunEnds) {
    TempDir dir;
    const std::vector<BitPage> pages = distinctPages(3);
    // Waits for pages 0 and 1, then is written.
    std::atomic<bool> cancel{false};
    OrderedFaxDocument document(3, 1, &cancel);
    ASSERT_TRUE(document.open(dir / "a.tif"));
    auto ahead = std::async(std::launch::async, [&] {
        return document.put(2, codesOf(pages[2]), kFaxWidth, kFaxHeight);
    });
    EXPECT_EQ(document.put(0, codesOf(pages[0]), kFaxWidth, kFaxHeight), Put::Taken);
    EXPECT_EQ(document.put(1, codesOf(pages[1]), kFaxWidth, kFaxHeight), Put::Taken);
    EXPECT_EQ(ahead.get(), Put::Taken);
    EXPECT_TRUE(document.close());
    EXPECT_EQ(test::readTiff(dir / "a.tif").size(), 3u);

    // A cancel, or giving up after another page file failed, lets it go
    // without its page; a document without all its pages is removed.
    for (const bool byCancel : {true, false}) {
        cancel = false;
        OrderedFaxDocument stopped(3, 1, &cancel);
        ASSERT_TRUE(stopped.open(dir / "b.tif"));
        auto waiting = std::async(std::launch::async, [&] {
            return stopped.put(2, codesOf(pages[2]), kFaxWidth, kFaxHeight);
        });
        EXPECT_EQ(stopped.put(0, codesOf(pages[0]), kFaxWidth, kFaxHeight), Put::Taken);
        if (byCancel)
            cancel = true;
        else
            stopped.giveUp();
        EXPECT_EQ(waiting.get(), Put::Refused);
        EXPECT_FALSE(stopped.close());
        EXPECT_FALSE(std::filesystem::exists(dir / "b.tif"));
    }
}

}  // namespace
}  // namespace miravo
