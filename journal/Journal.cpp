#include "journal/Journal.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <thread>
#include <unordered_map>

#include "app/Paths.h"
#include "app/LanguageTable.h"
#include "app/TextIds.h"
#include "service/ServiceTexts.h"

namespace miravo {

namespace fs = std::filesystem;

namespace {

// Another program writing the journal holds it at most for one short
// transaction; waiting this long covers a slow disk.
constexpr int kBusyTimeoutMs = 10000;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS sends(
  id INTEGER PRIMARY KEY,
  sent_at INTEGER NOT NULL,
  title TEXT NOT NULL DEFAULT '',
  pages INTEGER NOT NULL DEFAULT 0,
  cover INTEGER NOT NULL DEFAULT 0,
  report TEXT NOT NULL DEFAULT '',
  fax_id TEXT NOT NULL DEFAULT '',
  estimated_cost REAL NOT NULL DEFAULT 0,
  total_cost REAL NOT NULL DEFAULT 0,
  -- kept with every write so that lists never join or aggregate
  destination_list TEXT NOT NULL DEFAULT '',
  delivered INTEGER NOT NULL DEFAULT 0,
  failed INTEGER NOT NULL DEFAULT 0,
  pending INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS destinations(
  send_id INTEGER NOT NULL REFERENCES sends(id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  number TEXT NOT NULL DEFAULT '',
  name TEXT NOT NULL DEFAULT '',
  status_code TEXT NOT NULL DEFAULT '',
  status_text TEXT NOT NULL DEFAULT '',
  cost REAL NOT NULL DEFAULT 0,
  final INTEGER NOT NULL DEFAULT 0,
  last_checked INTEGER NOT NULL DEFAULT 0,
  fax_id TEXT NOT NULL DEFAULT '',
  sent INTEGER NOT NULL DEFAULT 1,
  PRIMARY KEY(send_id, position)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS sends_by_time ON sends(sent_at, id);
CREATE INDEX IF NOT EXISTS sends_unfinished ON sends(sent_at) WHERE pending > 0;
-- title, numbers and names of each send in lower case, apart from the
-- wide records so that a search scans only this
CREATE TABLE IF NOT EXISTS send_search(
  id INTEGER PRIMARY KEY REFERENCES sends(id) ON DELETE CASCADE,
  sent_at INTEGER NOT NULL,
  text TEXT NOT NULL);
)sql";

constexpr const char* kSendColumns =
    "id, sent_at, title, pages, cover, report, fax_id, estimated_cost, total_cost";

// One prepared statement; every failure reads as "no row" or false.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        if (db)
            sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return stmt_ != nullptr; }
    Statement& bind(int i, std::int64_t v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Statement& bind(int i, double v) {
        sqlite3_bind_double(stmt_, i, v);
        return *this;
    }
    Statement& bind(int i, const std::u16string& v) {
        sqlite3_bind_text16(stmt_, i, v.data(), static_cast<int>(v.size() * 2), SQLITE_TRANSIENT);
        return *this;
    }
    bool step() { return stmt_ && sqlite3_step(stmt_) == SQLITE_ROW; }
    bool run() {
        if (!stmt_)
            return false;
        const int rc = sqlite3_step(stmt_);
        sqlite3_reset(stmt_);
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }
    void reset() {
        if (!stmt_)
            return;  // sqlite3_clear_bindings takes no null statement
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    std::int64_t integer(int c) const { return sqlite3_column_int64(stmt_, c); }
    double real(int c) const { return sqlite3_column_double(stmt_, c); }
    std::u16string text(int c) const {
        const void* p = sqlite3_column_text16(stmt_, c);
        const int bytes = sqlite3_column_bytes16(stmt_, c);
        return p ? std::u16string(static_cast<const char16_t*>(p),
                                  static_cast<std::size_t>(bytes) / 2)
                 : std::u16string();
    }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

// A write transaction that takes the write lock at once (so that two
// writers queue on the busy time-out instead of failing to upgrade) and
// rolls back unless committed.
class WriteTransaction {
  public:
    explicit WriteTransaction(sqlite3* db) : db_(db) {
        begun_ =
            db_ && sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~WriteTransaction() {
        if (begun_)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    explicit operator bool() const { return begun_; }
    bool commit() {
        if (!begun_)
            return false;
        begun_ = false;
        if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
            return true;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }

  private:
    sqlite3* db_;
    bool begun_ = false;
};

std::u16string lowered(const std::u16string& text) {
    return QString::fromStdU16String(text).toLower().toStdU16String();
}

JournalSend readSend(const Statement& s) {
    JournalSend send;
    send.id = s.integer(0);
    send.sentAt = s.integer(1);
    send.title = s.text(2);
    send.pages = static_cast<int>(s.integer(3));
    send.cover = s.integer(4) != 0;
    send.reportOptions = s.text(5);
    send.faxId = s.text(6);
    send.estimatedCost = s.real(7);
    send.totalCost = s.real(8);
    return send;
}

// Errors that say what the file holds is unusable, as opposed to busy,
// out of space, failing to read or not ours to write: those pass, and a
// journal moved aside for them would hide every send it holds.
bool unusableFile(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_ERROR:  // a database of another shape
        case SQLITE_FORMAT:
            return true;
        default:
            return false;
    }
}

std::string timeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &tm);
    return text;
}

}  // namespace

bool JournalSend::final() const {
    for (const JournalDestination& d : destinations) {
        if (!d.final)
            return false;
    }
    return true;
}

std::string JournalMovedNotice(const fs::path& movedTo) {
    return "the sent-fax journal could not be read; it was kept as " + movedTo.string() +
           " and a new one started";
}

std::int64_t JournalNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

fs::path Journal::DefaultPath() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/')
        return fs::path(data) / "Miravo" / "journal.sqlite";
    const std::u16string home = ProfileFolder();
    if (home.empty())
        return {};
    return ToFsPath(home) / ".local" / "share" / "Miravo" / "journal.sqlite";
}

Journal::Journal(const fs::path& path) : path_(path) {
    if (path_.empty())
        return;
    if (open(false))
        return;
    std::error_code ec;
    if (!fs::exists(path_, ec))
        return;  // nothing to move: the folder itself cannot be used
    // Moved aside with its write-ahead log, under names SQLite still pairs.
    fs::path aside = path_;
    aside += ".broken-" + timeStamp();
    for (int n = 2; fs::exists(aside, ec); ++n) {
        aside = path_;
        aside += ".broken-" + timeStamp() + "-" + std::to_string(n);
    }
    fs::rename(path_, aside, ec);
    if (ec)
        return;
    for (const char* suffix : {"-wal", "-shm"}) {
        fs::path from = path_, to = aside;
        from += suffix;
        to += suffix;
        std::error_code ignored;
        if (fs::exists(from, ignored))
            fs::rename(from, to, ignored);
    }
    movedAside_ = aside;
    open(true);
}

Journal::~Journal() {
    sqlite3_close_v2(db_);
}

bool Journal::open(bool fresh) {
    std::error_code ec;
    fs::create_directories(path_.parent_path(), ec);
    ::chmod(path_.parent_path().c_str(), 0700);
    // Made here, mode 0600, before SQLite sees it: its log files take the
    // same mode.
    const int fd = ::open(path_.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;  // not ours to use (another user's, read-only): not damaged, left alone
    ::fchmod(fd, 0600);
    ::close(fd);

    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        sqlite3_extended_result_codes(db, 0);
        // Two programs opening a new journal at once: switching it to the
        // write-ahead log and making its tables need the file to themselves,
        // and SQLite answers "busy" at once rather than waiting. Tried again
        // until the busy time-out, so that neither send goes unrecorded.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
        do {
            rc = sqlite3_exec(db,
                              "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; "
                              "PRAGMA foreign_keys=ON;",
                              nullptr, nullptr, nullptr);
            if (rc == SQLITE_OK)
                rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
            if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (std::chrono::steady_clock::now() < deadline);
    }
    if (rc == SQLITE_OK) {
        // Journals written before sends went out in batches get the
        // destination's fax and whether it was sent; every row of such a
        // send carried the send's one fax id.
        sqlite3_stmt* probe = nullptr;
        const bool current = sqlite3_prepare_v2(db, "SELECT fax_id, sent FROM destinations",
                                                -1, &probe, nullptr) == SQLITE_OK;
        sqlite3_finalize(probe);
        if (!current)
            rc = sqlite3_exec(db,
                              "BEGIN IMMEDIATE; "
                              "ALTER TABLE destinations ADD COLUMN fax_id TEXT NOT NULL DEFAULT ''; "
                              "ALTER TABLE destinations ADD COLUMN sent INTEGER NOT NULL DEFAULT 1; "
                              "UPDATE destinations SET fax_id = (SELECT fax_id FROM sends "
                              "WHERE sends.id = destinations.send_id); COMMIT;",
                              nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        else
            rc = sqlite3_exec(db,
                              "CREATE INDEX IF NOT EXISTS destinations_by_fax ON "
                              "destinations(send_id, fax_id)",
                              nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK) {
        // Every column this program reads must be there.
        rc = sqlite3_exec(
            db,
            "SELECT id, sent_at, title, pages, cover, report, fax_id, "
            "estimated_cost, total_cost, destination_list, delivered, failed, "
            "pending FROM sends LIMIT 0; SELECT id, sent_at, text FROM send_search LIMIT 0; "
            "SELECT send_id, position, number, name, status_code, status_text, "
            "cost, final, last_checked, fax_id, sent FROM destinations LIMIT 0;",
            nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        // Busy or full: the file is fine, it just cannot be used now.
        return fresh || !unusableFile(rc);
    }
    db_ = db;
    return true;
}

std::int64_t Journal::recordTransfer(const JournalSend& send) {
    WriteTransaction transaction(db_);
    if (!transaction)
        return 0;
    Statement insert(db_,
                     "INSERT INTO sends(sent_at, title, pages, cover, report, fax_id, "
                     "estimated_cost, total_cost) VALUES(?,?,?,?,?,?,?,?)");
    insert.bind(1, send.sentAt)
        .bind(2, send.title)
        .bind(3, std::int64_t{send.pages})
        .bind(4, std::int64_t{send.cover})
        .bind(5, send.reportOptions)
        .bind(6, send.faxId)
        .bind(7, send.estimatedCost)
        .bind(8, send.totalCost);
    if (!insert.run())
        return 0;
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    Statement row(db_,
                  "INSERT INTO destinations(send_id, position, number, name, status_code, "
                  "status_text, cost, final, last_checked, fax_id, sent) "
                  "VALUES(?,?,?,?,?,?,?,?,?,?,?)");
    std::int64_t position = 0;
    std::u16string search = send.title;
    for (const JournalDestination& d : send.destinations) {
        search += u'\n' + d.number + u'\n' + d.name;
        row.bind(1, id)
            .bind(2, position++)
            .bind(3, d.number)
            .bind(4, d.name)
            .bind(5, d.statusCode)
            .bind(6, d.statusText)
            .bind(7, d.cost)
            .bind(8, std::int64_t{d.final})
            .bind(9, d.lastChecked)
            .bind(10, d.faxId)
            .bind(11, std::int64_t{d.sent});
        if (!row.run())
            return 0;
    }
    Statement index(db_, "INSERT INTO send_search(id, sent_at, text) VALUES(?, ?, ?)");
    index.bind(1, id).bind(2, send.sentAt).bind(3, lowered(search));
    if (!index.run() || !refreshSummary(id) || !transaction.commit())
        return 0;
    return id;
}

bool Journal::recordStatus(std::int64_t id, const std::vector<DestinationStatus>& statuses,
                           double totalCost, const LanguageTable& language) {
    WriteTransaction transaction(db_);
    if (!transaction)
        return false;
    std::vector<std::u16string> numbers;
    {
        Statement rows(db_, "SELECT number FROM destinations WHERE send_id = ? ORDER BY position");
        rows.bind(1, id);
        while (rows.step())
            numbers.push_back(rows.text(0));
    }
    if (numbers.empty())
        return false;
    std::vector<bool> taken(numbers.size(), false);
    Statement update(db_,
                     "UPDATE destinations SET status_code = ?, status_text = ?, cost = ?, "
                     "final = ?, last_checked = ? WHERE send_id = ? AND position = ?");
    const std::int64_t now = JournalNow();
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        const DestinationStatus& s = statuses[i];
        std::size_t position = numbers.size();
        for (std::size_t p = 0; p < numbers.size(); ++p) {
            if (!taken[p] && numbers[p] == s.recipient) {
                position = p;
                break;
            }
        }
        if (position == numbers.size()) {
            if (i >= numbers.size() || taken[i])
                continue;  // an answer about a destination this send never had
            position = i;
        }
        taken[position] = true;
        update.bind(1, s.status)
            .bind(2, FaxStatusText(language, s.status))
            .bind(3, DecimalValue(s.cost))
            .bind(4, std::int64_t{!s.status.empty()})
            .bind(5, now)
            .bind(6, id)
            .bind(7, static_cast<std::int64_t>(position));
        if (!update.run())
            return false;
    }
    Statement total(db_, "UPDATE sends SET total_cost = ? WHERE id = ?");
    total.bind(1, totalCost).bind(2, id);
    return total.run() && refreshSummary(id) && transaction.commit();
}

bool Journal::refreshSummary(std::int64_t id) {
    // The list names the first destinations only: a mass fax of thousands
    // would otherwise rewrite a long text with every status answer.
    constexpr int kListed = 50;
    std::u16string list;
    Statement rows(db_,
                   "SELECT number, name FROM destinations WHERE send_id = ? ORDER BY position "
                   "LIMIT ?");
    rows.bind(1, id).bind(2, std::int64_t{kListed + 1});
    int listed = 0;
    while (rows.step()) {
        if (++listed > kListed) {
            list += u", \u2026";
            break;
        }
        const std::u16string number = rows.text(0), name = rows.text(1);
        if (!list.empty())
            list += u", ";
        list += name.empty() ? number : name + u" (" + number + u")";
    }
    Statement update(
        db_,
        "UPDATE sends SET destination_list = ?1, "
        "delivered = (SELECT count(*) FROM destinations WHERE send_id = ?2 AND final <> 0 "
        "AND status_code = 'OK'), "
        "failed = (SELECT count(*) FROM destinations WHERE send_id = ?2 AND final <> 0 "
        "AND status_code <> 'OK'), "
        "pending = (SELECT count(*) FROM destinations WHERE send_id = ?2 AND final = 0) "
        "WHERE id = ?2");
    update.bind(1, list).bind(2, id);
    return update.run();
}

bool Journal::recordBatch(std::int64_t id, std::size_t first, std::size_t count,
                          const std::u16string& faxId, double estimatedCost) {
    WriteTransaction transaction(db_);
    if (!transaction)
        return false;
    Statement rows(db_,
                   "UPDATE destinations SET fax_id = ?1 WHERE send_id = ?2 AND position >= ?3 "
                   "AND position < ?4");
    rows.bind(1, faxId)
        .bind(2, id)
        .bind(3, static_cast<std::int64_t>(first))
        .bind(4, static_cast<std::int64_t>(first + count));
    Statement send(db_,
                   "UPDATE sends SET fax_id = CASE WHEN fax_id = '' THEN ?1 "
                   "ELSE fax_id || ', ' || ?1 END, estimated_cost = estimated_cost + ?2 "
                   "WHERE id = ?3");
    send.bind(1, faxId).bind(2, estimatedCost).bind(3, id);
    return rows.run() && send.run() && transaction.commit();
}

bool Journal::recordNotSent(std::int64_t id, const std::vector<std::size_t>& positions,
                            const LanguageTable& language) {
    WriteTransaction transaction(db_);
    if (!transaction)
        return false;
    Statement update(db_,
                     "UPDATE destinations SET sent = 0, final = 1, status_code = '', "
                     "status_text = ?1, fax_id = '' WHERE send_id = ?2 AND position = ?3");
    const std::u16string notSent = GetText(language, text::kDestinationNotSent);
    for (std::size_t position : positions) {
        update.bind(1, notSent).bind(2, id).bind(3, static_cast<std::int64_t>(position));
        if (!update.run())
            return false;
    }
    return refreshSummary(id) && transaction.commit();
}

bool Journal::recordFaxStatus(std::int64_t id, const std::u16string& faxId,
                              const std::vector<DestinationStatus>& statuses,
                              const LanguageTable& language) {
    WriteTransaction transaction(db_);
    if (!transaction)
        return false;
    std::vector<std::int64_t> positions;
    std::unordered_map<std::u16string, std::size_t> byNumber;
    {
        Statement rows(db_,
                       "SELECT position, number FROM destinations WHERE send_id = ? AND "
                       "fax_id = ? AND sent <> 0 ORDER BY position");
        rows.bind(1, id).bind(2, faxId);
        while (rows.step()) {
            byNumber.emplace(rows.text(1), positions.size());
            positions.push_back(rows.integer(0));
        }
    }
    if (positions.empty())
        return false;
    std::vector<bool> taken(positions.size(), false);
    Statement update(db_,
                     "UPDATE destinations SET status_code = ?, status_text = ?, cost = ?, "
                     "final = ?, last_checked = ? WHERE send_id = ? AND position = ?");
    const std::int64_t now = JournalNow();
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        const DestinationStatus& s = statuses[i];
        std::size_t at = positions.size();
        if (const auto found = byNumber.find(s.recipient);
            found != byNumber.end() && !taken[found->second])
            at = found->second;
        else if (i < positions.size() && !taken[i])
            at = i;
        if (at == positions.size())
            continue;  // an answer about a destination this fax never had
        taken[at] = true;
        update.bind(1, s.status)
            .bind(2, FaxStatusText(language, s.status))
            .bind(3, DecimalValue(s.cost))
            .bind(4, std::int64_t{!s.status.empty()})
            .bind(5, now)
            .bind(6, id)
            .bind(7, positions[at]);
        if (!update.run())
            return false;
    }
    Statement total(db_,
                    "UPDATE sends SET total_cost = (SELECT coalesce(sum(cost), 0) FROM "
                    "destinations WHERE send_id = ?1) WHERE id = ?1");
    total.bind(1, id);
    return total.run() && refreshSummary(id) && transaction.commit();
}

std::vector<std::int64_t> Journal::find(const JournalFilter& filter) const {
    std::vector<std::int64_t> ids;
    Statement query(db_, filter.search.empty()
                             ? "SELECT id FROM sends WHERE sent_at >= ?1 "
                               "ORDER BY sent_at DESC, id DESC"
                             : "SELECT id FROM send_search WHERE sent_at >= ?1 AND "
                               "instr(text, ?2) > 0 ORDER BY sent_at DESC, id DESC");
    query.bind(1, filter.since);
    if (!filter.search.empty())
        query.bind(2, lowered(filter.search));
    while (query.step())
        ids.push_back(query.integer(0));
    return ids;
}

std::vector<JournalRow> Journal::rows(const std::vector<std::int64_t>& ids) const {
    std::vector<JournalRow> out;
    out.reserve(ids.size());
    Statement query(db_,
                    "SELECT id, sent_at, title, destination_list, pages, delivered, failed, "
                    "pending, total_cost FROM sends WHERE id = ?");
    for (std::int64_t id : ids) {
        query.reset();
        query.bind(1, id);
        if (!query.step())
            continue;
        JournalRow r;
        r.id = query.integer(0);
        r.sentAt = query.integer(1);
        r.title = query.text(2);
        r.destinations = query.text(3);
        r.pages = static_cast<int>(query.integer(4));
        r.delivered = static_cast<int>(query.integer(5));
        r.failed = static_cast<int>(query.integer(6));
        r.pending = static_cast<int>(query.integer(7));
        r.totalCost = query.real(8);
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<JournalSend> Journal::sends(const std::vector<std::int64_t>& ids) const {
    std::vector<JournalSend> out;
    const std::string sql = std::string("SELECT ") + kSendColumns + " FROM sends WHERE id = ?";
    Statement query(db_, sql.c_str());
    Statement destinations(db_,
                           "SELECT number, name, status_code, status_text, cost, final, "
                           "last_checked, fax_id, sent FROM destinations WHERE send_id = ? "
                           "ORDER BY position");
    for (std::int64_t id : ids) {
        query.reset();
        query.bind(1, id);
        if (!query.step())
            continue;
        JournalSend send = readSend(query);
        destinations.reset();
        destinations.bind(1, id);
        while (destinations.step()) {
            JournalDestination d;
            d.number = destinations.text(0);
            d.name = destinations.text(1);
            d.statusCode = destinations.text(2);
            d.statusText = destinations.text(3);
            d.cost = destinations.real(4);
            d.final = destinations.integer(5) != 0;
            d.lastChecked = destinations.integer(6);
            d.faxId = destinations.text(7);
            d.sent = destinations.integer(8) != 0;
            send.destinations.push_back(std::move(d));
        }
        out.push_back(std::move(send));
    }
    return out;
}

std::optional<JournalSend> Journal::send(std::int64_t id) const {
    std::vector<JournalSend> found = sends({id});
    if (found.empty())
        return std::nullopt;
    return std::move(found.front());
}

std::vector<JournalSend> Journal::unfinished(std::int64_t since) const {
    std::vector<std::int64_t> ids;
    Statement query(db_,
                    "SELECT id FROM sends WHERE pending > 0 AND sent_at >= ? AND fax_id <> '' "
                    "ORDER BY sent_at, id");
    query.bind(1, since);
    while (query.step())
        ids.push_back(query.integer(0));
    return sends(ids);
}

}  // namespace miravo
