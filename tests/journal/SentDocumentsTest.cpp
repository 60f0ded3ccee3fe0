// Kept sent documents: the copy, its modes and its record; retention by
// days and by size, oldest first; the transmission report of a short and
// a long send in three languages, read back with pdftotext.
#include <sys/stat.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "journal/Journal.h"
#include "journal/SentDocuments.h"
#include "journal/TransmissionReport.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

namespace fs = std::filesystem;

int modeOf(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

JournalSend record(std::int64_t sentAt, std::size_t destinations) {
    JournalSend send;
    send.sentAt = sentAt;
    send.title = u"Quarterly letter";
    send.pages = 2;
    send.cover = true;
    send.faxId = u"4711";
    const char16_t* codes[] = {u"OK", u"NA", u"BU", u"FA"};
    for (std::size_t i = 0; i < destinations; ++i) {
        const std::u16string code = codes[i % 4];
        send.destinations.push_back({u"+49 30 55" + fromUtf8(std::to_string(100000 + i)),
                                     u"Name " + fromUtf8(std::to_string(i)), code, code,
                                     code == u"OK" ? 0.2 : 0.0, true, 0, u"4711", true});
        send.totalCost += code == u"OK" ? 0.2 : 0.0;
    }
    return send;
}

// A one-page fax document: a black box on a white page.
std::string faxPage(const fs::path& path) {
    QImage page(1728, 2200, QImage::Format_Mono);
    page.fill(1);
    {
        QPainter painter(&page);
        painter.fillRect(200, 200, 800, 300, Qt::black);
    }
    page.save(QString::fromStdString(path.string()), "TIFF");
    return test::readBytes(path);
}

std::string run(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

class SentDocumentsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!QGuiApplication::instance()) {
            static int argc = 1;
            static char name[] = "test";
            static char* argv[] = {name, nullptr};
            new QGuiApplication(argc, argv);
        }
    }

    test::TempDir dir_;
    Journal journal_{dir_ / "Miravo" / "journal.sqlite"};
};

TEST_F(SentDocumentsTest, KeepsTheDocumentAsSentWithItsCoverText) {
    const std::string tiff = faxPage(dir_ / "doc_res__1.tif");
    ASSERT_FALSE(tiff.empty());
    const std::int64_t id = journal_.recordTransfer(record(JournalNow(), 1));
    ASSERT_GT(id, 0);
    EXPECT_EQ(journal_.latest(), id);
    EXPECT_EQ(journal_.keeping(id).document, KeptDocument::None);

    const KeepResult kept = KeepSentDocument(journal_, id, dir_ / "doc_res__1.tif", u"Grüße");
    ASSERT_TRUE(kept.kept) << kept.error;
    EXPECT_EQ(test::readBytes(KeptDocumentPath(journal_, id)), tiff);
    EXPECT_EQ(KeptCoverText(journal_, id), u"Grüße");
    EXPECT_EQ(modeOf(SentFolder(journal_)), 0700);
    EXPECT_EQ(modeOf(KeptDocumentPath(journal_, id)), 0600);
    EXPECT_EQ(modeOf(KeptCoverPath(journal_, id)), 0600);
    const JournalKeeping keeping = journal_.keeping(id);
    EXPECT_EQ(keeping.document, KeptDocument::Kept);
    EXPECT_EQ(keeping.documentBytes, static_cast<std::int64_t>(tiff.size() + 7));

    // A document that cannot be read leaves the record "not kept" and no file behind.
    const std::int64_t other = journal_.recordTransfer(record(JournalNow(), 1));
    EXPECT_FALSE(KeepSentDocument(journal_, other, dir_ / "missing.tif", {}).kept);
    EXPECT_EQ(journal_.keeping(other).document, KeptDocument::NotKept);
    EXPECT_FALSE(fs::exists(KeptDocumentPath(journal_, other)));
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(SentFolder(journal_)))
        ++files;
    EXPECT_EQ(files, 2u);  // 1.tif and 1.txt only: no partial file
}

