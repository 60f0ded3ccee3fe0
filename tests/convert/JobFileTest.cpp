#include "convert/JobFile.h"

#include <sys/stat.h>

#include "app/Paths.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

using test::TempDir;
using test::utf16le;
using test::writeBytes;

std::u16string name(const std::filesystem::path& path) {
    return FromFsPath(path);
}

TEST(CheckJobFile, AcceptsTheProductWordInAnyCaseOnly) {
    TempDir dir;
    writeBytes(dir / "upper", utf16le(u"MIRAVO\n/x_1_1__page_numbers__1\n", false));
    writeBytes(dir / "mixed", utf16le(u"MiRaVo", false));
    writeBytes(dir / "bom", utf16le(u"miravo\n", true));
    writeBytes(dir / "short", utf16le(u"mirav", false));
    writeBytes(dir / "other", utf16le(u"mirava\n", false));
    writeBytes(dir / "ascii", "miravo miravo\n");
    EXPECT_TRUE(CheckJobFile(name(dir / "upper")));
    EXPECT_TRUE(CheckJobFile(name(dir / "mixed")));
    EXPECT_FALSE(CheckJobFile(name(dir / "bom")));
    EXPECT_FALSE(CheckJobFile(name(dir / "short")));
    EXPECT_FALSE(CheckJobFile(name(dir / "other")));
    EXPECT_FALSE(CheckJobFile(name(dir / "ascii")));
    EXPECT_FALSE(CheckJobFile(name(dir / "missing")));
    EXPECT_FALSE(CheckJobFile(u""));
    EXPECT_FALSE(CheckJobFile(name(dir.path())));
}

TEST(CheckJobFile, NeverBlocksOnAFifo) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(CheckJobFile(name(dir / "fifo")));
    EXPECT_FALSE(ReadJobFileText(name(dir / "fifo")).has_value());
}

TEST(ReadJobFileText, DropsAnOddByteAndRefusesHugeFiles) {
    TempDir dir;
    writeBytes(dir / "odd", utf16le(u"miravo", false) + "x");
    EXPECT_EQ(ReadJobFileText(name(dir / "odd")), u"miravo");
    std::filesystem::resize_file(dir / "odd", kMaxJobFileBytes + 2);
    EXPECT_FALSE(ReadJobFileText(name(dir / "odd")).has_value());
}

TEST(PageCountFromName, ReadsBetweenTheLastUnderscoreAndTheLastDot) {
    struct Case {
        std::u16string_view name;
        long count;
    } cases[] = {
        {u"/home/u/tosend_res__5.tif", 5},
        {u"", 0},
        {u"noscore.tif", 0},
        {u"folder/job_7", 7},    // no '.': the text after the last '_'
        {u"folder.d/job_7", 0},  // the '.' stands before the last '_'
        {u"a_b.7", 0},           // text before the '.' is not a number
        {u"page_3.x_y", 0},      // the '.' stands before the last '_'
        {u"x_ 12abc.tif", 12},   // blanks, then digits up to a non-digit
        {u"x_-3", -3},           // a sign, as strtol reads it
        {u"x_99999999999.tif", 2147483647},
        {u"/s/job_17_1__page_numbers__3\r", 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PageCountFromName(c.name), c.count) << std::string(c.name.begin(), c.name.end());
}

TEST(ParseJobEntries, ReadsEveryEntryAfterTheHeader) {
    const auto entries = ParseJobEntries(
        u"miravo print job\n/s/job_17_1__page_numbers__3\n/s/job_17_2__page_numbers__2");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].pageFilePath, u"/s/job_17_1");
    EXPECT_EQ(entries[0].pageCount, 3u);
    EXPECT_EQ(entries[1].pageFilePath, u"/s/job_17_2");
    EXPECT_EQ(entries[1].pageCount, 2u);
    EXPECT_FALSE(entries[0].tooLong);
}

TEST(ParseJobEntries, CountRulesOnTheEntryText) {
    // Carriage returns end up after the count and change nothing.
    auto entries =
        ParseJobEntries(u"MIRAVO\r\n/s/j_1_1__page_numbers__4\r\n/s/j_1_2__page_numbers__1\r\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].pageFilePath, u"/s/j_1_1");
    EXPECT_EQ(entries[0].pageCount, 4u);
    EXPECT_EQ(entries[1].pageCount, 1u);
    // A '.' in the path and none after the count: the count reads 0.
    entries = ParseJobEntries(u"miravo\n/s.d/j_1_1__page_numbers__3\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].pageCount, 0u);
    // Entries sharing a line read their count from their own start to the
    // line's end: a '.' before an entry's start is not the entry's.
    entries = ParseJobEntries(u"miravo\n/s/j_1_1__page_numbers__7.x/t/j_1_2__page_numbers__5\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].pageCount, 0u);
    EXPECT_EQ(entries[1].pageFilePath, u"/t/j_1_2");
    EXPECT_EQ(entries[1].pageCount, 5u);
    // A negative count is no count.
    entries = ParseJobEntries(u"miravo\n/s/j_1_1__page_numbers__-2\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].pageCount, 0u);
}

TEST(ParseJobEntries, OddTexts) {
    EXPECT_TRUE(ParseJobEntries(u"miravo\nno path here__page_numbers__3\n").empty());
    EXPECT_TRUE(ParseJobEntries(u"").empty());
    // A line without the marker names no page file; the next line still does.
    auto entries = ParseJobEntries(u"miravo\n/just/a/path\n/s/j_2_1__page_numbers__1");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].pageFilePath, u"/s/j_2_1");
    // 770 characters are taken, 771 are too long.
    const std::u16string tail = u"__page_numbers__1";
    std::u16string fits = u"/" + std::u16string(kMaxJobEntryLength - 1 - tail.size(), u'a') + tail;
    entries = ParseJobEntries(u"miravo\n" + fits + u"\n" + u"/b" + fits.substr(1) + u"\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_FALSE(entries[0].tooLong);
    EXPECT_TRUE(entries[1].tooLong);
}

TEST(PageBaseName, UpToTheSecondUnderscoreOfTheFileName) {
    EXPECT_EQ(PageBaseName(u"/spool/job_17_1"), u"/spool/job_17");
    EXPECT_EQ(PageBaseName(u"/spool/job_17"), u"");  // one '_' only
    EXPECT_EQ(PageBaseName(u"/spool/job17"), u"");
    EXPECT_EQ(PageBaseName(u"/my_spool/job_17_1"), u"");  // a '_' in a folder
}

TEST(JobFileBytes, ReadsBackThroughTheParser) {
    TempDir dir;
    const std::u16string job = name(dir / "Report__ps__1");
    writeBytes(dir / "Report__ps__1", JobFileBytes({{u"/s/job_5_1", 2}, {u"/s/job_5_2", 1}}));
    ASSERT_TRUE(CheckJobFile(job));
    const auto entries = ParseJobEntries(*ReadJobFileText(job));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].pageFilePath, u"/s/job_5_1");
    EXPECT_EQ(entries[0].pageCount, 2u);
    EXPECT_EQ(entries[1].pageFilePath, u"/s/job_5_2");
}

}  // namespace
}  // namespace miravo
