#include "app/ProfileIni.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <random>

#include "app/Text.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

using test::fromUtf16le;
using test::readBytes;
using test::TempDir;
using test::utf16le;
using test::writeBytes;

unsigned modeOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

std::size_t entriesIn(const std::filesystem::path& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

// ---- Reading -------------------------------------------------------------

TEST(ProfileIniReadTest, SectionsAndKeysMatchIgnoringCase) {
    const auto file = ProfileFile::fromText(
        u"[Options]\r\nUser_Name=alice\r\n[\u00C4rger]\r\nSch\u00FCssel=1\r\n");
    EXPECT_EQ(file.value(u"OPTIONS", u"user_name"), u"alice");
    EXPECT_EQ(file.value(u"options", u"USER_NAME"), u"alice");
    EXPECT_EQ(file.value(u"\u00E4RGER", u"SCH\u00DCSSEL"), u"1");
    EXPECT_EQ(file.value(u"OPTION", u"USER_NAME"), std::nullopt);
    EXPECT_EQ(file.value(u"OPTIONS", u"USER"), std::nullopt);
}

TEST(ProfileIniReadTest, ValuesAreTrimmedAndLoseOnePairOfQuotes) {
    const auto file = ProfileFile::fromText(
        u"[S]\n"
        u"  spaced \t=  \t value with  inner  blanks \t \n"
        u"quoted=  \"  kept blanks  \"  \n"
        u"double=\"\"twice\"\"\n"
        u"open=\"only one side\n"
        u"single='not stripped'\n"
        u"lonequote=\"\n"
        u"empty=\n"
        u"emptyquotes=\"\"\n"
        u"equals=a=b=c\n"
        u"semicolon=x ; not a comment\n");
    EXPECT_EQ(file.value(u"S", u"spaced"), u"value with  inner  blanks");
    EXPECT_EQ(file.value(u"S", u"quoted"), u"  kept blanks  ");
    EXPECT_EQ(file.value(u"S", u"double"), u"\"twice\"");
    EXPECT_EQ(file.value(u"S", u"open"), u"\"only one side");
    EXPECT_EQ(file.value(u"S", u"single"), u"'not stripped'");
    EXPECT_EQ(file.value(u"S", u"lonequote"), u"\"");
    EXPECT_EQ(file.value(u"S", u"empty"), u"");
    EXPECT_EQ(file.value(u"S", u"emptyquotes"), u"");
    EXPECT_EQ(file.value(u"S", u"equals"), u"a=b=c");
    EXPECT_EQ(file.value(u"S", u"semicolon"), u"x ; not a comment");
}

TEST(ProfileIniReadTest, FirstOccurrenceWins) {
    auto file =
        ProfileFile::fromText(u"[A]\nk=first\nK=second\n[B]\nk=b\n[a]\nk=third\nonlyLater=x\n");
    EXPECT_EQ(file.value(u"A", u"k"), u"first");
    EXPECT_EQ(file.value(u"B", u"k"), u"b");
    // Only the first section of a name is searched.
    EXPECT_EQ(file.value(u"A", u"onlyLater"), std::nullopt);
    // Writing changes the first occurrence too.
    file.set(u"a", u"K", u"new");
    EXPECT_EQ(file.text(), u"[A]\nk=new\nK=second\n[B]\nk=b\n[a]\nk=third\nonlyLater=x\n");
}

TEST(ProfileIniReadTest, CommentsStrayLinesAndBrokenHeadersAreNotKeys) {
    const auto file = ProfileFile::fromText(
        u"orphan=before any section\n"
        u"[S]\n"
        u";k=commented\n"
        u"   ; k=indented comment\n"
        u"bare key without equals\n"
        u"=no name\n"
        u"[ Spaced Name ] trailing text\n"
        u"x=1\n"
        u"[broken\n"
        u"y=2\n");
    EXPECT_EQ(file.value(u"S", u"k"), std::nullopt);
    EXPECT_EQ(file.value(u"S", u";k"), std::nullopt);
    EXPECT_EQ(file.value(u"S", u"bare key without equals"), std::nullopt);
    EXPECT_EQ(file.value(u"S", u""), std::nullopt);
    EXPECT_EQ(file.value(u"", u"orphan"), std::nullopt);
    EXPECT_EQ(file.value(u"spaced name", u"x"), u"1");
    // "[broken" opens no section, so y still belongs to "Spaced Name".
    EXPECT_EQ(file.value(u"Spaced Name", u"y"), u"2");
    EXPECT_EQ(file.value(u"broken", u"y"), std::nullopt);
}

TEST(ProfileIniReadTest, GetStringFallsBackAndCutsToCapacity) {
    const auto file = ProfileFile::fromText(u"[S]\nlong=abcdefgh\nempty=\n");
    EXPECT_EQ(file.getString(u"S", u"long", u"d", 100), u"abcdefgh");
    EXPECT_EQ(file.getString(u"S", u"long", u"d", 4), u"abc");
    EXPECT_EQ(file.getString(u"S", u"missing", u"fallback", 100), u"fallback");
    EXPECT_EQ(file.getString(u"S", u"missing", u"fallback", 5), u"fall");
    // A key that is present but empty gives the empty text, not the default.
    EXPECT_EQ(file.getString(u"S", u"empty", u"fallback", 100), u"");
    EXPECT_EQ(file.getString(u"S", u"long", u"d", 0), u"");
}

TEST(ProfileIniReadTest, GetIntReadsLeadingDigits) {
    const auto file = ProfileFile::fromText(
        u"[S]\nplain=5000\nprefix=12abc\nspaced=  7 \nquoted=\"9\"\nword=abc\nempty=\n"
        u"negative=-5\nplus=+8\nhuge=99999999999\nmax=4294967295\n");
    EXPECT_EQ(file.getInt(u"S", u"plain", 1), 5000u);
    EXPECT_EQ(file.getInt(u"S", u"prefix", 1), 12u);
    EXPECT_EQ(file.getInt(u"S", u"spaced", 1), 7u);
    EXPECT_EQ(file.getInt(u"S", u"quoted", 1), 9u);
    EXPECT_EQ(file.getInt(u"S", u"word", 1), 0u);
    EXPECT_EQ(file.getInt(u"S", u"empty", 33), 33u);
    EXPECT_EQ(file.getInt(u"S", u"missing", 33), 33u);
    EXPECT_EQ(file.getInt(u"S", u"negative", 33), 0u);
    EXPECT_EQ(file.getInt(u"S", u"plus", 33), 8u);
    EXPECT_EQ(file.getInt(u"S", u"huge", 33), 4294967295u);
    EXPECT_EQ(file.getInt(u"S", u"max", 33), 4294967295u);
}

TEST(ProfileIniReadTest, SectionsListedInFileOrderOnce) {
    const auto file = ProfileFile::fromText(u"x=0\n[en]\n[de]\n;[fr]\n[EN]\n [ru] \n[]\n");
    const std::vector<std::u16string> expected{u"en", u"de", u"ru", u""};
    EXPECT_EQ(file.sections(), expected);
    EXPECT_TRUE(ProfileFile::fromText(u"").sections().empty());

    // Many sections: listed without comparing each with every other.
    std::u16string many;
    for (int i = 0; i < 200000; ++i)
        many += u"[s" + toU16(i % 100000) + u"]\n";
    EXPECT_EQ(ProfileFile::fromText(many).sections().size(), 100000u);
}

// ---- Writing -------------------------------------------------------------

TEST(ProfileIniWriteTest, ReplacesInPlaceAndKeepsEveryOtherLine) {
    const std::u16string before =
        u"; settings\r\n"
        u"\r\n"
        u"[OPTIONS]\r\n"
        u"  Timeout = 250   \r\n"
        u"; keep me\r\n"
        u"USER_NAME=bob\r\n"
        u"\r\n"
        u"[Other]\r\n"
        u"TIMEOUT=7\r\n";
    auto file = ProfileFile::fromText(before);
    file.set(u"options", u"TIMEOUT", u"5000");
    EXPECT_EQ(file.text(),
              u"; settings\r\n"
              u"\r\n"
              u"[OPTIONS]\r\n"
              u"  Timeout = 5000\r\n"
              u"; keep me\r\n"
              u"USER_NAME=bob\r\n"
              u"\r\n"
              u"[Other]\r\n"
              u"TIMEOUT=7\r\n");
    EXPECT_EQ(file.value(u"Other", u"TIMEOUT"), u"7");
}

TEST(ProfileIniWriteTest, AppendsMissingKeyAfterTheSectionsLastKey) {
    auto file = ProfileFile::fromText(u"[A]\nx=1\n; about x\n\n\n[B]\ny=2\n");
    file.set(u"a", u"z", u"3");
    EXPECT_EQ(file.text(), u"[A]\nx=1\nz=3\n; about x\n\n\n[B]\ny=2\n");

    auto emptySection = ProfileFile::fromText(u"[A]\n\n[B]\n");
    emptySection.set(u"A", u"k", u"v");
    EXPECT_EQ(emptySection.text(), u"[A]\nk=v\n\n[B]\n");
}

TEST(ProfileIniWriteTest, AppendsMissingSectionAtTheEnd) {
    auto file = ProfileFile::fromText(u"[A]\r\nx=1\r\n");
    file.set(u"B", u"y", u"2");
    EXPECT_EQ(file.text(), u"[A]\r\nx=1\r\n[B]\r\ny=2\r\n");

    auto unterminated = ProfileFile::fromText(u"[A]\nx=1");
    unterminated.set(u"A", u"w", u"0");
    unterminated.set(u"C", u"c", u"3");
    EXPECT_EQ(unterminated.text(), u"[A]\nx=1\nw=0\n[C]\nc=3\n");
}

TEST(ProfileIniWriteTest, KeepsTheLineEndStyleOfTheFile) {
    auto lf = ProfileFile::fromText(u"[A]\nx=1\n");
    lf.set(u"A", u"y", u"2");
    lf.set(u"B", u"z", u"3");
    EXPECT_EQ(lf.text().find(u'\r'), std::u16string::npos);

    auto empty = ProfileFile::fromText(u"");
    empty.set(u"S", u"k", u"v");
    EXPECT_EQ(empty.text(), u"[S]\r\nk=v\r\n");

    // Lines that end differently keep their own ends.
    auto mixed = ProfileFile::fromText(u"[A]\r\nx=1\ny=2\r\n");
    mixed.set(u"A", u"x", u"9");
    EXPECT_EQ(mixed.text(), u"[A]\r\nx=9\ny=2\r\n");
}

TEST(ProfileIniWriteTest, ValuesReadBackExactlyAsWritten) {
    auto file = ProfileFile::fromText(u"");
    const std::vector<std::u16string> values{
        u"plain",
        u"  leading blanks",
        u"trailing tab\t",
        u"\"quoted\"",
        u"\"",
        u"",
        u"a=b;c",
        u"\u041F\u0430\u0440\u043E\u043B\u044C",
        u"\"half",
        u" \"both\" ",
    };
    for (std::size_t i = 0; i < values.size(); ++i) {
        file.set(u"S", u"k" + std::u16string(1, char16_t(u'a' + i)), values[i]);
    }
    const auto reread = ProfileFile::fromText(file.text());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(reread.value(u"S", u"k" + std::u16string(1, char16_t(u'a' + i))), values[i])
            << "value #" << i;
    }
}

