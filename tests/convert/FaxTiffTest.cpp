#include "convert/FaxTiff.h"

#include "tests/convert/ConvertTestSupport.h"

namespace miravo {
namespace {

using test::readTiff;
using test::TempDir;

// A page with a distinct pattern per seed: stripes, a block and a diagonal.
BitPage patternPage(int seed, int width = kFaxWidth, int height = kFaxHeight) {
    BitPage page(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool black = ((x / (7 + seed)) % 3 == 0 && y % 50 < 20) ||
                               (x > 300 + seed * 40 && x < 600 && y > 800 && y < 1200) ||
                               x == (y + seed) % width;
            if (black)
                page.bits[page.rowBytes() * y + x / 8] |=
                    static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
    }
    return page;
}

std::filesystem::path writePages(const std::filesystem::path& path,
                                 std::initializer_list<int> seeds) {
    FaxTiffWriter writer;
    EXPECT_TRUE(writer.open(path));
    for (int seed : seeds)
        EXPECT_TRUE(writer.addPage(patternPage(seed), static_cast<int>(seeds.size())));
    EXPECT_TRUE(writer.close());
    return path;
}

std::string rawStrip(const std::filesystem::path& path, int page) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    std::string data;
    if (!tif)
        return data;
    if (TIFFSetDirectory(tif, static_cast<tdir_t>(page))) {
        std::uint64_t* counts = nullptr;
        TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts);
        data.resize(counts[0]);
        TIFFReadRawStrip(tif, 0, data.data(), static_cast<tmsize_t>(data.size()));
    }
    TIFFClose(tif);
    return data;
}

TEST(FaxTiffWriter, WritesGroup3TwoDimensionalFaxPagesThatDecodeBack) {
    TempDir dir;
    const auto path = writePages(dir / "doc.tif", {0, 1});
    const auto pages = readTiff(path);
    ASSERT_EQ(pages.size(), 2u);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const auto& page = pages[i];
        EXPECT_EQ(page.width, 1728u);
        EXPECT_EQ(page.height, 2292u);
        EXPECT_EQ(page.bitsPerSample, 1);
        EXPECT_EQ(page.compression, COMPRESSION_CCITTFAX3);
        EXPECT_TRUE(page.group3Options & GROUP3OPT_2DENCODING);
        EXPECT_EQ(page.photometric, PHOTOMETRIC_MINISWHITE);
        EXPECT_FLOAT_EQ(page.xDpi, 204);
        EXPECT_FLOAT_EQ(page.yDpi, 196);
        EXPECT_EQ(page.pageIndex, i);
        EXPECT_EQ(page.pageTotal, 2);
        EXPECT_EQ(page.bits.bits, patternPage(static_cast<int>(i)).bits) << "page " << i;
    }
    test::expectToolsAccept(path);
}

// Pages coded in memory and written as they are give the file that
// writing the pages themselves gives, byte for byte.
TEST(FaxTiffWriter, PagesCodedInMemoryAreWrittenAsThePagesThemselves) {
    TempDir dir;
    const std::vector<BitPage> pages = {patternPage(0), BitPage(kFaxWidth, kFaxHeight),
                                        patternPage(3, 1001, 777), patternPage(5)};
    const int total = static_cast<int>(pages.size());
    FaxTiffWriter direct, coded;
    ASSERT_TRUE(direct.open(dir / "direct.tif"));
    ASSERT_TRUE(coded.open(dir / "coded.tif"));
    std::vector<std::uint8_t> codes;
    for (const BitPage& page : pages) {
        EXPECT_TRUE(direct.addPage(page, total));
        ASSERT_TRUE(EncodeFaxPage(page, codes));
        EXPECT_TRUE(coded.addEncodedPage(codes, page.width, page.height, total));
    }
    ASSERT_TRUE(direct.close());
    ASSERT_TRUE(coded.close());
    EXPECT_TRUE(test::readBytes(dir / "coded.tif") == test::readBytes(dir / "direct.tif"));
    EXPECT_FALSE(EncodeFaxPage(BitPage(), codes));  // a page without rows has no codes
}

TEST(FaxTiffWriter, NoPageMeansNoFile) {
    TempDir dir;
    {
        FaxTiffWriter writer;
        ASSERT_TRUE(writer.open(dir / "empty.tif"));
        EXPECT_FALSE(writer.close());
    }
    {
        FaxTiffWriter writer;  // dropped without close(): removed
        ASSERT_TRUE(writer.open(dir / "dropped.tif"));
        EXPECT_TRUE(writer.addPage(patternPage(0)));
    }
    EXPECT_TRUE(test::folderNames(dir.path()).empty());
    FaxTiffWriter writer;
    EXPECT_FALSE(writer.open(dir / "no" / "such" / "folder.tif"));
    EXPECT_FALSE(writer.addPage(patternPage(0)));
}

