// The journal's table beside the records: reasons of failed attempts, the
// record a send repeats, and the state of the kept document. Made on first
// use, so that journals written before it simply have nothing kept.
#include <sqlite3.h>

#include "journal/Journal.h"

namespace miravo {

namespace {

constexpr const char* kKeepingSchema =
    "CREATE TABLE IF NOT EXISTS send_keeping("
    " id INTEGER PRIMARY KEY REFERENCES sends(id) ON DELETE CASCADE,"
    " reason TEXT NOT NULL DEFAULT '',"
    " repeats INTEGER NOT NULL DEFAULT 0,"
    " document INTEGER NOT NULL DEFAULT 0,"
    " document_bytes INTEGER NOT NULL DEFAULT 0)";

bool ensureTable(sqlite3* db) {
    return db && sqlite3_exec(db, kKeepingSchema, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::u16string text16(sqlite3_stmt* stmt, int c) {
    const void* p = sqlite3_column_text16(stmt, c);
    const int bytes = sqlite3_column_bytes16(stmt, c);
    return p ? std::u16string(static_cast<const char16_t*>(p), static_cast<std::size_t>(bytes) / 2)
             : std::u16string();
}

}  // namespace

bool Journal::recordKeeping(std::int64_t id, const JournalKeeping& keeping) {
    if (!ensureTable(db_))
        return false;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "INSERT OR REPLACE INTO send_keeping(id, reason, repeats, document, "
                           "document_bytes) VALUES(?,?,?,?,?)",
                           -1, &stmt, nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_int64(stmt, 1, id);
    sqlite3_bind_text16(stmt, 2, keeping.reason.data(), static_cast<int>(keeping.reason.size() * 2),
                        SQLITE_TRANSIENT);
    sqlite3_bind_int64(stmt, 3, keeping.repeats);
    sqlite3_bind_int64(stmt, 4, static_cast<std::int64_t>(keeping.document));
    sqlite3_bind_int64(stmt, 5, keeping.documentBytes);
    const bool done = sqlite3_step(stmt) == SQLITE_DONE;
    sqlite3_finalize(stmt);
    return done;
}

JournalKeeping Journal::keeping(std::int64_t id) const {
    JournalKeeping keeping;
    sqlite3_stmt* stmt = nullptr;
    if (!ensureTable(db_) ||
        sqlite3_prepare_v2(db_,
                           "SELECT reason, repeats, document, document_bytes FROM send_keeping "
                           "WHERE id = ?",
                           -1, &stmt, nullptr) != SQLITE_OK)
        return keeping;
    sqlite3_bind_int64(stmt, 1, id);
    if (sqlite3_step(stmt) == SQLITE_ROW) {
        keeping.reason = text16(stmt, 0);
        keeping.repeats = sqlite3_column_int64(stmt, 1);
        const std::int64_t document = sqlite3_column_int64(stmt, 2);
        keeping.document = document >= 0 && document <= 3 ? static_cast<KeptDocument>(document)
                                                          : KeptDocument::None;
        keeping.documentBytes = sqlite3_column_int64(stmt, 3);
    }
    sqlite3_finalize(stmt);
    return keeping;
}

std::vector<KeptEntry> Journal::keptDocuments() const {
    std::vector<KeptEntry> kept;
    sqlite3_stmt* stmt = nullptr;
    if (!ensureTable(db_) ||
        sqlite3_prepare_v2(db_,
                           "SELECT k.id, s.sent_at, k.document_bytes FROM send_keeping k "
                           "JOIN sends s ON s.id = k.id WHERE k.document = 1 "
                           "ORDER BY s.sent_at, k.id",
                           -1, &stmt, nullptr) != SQLITE_OK)
        return kept;
    while (sqlite3_step(stmt) == SQLITE_ROW)
        kept.push_back({sqlite3_column_int64(stmt, 0), sqlite3_column_int64(stmt, 1),
                        sqlite3_column_int64(stmt, 2)});
    sqlite3_finalize(stmt);
    return kept;
}

std::int64_t Journal::latest() const {
    std::int64_t id = 0;
    sqlite3_stmt* stmt = nullptr;
    if (db_ && sqlite3_prepare_v2(db_, "SELECT max(id) FROM sends", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
        id = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return id;
}

}  // namespace miravo