TEST(ProfileIniWriteTest, LineBreaksInAValueCannotInjectKeys) {
    auto file = ProfileFile::fromText(u"[OPTIONS]\r\nSAVE_PASS=0\r\n");
    file.set(u"OPTIONS", u"USER_NAME", u"eve\r\nSAVE_PASS=1\n[X]");
    EXPECT_EQ(file.value(u"OPTIONS", u"SAVE_PASS"), u"0");
    EXPECT_EQ(file.value(u"OPTIONS", u"USER_NAME"), u"eveSAVE_PASS=1[X]");
    EXPECT_EQ(file.sections().size(), 1u);
}

// ---- Files and encodings -------------------------------------------------

TEST(ProfileIniFileTest, MissingFileIsAnEmptyUnicodeProfile) {
    TempDir dir;
    const auto file = ProfileFile::load(dir / "absent.ini");
    EXPECT_TRUE(file.isUtf16());
    EXPECT_FALSE(file.readFailed());
    EXPECT_EQ(file.text(), u"");
}

TEST(ProfileIniFileTest, NewFileIsUtf16WithBomAndCrLf) {
    TempDir dir;
    auto file = ProfileFile::load(dir / "new.ini");
    file.set(u"SETTINGS", u"lang", u"en");
    ASSERT_TRUE(file.save(dir / "new.ini"));
    EXPECT_EQ(readBytes(dir / "new.ini"), utf16le(u"[SETTINGS]\r\nlang=en\r\n"));
}

