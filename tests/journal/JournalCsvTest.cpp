// The CSV export read back by another CSV reader (the sqlite3 shell).
#include "journal/JournalCsv.h"

#include <cstdio>
#include <cstdlib>

#include "app/Text.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

TEST(JournalCsvTest, ExportReadsBackFieldForField) {
    JournalSend send;
    send.sentAt = 1765200000;
    send.title = u"Offer, \"final\"\nversion – Müller";
    send.pages = 3;
    send.cover = true;
    send.reportOptions = u"YES";
    send.faxId = u"4711";
    send.estimatedCost = 1.5;
    send.totalCost = 1;
    send.destinations = {{u"+4930111", u"Tax office", u"OK", u"OK", 0.5, true, 1765200060},
                         {u"+4930222", u"Ölhandel, Nord", u"", u"Sending", 0, false, 0}};
    test::TempDir dir;
    test::writeBytes(dir / "export.csv", JournalCsv({send}));

    // One line per destination under the header; -json prints each field
    // as the reader understood it.
    const std::string json =
        run("sqlite3 -json :memory: '.import --csv " + (dir / "export.csv").string() +
            " t' 'SELECT sent, document, pages, cover_page, report, fax_id, estimated_cost, "
            "total_cost, number, name, status_code, status, cost, final, last_checked FROM t'");
    const std::string expected =
        "[{\"sent\":\"2025-12-08T13:20:00Z\",\"document\":\"Offer, \\\"final\\\"\\nversion – "
        "Müller\",\"pages\":\"3\",\"cover_page\":\"yes\",\"report\":\"YES\",\"fax_id\":\"4711\","
        "\"estimated_cost\":\"1.50\",\"total_cost\":\"1.00\",\"number\":\"+4930111\",\"name\":"
        "\"Tax office\",\"status_code\":\"OK\",\"status\":\"OK\",\"cost\":\"0.50\",\"final\":"
        "\"yes\",\"last_checked\":\"2025-12-08T13:21:00Z\"},\n"
        "{\"sent\":\"2025-12-08T13:20:00Z\",\"document\":\"Offer, \\\"final\\\"\\nversion – "
        "Müller\",\"pages\":\"3\",\"cover_page\":\"yes\",\"report\":\"YES\",\"fax_id\":\"4711\","
        "\"estimated_cost\":\"1.50\",\"total_cost\":\"1.00\",\"number\":\"+4930222\",\"name\":"
        "\"Ölhandel, Nord\",\"status_code\":\"\",\"status\":\"Sending\",\"cost\":\"0.00\","
        "\"final\":\"no\",\"last_checked\":\"\"}]\n";
    EXPECT_EQ(json, expected);
}

}  // namespace
}  // namespace miravo
