// Timings of the "Sent faxes" window over a journal of 100,000 sends, each
// beside a comparison run in the same process:
//  - opening the window and painting it the first time, against a plain
//    SELECT of the same table columns of every send;
//  - a search typed into the window (and the table painted again), against
//    a plain SELECT of the same columns with LIKE over the same text; and
//    the search cleared again, against the plain SELECT of every send.
// Usage: journal_bench [sends] (default 100000). Runs on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise.
#include <sqlite3.h>

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QTableView>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "journal/Journal.h"
#include "ui/SentFaxesWindow.h"

namespace fs = std::filesystem;
using namespace miravo;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDistinct = 200;  // sends written through the journal; the rest are copies

double best(int runs, const std::function<void()>& work) {
    double fastest = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        fastest = std::min(fastest, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return fastest;
}

void exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "journal_bench: %s\n", error ? error : "?");
        std::exit(1);
    }
}

// kDistinct sends through the journal, then copies of them, a day earlier
// each round, up to `total`.
void fill(const fs::path& file, int total, const LanguageTable& language) {
    {
        Journal journal(file);
        for (int i = 0; i < kDistinct; ++i) {
            JournalSend s;
            s.sentAt = 1765000000 + i * 60;
            s.title = fromUtf8("Letter " + std::to_string(i) + " to Müller & Söhne");
            s.pages = 1 + i % 5;
            s.faxId = toU16(static_cast<long>(1000 + i));
            for (int d = 0; d < 1 + i % 3; ++d)
                s.destinations.push_back({fromUtf8("+49 30 100" + std::to_string(i * 3 + d)),
                                          d == 0 ? u"Tax office" : u"", u"", u"", 0, false, 0});
            const auto id = journal.recordTransfer(s);
            journal.recordStatus(id, {{s.destinations[0].number, u"0.10", u"OK"}}, 0.1, language);
        }
    }
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    exec(db, "PRAGMA synchronous=OFF; BEGIN");
    for (int round = 1; round * kDistinct < total; ++round) {
        const std::string offset = std::to_string(round * kDistinct);
        const int left = std::min(kDistinct, total - round * kDistinct);
        exec(db,
             "INSERT INTO sends SELECT id + " + offset + ", sent_at - 86400 * " +
                 std::to_string(round) +
                 ", title, pages, cover, report, fax_id, estimated_cost, total_cost, "
                 "destination_list, delivered, failed, pending FROM sends WHERE id <= " +
                 std::to_string(left));
        exec(db, "INSERT INTO send_search SELECT id + " + offset + ", sent_at - 86400 * " +
                     std::to_string(round) + ", text FROM send_search WHERE id <= " +
                     std::to_string(left));
        exec(db, "INSERT INTO destinations SELECT send_id + " + offset +
                     ", position, number, name, status_code, status_text, cost, final, "
                     "last_checked FROM destinations WHERE send_id <= " +
                     std::to_string(left));
    }
    exec(db, "COMMIT");
    sqlite3_close(db);
}

// What a model that reads every line up front would do.
std::size_t plainSelect(const fs::path& file, const std::string& where) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db,
                       ("SELECT id, sent_at, title, destination_list, pages, delivered, failed, "
                        "pending, total_cost FROM sends " +
                        where + " ORDER BY sent_at DESC, id DESC")
                           .c_str(),
                       -1, &stmt, nullptr);
    struct Line {
        std::int64_t id, at;
        std::u16string title, destinations;
        int pages, delivered, failed, pending;
        double cost;
    };
    std::vector<Line> lines;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        auto text = [&](int c) {
            const void* p = sqlite3_column_text16(stmt, c);
            return std::u16string(static_cast<const char16_t*>(p),
                                  static_cast<std::size_t>(sqlite3_column_bytes16(stmt, c)) / 2);
        };
        lines.push_back({sqlite3_column_int64(stmt, 0), sqlite3_column_int64(stmt, 1), text(2),
                         text(3), sqlite3_column_int(stmt, 4), sqlite3_column_int(stmt, 5),
                         sqlite3_column_int(stmt, 6), sqlite3_column_int(stmt, 7),
                         sqlite3_column_double(stmt, 8)});
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return lines.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 100000;

    char folder[] = "/tmp/journal-bench-XXXXXX";
    if (!::mkdtemp(folder))
        return 1;
    ::setenv("XDG_DATA_HOME", folder, 1);
    const fs::path file = Journal::DefaultPath();
    AppState state;
    AppPaths paths;
    paths.state = &state;
    LoadLanguage(state.language, ModuleFolder() + u"lang.ini", u"en");
    fill(file, total, state.language);

    std::size_t shown = 0;
    const double open = best(5, [&] {
        ui::SentFaxesWindow window(paths);
        window.show();
        const QPixmap painted = window.grab();
        shown = static_cast<std::size_t>(window.table()->model()->rowCount());
    });
    std::size_t selected = 0;
    const double select = best(5, [&] { selected = plainSelect(file, ""); });

    ui::SentFaxesWindow window(paths);
    window.show();
    window.grab();
    const std::string term = "+49 30 100123";
    double search = 1e9, clear = 1e9;
    std::size_t found = 0;
    for (int run = 0; run < 5; ++run) {
        auto start = Clock::now();
        window.searchBox()->setText(QString::fromStdString(term));
        window.table()->viewport()->grab();
        search = std::min(search, std::chrono::duration<double>(Clock::now() - start).count());
        found = static_cast<std::size_t>(window.table()->model()->rowCount());
        start = Clock::now();
        window.searchBox()->clear();
        window.table()->viewport()->grab();
        clear = std::min(clear, std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::size_t liked = 0;
    const double like = best(5, [&] {
        liked = plainSelect(file, "WHERE title || destination_list LIKE '%" + term + "%'");
    });

    std::printf("journal of %d sends (%zu shown, %zu by the plain SELECT)\n", total, shown,
                selected);
    std::printf("open and first paint: %8.1f ms (goal 200 ms)   plain SELECT of the same rows: "
                "%8.1f ms   ratio %.2f\n",
                open * 1e3, select * 1e3, open / select);
    std::printf("search and repaint:   %8.1f ms (goal  50 ms)   plain SELECT ... LIKE:        "
                "%8.1f ms   ratio %.2f (%zu / %zu found)\n",
                search * 1e3, like * 1e3, search / like, found, liked);
    std::printf("search cleared:       %8.1f ms (goal  50 ms)   plain SELECT of every row:    "
                "%8.1f ms   ratio %.2f\n",
                clear * 1e3, select * 1e3, clear / select);
    std::error_code ec;
    if (!std::getenv("JOURNAL_BENCH_KEEP"))
        fs::remove_all(folder, ec);
    return 0;
}