TEST(ProfileIniFileTest, Utf16RoundTripKeepsEveryByte) {
    TempDir dir;
    const std::u16string text =
        u"[ru]\r\n1=\u041F\u0440\u0438\u0432\u0435\u0442\r\n; \U0001F600 comment\r\n\r\n"
        u"[OPTIONS]\r\nTIMEOUT=250\r\n";
    writeBytes(dir / "u.ini", utf16le(text));
    auto file = ProfileFile::load(dir / "u.ini");
    ASSERT_TRUE(file.isUtf16());
    EXPECT_EQ(file.value(u"RU", u"1"), u"\u041F\u0440\u0438\u0432\u0435\u0442");
    file.set(u"OPTIONS", u"TIMEOUT", u"1000");
    file.set(u"OPTIONS", u"NAME", u"\u00C9mile \U0001F600");
    ASSERT_TRUE(file.save(dir / "u.ini"));
    const std::string bytes = readBytes(dir / "u.ini");
    EXPECT_EQ(bytes,
              utf16le(u"[ru]\r\n1=\u041F\u0440\u0438\u0432\u0435\u0442\r\n; \U0001F600 comment"
                      u"\r\n\r\n[OPTIONS]\r\nTIMEOUT=1000\r\nNAME=\u00C9mile \U0001F600\r\n"));
    EXPECT_EQ(ProfileFile::load(dir / "u.ini").value(u"options", u"name"),
              u"\u00C9mile \U0001F600");
}