TEST_F(SentDocumentsTest, RetentionRemovesTheOldestFirst) {
    const std::int64_t now = JournalNow();
    const std::int64_t mb = 1024 * 1024;
    struct Case {
        const char* what;
        std::uint32_t days, megabytes;
        std::vector<std::int64_t> ageDays;  // oldest... in any order
        std::vector<std::int64_t> bytes;
        std::vector<bool> removed;
    } cases[] = {
        {"nothing too old or too large", 90, 500, {1, 2, 3}, {mb, mb, mb}, {false, false, false}},
        {"older than the days", 90, 500, {100, 91, 10}, {10, 10, 10}, {true, true, false}},
        {"over the size: the oldest go", 90, 2, {5, 3, 1}, {mb, mb, mb}, {true, false, false}},
        {"both", 30, 1, {40, 20, 10, 5}, {10, mb / 2, mb / 2, mb / 2}, {true, true, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        Journal journal(dir / "journal.sqlite");
        std::vector<std::int64_t> ids;
        for (std::size_t i = 0; i < c.ageDays.size(); ++i) {
            test::writeBytes(dir / "doc.tif", std::string(static_cast<std::size_t>(c.bytes[i]), 'x'));
            ids.push_back(journal.recordTransfer(record(now - c.ageDays[i] * 86400 + 1, 1)));
            ASSERT_TRUE(KeepSentDocument(journal, ids.back(), dir / "doc.tif", {}).kept);
        }
        const int expected = static_cast<int>(std::count(c.removed.begin(), c.removed.end(), true));
        EXPECT_EQ(ApplyRetention(journal, c.days, c.megabytes, now), expected);
        for (std::size_t i = 0; i < ids.size(); ++i) {
            EXPECT_EQ(journal.keeping(ids[i]).document,
                      c.removed[i] ? KeptDocument::Removed : KeptDocument::Kept) << i;
            EXPECT_EQ(fs::exists(KeptDocumentPath(journal, ids[i])), !c.removed[i]) << i;
            EXPECT_TRUE(journal.send(ids[i]).has_value());  // the record stays
        }
    }
}

TEST_F(SentDocumentsTest, ReportHoldsEveryDestinationInEachLanguage) {
    faxPage(dir_ / "doc_res__1.tif");
    struct Case {
        const char16_t* language;
        std::size_t destinations;
        const char* title;   // the report's own heading in that language
        const char* status;  // the words of "NA"
        int pages;
    } cases[] = {
        {u"en", 3, "Transmission report", "No answer", 1},
        {u"de", 3, "Sendebericht", nullptr, 1},
        {u"ru", 3, "Отчёт о передаче", nullptr, 1},
        {u"en", 600, "Transmission report", "No answer", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.language) + " " + std::to_string(c.destinations));
        LanguageTable language;
        ASSERT_EQ(LoadLanguage(language, fromUtf8(MIRAVO_SOURCE_DIR "/data/lang.ini"), c.language), 1);
        JournalSend send = record(JournalNow(), c.destinations);
        send.id = 12;
        JournalKeeping keeping;
        keeping.repeats = 7;
        const fs::path pdf = dir_ / "report.pdf";
        std::string error;
        ASSERT_TRUE(WriteTransmissionReport(send, keeping, dir_ / "doc_res__1.tif", language, pdf,
                                            error))
            << error;
        const std::string text = run("pdftotext -layout '" + pdf.string() + "' -");
        EXPECT_NE(text.find(c.title), std::string::npos);
        if (c.status)
            EXPECT_NE(text.find(c.status), std::string::npos);
        for (const JournalDestination& d : send.destinations)
            ASSERT_NE(text.find(toUtf8(d.number)), std::string::npos) << toUtf8(d.number);
        char total[32];
        std::snprintf(total, sizeof total, "%.2f", send.totalCost);
        EXPECT_NE(text.find(total), std::string::npos) << total;
        EXPECT_NE(text.find("4711"), std::string::npos);
        // One image: the reduced first page, on the first page only.
        const std::string images = run("pdfimages -list '" + pdf.string() + "' | tail -n +3");
        EXPECT_EQ(std::count(images.begin(), images.end(), '\n'), 1) << images;
        const std::string info = run("pdfinfo '" + pdf.string() + "' | grep '^Pages:'");
        if (c.pages > 0)
            EXPECT_NE(info.find(" " + std::to_string(c.pages) + "\n"), std::string::npos) << info;
        else
            EXPECT_EQ(info.find(" 1\n"), std::string::npos) << info;  // continued over pages
    }
}

}  // namespace
}  // namespace miravo