TEST(JoinFaxTiffs, CopiesEncodedPagesInOrderAndNumbersThem) {
    TempDir dir;
    const auto a = writePages(dir / "a.tif", {3});
    const auto b = writePages(dir / "b.tif", {4, 5});
    const JoinResult joined = JoinFaxTiffs({a, b}, dir / "joined.tif");
    ASSERT_TRUE(joined.ok) << joined.error;
    EXPECT_EQ(joined.pages, 3);
    const auto pages = readTiff(dir / "joined.tif");
    ASSERT_EQ(pages.size(), 3u);
    const int seeds[] = {3, 4, 5};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pages[i].bits.bits, patternPage(seeds[i]).bits) << i;
        EXPECT_EQ(pages[i].pageIndex, i);
        EXPECT_EQ(pages[i].pageTotal, 3);
    }
    // The encoded bytes are copied, not coded again.
    EXPECT_EQ(rawStrip(dir / "joined.tif", 2), rawStrip(b, 1));
    test::expectToolsAccept(dir / "joined.tif");
}

TEST(JoinFaxTiffs, RecodesBilevelAndGreyPages) {
    TempDir dir;
    const BitPage page = patternPage(2, 800, 600);
    // Uncompressed, black is 1 as the page has it but with min-is-black.
    TIFF* tif = TIFFOpen((dir / "plain.tif").c_str(), "w");
    ASSERT_TRUE(tif);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 800);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 600);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
    for (int y = 0; y < 600; ++y) {
        std::vector<std::uint8_t> row(page.row(y), page.row(y) + page.rowBytes());
        for (auto& byte : row)
            byte = static_cast<std::uint8_t>(~byte);
        TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tif);
    // Eight-bit grey with LZW: dark grey 100 turns black, light 200 white.
    tif = TIFFOpen((dir / "grey.tif").c_str(), "w");
    ASSERT_TRUE(tif);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 40);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 30);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    for (int y = 0; y < 30; ++y) {
        std::vector<std::uint8_t> row(40, y < 15 ? 100 : 200);
        TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tif);

    const JoinResult joined = JoinFaxTiffs({dir / "plain.tif", dir / "grey.tif"}, dir / "out.tif");
    ASSERT_TRUE(joined.ok) << joined.error;
    const auto pages = readTiff(dir / "out.tif");
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].compression, COMPRESSION_CCITTFAX3);
    EXPECT_EQ(pages[0].bits.bits, page.bits);
    EXPECT_EQ(test::blackCount(pages[1].bits, 0, 0, 40, 15), 40 * 15);
    EXPECT_EQ(test::blackCount(pages[1].bits, 0, 15, 40, 30), 0);
    test::expectToolsAccept(dir / "out.tif");
}

TEST(JoinFaxTiffs, MissingAndBrokenInputs) {
    TempDir dir;
    const auto a = writePages(dir / "a.tif", {1});
    // Skipped when allowed, fatal otherwise.
    JoinResult joined = JoinFaxTiffs({dir / "gone.tif", a}, dir / "skip.tif", MissingInput::Skip);
    EXPECT_TRUE(joined.ok);
    EXPECT_EQ(joined.pages, 1);
    EXPECT_EQ(joined.skippedInputs, 1);
    joined = JoinFaxTiffs({dir / "gone.tif", a}, dir / "fail.tif", MissingInput::Fail);
    EXPECT_FALSE(joined.ok);
    EXPECT_FALSE(std::filesystem::exists(dir / "fail.tif"));
    // Nothing to join writes nothing.
    joined = JoinFaxTiffs({dir / "gone.tif"}, dir / "none.tif", MissingInput::Skip);
    EXPECT_FALSE(joined.ok);
    EXPECT_FALSE(std::filesystem::exists(dir / "none.tif"));

    // A file cut in the middle of its strip fails the join and leaves the
    // earlier output as it was, with no temporary file beside it.
    std::string bytes = test::readBytes(a);
    test::writeBytes(dir / "cut.tif", bytes.substr(0, bytes.size() / 3));
    test::writeBytes(dir / "junk.tif", "II*\0garbage garbage garbage");
    test::writeBytes(dir / "out.tif", "old");
    for (const char* broken : {"cut.tif", "junk.tif"}) {
        joined = JoinFaxTiffs({a, dir / broken}, dir / "out.tif", MissingInput::Fail);
        EXPECT_FALSE(joined.ok) << broken;
        EXPECT_EQ(test::readBytes(dir / "out.tif"), "old");
    }
    EXPECT_EQ(test::folderNames(dir.path()),
              (std::vector<std::string>{"a.tif", "cut.tif", "junk.tif", "out.tif", "skip.tif"}));
    EXPECT_EQ(CountTiffPages(dir / "skip.tif"), 1);
    EXPECT_EQ(CountTiffPages(dir / "junk.tif"), -1);
}

}  // namespace
}  // namespace miravo