TEST(ProfileIniFileTest, Utf8FileStaysUtf8) {
    TempDir dir;
    writeBytes(dir / "a.ini", "[S]\nname=Jos\xC3\xA9\nother=1\n");
    auto file = ProfileFile::load(dir / "a.ini");
    EXPECT_FALSE(file.isUtf16());
    EXPECT_EQ(file.value(u"S", u"name"), u"Jos\u00E9");
    file.set(u"S", u"other", u"\u20AC");
    ASSERT_TRUE(file.save(dir / "a.ini"));
    EXPECT_EQ(readBytes(dir / "a.ini"), "[S]\nname=Jos\xC3\xA9\nother=\xE2\x82\xAC\n");
}

TEST(ProfileIniFileTest, Utf8ByteOrderMarkIsKeptButNotPartOfTheFirstLine) {
    TempDir dir;
    writeBytes(dir / "b.ini", "\xEF\xBB\xBF[S]\nk=v\n");
    auto file = ProfileFile::load(dir / "b.ini");
    EXPECT_EQ(file.value(u"S", u"k"), u"v");
    file.set(u"S", u"k", u"w");
    ASSERT_TRUE(file.save(dir / "b.ini"));
    EXPECT_EQ(readBytes(dir / "b.ini"), "\xEF\xBB\xBF[S]\nk=w\n");
}

TEST(ProfileIniFileTest, Windows1252FileStaysWindows1252WhileItFits) {
    TempDir dir;
    writeBytes(dir / "c.ini", "[S]\r\nname=Jos\xE9\r\nprice=\x80 5\r\n");
    auto file = ProfileFile::load(dir / "c.ini");
    EXPECT_EQ(file.value(u"S", u"name"), u"Jos\u00E9");
    EXPECT_EQ(file.value(u"S", u"price"), u"\u20AC 5");
    file.set(u"S", u"price", u"\u20AC 6");
    ASSERT_TRUE(file.save(dir / "c.ini"));
    EXPECT_EQ(readBytes(dir / "c.ini"), "[S]\r\nname=Jos\xE9\r\nprice=\x80 6\r\n");

    // A character outside Windows-1252 turns the file into UTF-8 rather
    // than into a question mark.
    file.set(u"S", u"city", u"\u041C\u043E\u0441\u043A\u0432\u0430");
    ASSERT_TRUE(file.save(dir / "c.ini"));
    const auto reread = ProfileFile::load(dir / "c.ini");
    EXPECT_EQ(reread.value(u"S", u"city"), u"\u041C\u043E\u0441\u043A\u0432\u0430");
    EXPECT_EQ(reread.value(u"S", u"name"), u"Jos\u00E9");
    EXPECT_EQ(reread.value(u"S", u"price"), u"\u20AC 6");
}

TEST(ProfileIniFileTest, OddInputReadsWithoutHarm) {
    TempDir dir;
    // A lone byte-order mark.
    writeBytes(dir / "bom.ini", "\xFF\xFE");
    auto bom = ProfileFile::load(dir / "bom.ini");
    EXPECT_TRUE(bom.isUtf16());
    EXPECT_TRUE(bom.sections().empty());

    // Odd length: the last half character is dropped.
    writeBytes(dir / "odd.ini", utf16le(u"[S]\r\nk=v") + "X");
    EXPECT_EQ(ProfileFile::load(dir / "odd.ini").value(u"S", u"k"), u"v");

    // NUL characters are ordinary characters.
    writeBytes(dir / "nul.ini", utf16le(std::u16string(u"[S]\r\nk=a\0b\r\n", 12)));
    EXPECT_EQ(ProfileFile::load(dir / "nul.ini").value(u"S", u"k"), std::u16string(u"a\0b", 3));

    // A very long line.
    std::u16string longValue(4'000'000, u'x');
    writeBytes(dir / "long.ini", utf16le(u"[S]\r\nk=" + longValue + u"\r\nz=1\r\n"));
    const auto longFile = ProfileFile::load(dir / "long.ini");
    EXPECT_EQ(longFile.getString(u"S", u"k", u"", 771).size(), 770u);
    EXPECT_EQ(longFile.value(u"S", u"z"), u"1");
}

TEST(ProfileIniFileTest, BinaryGarbageNeverCrashes) {
    TempDir dir;
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 3000);
    const char alphabet[] = "[]=;\r\n \t\"";
    for (int round = 0; round < 80; ++round) {
        std::string bytes = (round % 2) ? "\xFF\xFE" : "";
        const int n = length(random);
        for (int i = 0; i < n; ++i) {
            // Mostly syntax characters, so sections and keys do occur.
            bytes.push_back(byte(random) < 128 ? alphabet[byte(random) % 9]
                                               : static_cast<char>(byte(random)));
        }
        writeBytes(dir / "g.ini", bytes);
        auto file = ProfileFile::load(dir / "g.ini");
        for (const auto& section : file.sections()) {
            (void)file.getString(section, u"", u"", 10);
        }
        file.set(u"OPTIONS", u"TIMEOUT", u"1000");
        EXPECT_EQ(file.value(u"OPTIONS", u"TIMEOUT"), u"1000") << "round " << round;
        ASSERT_TRUE(file.save(dir / "g.ini"));
        EXPECT_EQ(ProfileFile::load(dir / "g.ini").value(u"OPTIONS", u"TIMEOUT"), u"1000")
            << "round " << round;
    }
}

TEST(ProfileIniFileTest, UnreadableFileIsNeverReplaced) {
    TempDir dir;
    std::filesystem::create_directory(dir / "folder.ini");
    auto file = ProfileFile::load(dir / "folder.ini");
    EXPECT_TRUE(file.readFailed());
    file.set(u"S", u"k", u"v");
    EXPECT_FALSE(file.save(dir / "folder.ini"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.ini"));

    // A FIFO would block a plain open until someone writes to it.
    ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
    EXPECT_TRUE(ProfileFile::load(dir / "fifo.ini").readFailed());
    EXPECT_FALSE(EnsureUnicodeFile(dir / "fifo.ini"));
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo.ini"));
}

// A part of a file reads its kept sections, and every section's one key,
// as the whole file does: duplicate sections in another case, comments,
// stray lines and keys of the same name elsewhere included.
TEST(ProfileIniFileTest, APartReadsItsSectionsAsTheWholeFileDoes) {
    TempDir dir;
    const std::u16string text =
        u"top=no section\r\n[en]\r\nlang=English\r\n1=One\r\n; 2=comment\r\n"
        u"[de]\r\nlang = Deutsch\r\n1=Eins\r\n2=Zwei\r\nstray line\r\n"
        u"[FR]\r\n1=Un\r\nLANG=\"Fran\u00e7ais\"\r\n[[odd\r\nlang=not a section\r\n"
        u"[En]\r\n3=Three\r\n[De]\r\n4=Vier\r\n";
    writeBytes(dir / "lang.ini", "\xFF\xFE" + utf16le(text));
    const ProfileFile whole = ProfileFile::load(dir / "lang.ini");
    ProfileFile part = ProfileFile::loadPart(dir / "lang.ini", {u"DE", u"en"}, u"lang");
    EXPECT_EQ(part.sections(), whole.sections());
    for (const char16_t* section : {u"en", u"de", u"fr", u"En", u"[odd"})
        for (const char16_t* key : {u"lang", u"1", u"2", u"3", u"4", u"top"}) {
            const bool kept =
                std::u16string_view(key) == u"lang" || std::u16string_view(section) != u"fr";
            EXPECT_EQ(part.value(section, key), kept ? whole.value(section, key) : std::nullopt)
                << toUtf8(section) << " " << toUtf8(key);
        }
    // The rest of the file is not there to be written back.
    EXPECT_FALSE(part.save(dir / "lang.ini"));
    EXPECT_EQ(ProfileFile::load(dir / "lang.ini").text(), whole.text());
}

// ---- Atomic replacement --------------------------------------------------

TEST(ProfileIniAtomicTest, SaveAppliesTheModeAndLeavesNoTemporaryFile) {
    TempDir dir;
    writeBytes(dir / "s.ini", utf16le(u"[S]\r\nk=1\r\n"));
    ::chmod((dir / "s.ini").c_str(), 0644);
    auto file = ProfileFile::load(dir / "s.ini");
    file.set(u"S", u"k", u"2");
    ASSERT_TRUE(file.save(dir / "s.ini", 0600));
    EXPECT_EQ(modeOf(dir / "s.ini"), 0600u);
    EXPECT_EQ(entriesIn(dir.path()), 1u);

    ASSERT_TRUE(writeFileAtomically(dir / "w.bin", "abc", 0640));
    EXPECT_EQ(readBytes(dir / "w.bin"), "abc");
    EXPECT_EQ(modeOf(dir / "w.bin"), 0640u);
}

TEST(ProfileIniAtomicTest, FailedWriteLeavesTheOldFileWhole) {
    TempDir dir;
    const std::string old = utf16le(u"[S]\r\nk=old\r\n");
    writeBytes(dir / "s.ini", old);
    auto file = ProfileFile::load(dir / "s.ini");
    file.set(u"S", u"k", std::u16string(100'000, u'n'));

    // A file-size limit makes the write fail half-way, as a full disk does.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool saved1 = file.save(dir / "s.ini", 0600);
    const bool saved2 = writeFileAtomically(dir / "s.ini", std::string(5000, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(saved1);
    EXPECT_FALSE(saved2);
    EXPECT_EQ(readBytes(dir / "s.ini"), old);
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(ProfileIniAtomicTest, MissingFolderFails) {
    TempDir dir;
    EXPECT_FALSE(writeFileAtomically(dir / "no" / "such" / "folder.ini", "x"));
    EXPECT_FALSE(ProfileFile::fromText(u"[S]\r\n").save(dir / "no" / "s.ini"));
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

TEST(ProfileIniAtomicTest, ReadOnlyFolderKeepsTheOldFile) {
    TempDir dir;
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root";
    std::filesystem::create_directory(dir / "ro");
    writeBytes(dir / "ro" / "s.ini", "old");
    ::chmod((dir / "ro").c_str(), 0500);
    EXPECT_FALSE(writeFileAtomically(dir / "ro" / "s.ini", "new"));
    ::chmod((dir / "ro").c_str(), 0700);
    EXPECT_EQ(readBytes(dir / "ro" / "s.ini"), "old");
}

TEST(ProfileIniAtomicTest, SymbolicLinkKeepsPointingAtTheNewContent) {
    TempDir dir;
    writeBytes(dir / "real.ini", "old");
    std::filesystem::create_symlink(dir / "real.ini", dir / "link.ini");
    ASSERT_TRUE(writeFileAtomically(dir / "link.ini", "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
    EXPECT_EQ(readBytes(dir / "real.ini"), "new");
}

// ---- EnsureUnicodeFile ---------------------------------------------------

TEST(ProfileIniEnsureUnicodeTest, MissingFileGetsOnlyTheByteOrderMark) {
    TempDir dir;
    EXPECT_FALSE(EnsureUnicodeFile(dir / "new.ini"));
    EXPECT_EQ(readBytes(dir / "new.ini"), "\xFF\xFE");
    EXPECT_EQ(modeOf(dir / "new.ini"), 0600u);
    // Now it begins with the mark.
    EXPECT_TRUE(EnsureUnicodeFile(dir / "new.ini"));
}

TEST(ProfileIniEnsureUnicodeTest, UnicodeFileIsLeftByteForByte) {
    TempDir dir;
    // Not even valid text after the mark: still untouched.
    const std::string bytes("\xFF\xFE[\x00S\x00]\x00\xD8\x00\x00Z", 12);
    writeBytes(dir / "u.ini", bytes);
    ::chmod((dir / "u.ini").c_str(), 0644);
    EXPECT_TRUE(EnsureUnicodeFile(dir / "u.ini"));
    EXPECT_EQ(readBytes(dir / "u.ini"), bytes);
    EXPECT_EQ(modeOf(dir / "u.ini"), 0644u);
}

TEST(ProfileIniEnsureUnicodeTest, AnsiFilesAreConverted) {
    TempDir dir;
    writeBytes(dir / "cp.ini", "[OPTIONS]\r\nUSER_NAME=Jos\xE9 \x80\r\n");
    EXPECT_FALSE(EnsureUnicodeFile(dir / "cp.ini"));
    EXPECT_EQ(readBytes(dir / "cp.ini"), utf16le(u"[OPTIONS]\r\nUSER_NAME=Jos\u00E9 \u20AC\r\n"));

    writeBytes(dir / "u8.ini", "\xEF\xBB\xBF[S]\nk=\xD0\x96\n");
    EXPECT_FALSE(EnsureUnicodeFile(dir / "u8.ini"));
    EXPECT_EQ(readBytes(dir / "u8.ini"), utf16le(u"[S]\nk=\u0416\n"));

    writeBytes(dir / "empty.ini", "");
    EXPECT_FALSE(EnsureUnicodeFile(dir / "empty.ini"));
    EXPECT_EQ(readBytes(dir / "empty.ini"), "\xFF\xFE");

    // A single 0xFF byte is not the mark.
    writeBytes(dir / "ff.ini", "\xFF");
    EXPECT_FALSE(EnsureUnicodeFile(dir / "ff.ini"));
    EXPECT_EQ(fromUtf16le(readBytes(dir / "ff.ini")), u"\u00FF");
}

TEST(ProfileIniEnsureUnicodeTest, ConversionKeepsTheFileMode) {
    TempDir dir;
    writeBytes(dir / "m.ini", "[S]\n");
    ::chmod((dir / "m.ini").c_str(), 0640);
    EnsureUnicodeFile(dir / "m.ini");
    EXPECT_EQ(modeOf(dir / "m.ini"), 0640u);
}

TEST(ProfileIniEnsureUnicodeTest, WhatCannotBeReadIsLeftAlone) {
    TempDir dir;
    std::filesystem::create_directory(dir / "d.ini");
    EXPECT_FALSE(EnsureUnicodeFile(dir / "d.ini"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "d.ini"));
    EXPECT_FALSE(EnsureUnicodeFile(dir / "no" / "folder.ini"));
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

}  // namespace
}  // namespace miravo
