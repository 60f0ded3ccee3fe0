// The sent-fax journal: one record per send (time, document, pages, cover
// page, report options, fax id, estimated and total cost) and one row per
// destination (number, name, status, cost, final or not, last checked), in
// an SQLite file of the user's own. Written as the send goes, so a crash
// loses at most the answer being written; read by the "Sent faxes" window
// and miravo-send. Every call fails softly: sending never depends on it.
// One Journal is one connection, for one thread at a time; several
// programs may write the same file at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "service/FaxTransmission.h"

struct sqlite3;

namespace miravo {

class LanguageTable;

struct JournalDestination {
    std::u16string number;
    std::u16string name;        // the group's name for a group member
    std::u16string statusCode;  // as the service gave it; empty while under way
    std::u16string statusText;  // as the program showed it
    double cost = 0;
    bool final = false;
    std::int64_t lastChecked = 0;  // seconds since 1970 (UTC); 0: never
    std::u16string faxId;  // the fax (batch) that carried it; empty: not (yet) sent
    bool sent = true;      // false: the send ended before it went out ("not sent")
};

struct JournalSend {
    std::int64_t id = 0;
    std::int64_t sentAt = 0;  // seconds since 1970 (UTC)
    std::u16string title;
    int pages = 0;
    bool cover = false;
    std::u16string reportOptions;  // "YES", "NO" or "NOT_AT_ALL"
    std::u16string faxId;  // every fax id of the send, comma separated
    double estimatedCost = 0;
    double totalCost = 0;
    std::vector<JournalDestination> destinations;

    bool final() const;
};

// One line of the journal's table: what a list of sends shows.
struct JournalRow {
    std::int64_t id = 0;
    std::int64_t sentAt = 0;
    std::u16string title;
    std::u16string destinations;  // names or numbers, comma separated
    int pages = 0;
    int delivered = 0;  // destinations ended "OK"
    int failed = 0;     // destinations ended otherwise
    int pending = 0;    // destinations still under way
    double totalCost = 0;
};

// What a record keeps beyond the send itself: why an attempt never went
// out, the record it repeats, and what became of its kept document.
enum class KeptDocument { None = 0, Kept = 1, Removed = 2, NotKept = 3 };

struct JournalKeeping {
    std::u16string reason;     // why the send failed before it went out; empty: it went out
    std::int64_t repeats = 0;  // the record this send repeats; 0: none
    KeptDocument document = KeptDocument::None;
    std::int64_t documentBytes = 0;  // document and cover text, while kept
};

// A kept document, for the retention.
struct KeptEntry {
    std::int64_t id = 0;
    std::int64_t sentAt = 0;
    std::int64_t bytes = 0;
};

struct JournalFilter {
    std::u16string search;  // in numbers, names and the title, ignoring case; empty: all
    std::int64_t since = 0; // sends at or after this time only
};

class Journal {
  public:
    // $XDG_DATA_HOME/Miravo/journal.sqlite (an absolute XDG_DATA_HOME only),
    // else ~/.local/share/Miravo/journal.sqlite; empty without a home folder.
    static std::filesystem::path DefaultPath();

    // Opens (or starts) the journal. One that cannot be used (not a
    // database, damaged, unreadable) is moved aside beside it under a name
    // with the time, and a fresh one is started: movedAside() says where.
    explicit Journal(const std::filesystem::path& path = DefaultPath());
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    bool isOpen() const { return db_ != nullptr; }
    const std::filesystem::path& path() const { return path_; }
    // Where an unusable journal went at this opening; empty: nothing moved.
    const std::filesystem::path& movedAside() const { return movedAside_; }

    // A send the service accepted: the record and its destinations (status
    // empty, not final). Returns the record's id; 0 when it was not written.
    std::int64_t recordTransfer(const JournalSend& send);
    // A status answer about the send `id`: each destination of the answer
    // updates the row of its number (else the row in its position).
    bool recordStatus(std::int64_t id, const std::vector<DestinationStatus>& statuses,
                      double totalCost, const LanguageTable& language);
    // A further batch of the send `id` went out as fax `faxId`: the
    // destinations at positions [first, first + count) carry it.
    bool recordBatch(std::int64_t id, std::size_t first, std::size_t count,
                     const std::u16string& faxId, double estimatedCost);
    // The destinations at these positions were never sent: final, "not sent".
    bool recordNotSent(std::int64_t id, const std::vector<std::size_t>& positions,
                       const LanguageTable& language);
    // A status answer about fax `faxId` of the send `id`: each destination of
    // the answer updates the row of its number among that fax's rows (else
    // the row in its place); the send's total is the sum of all rows.
    bool recordFaxStatus(std::int64_t id, const std::u16string& faxId,
                         const std::vector<DestinationStatus>& statuses,
                         const LanguageTable& language);

    // Ids of the matching sends, newest first.
    std::vector<std::int64_t> find(const JournalFilter& filter) const;
    // The table lines of these sends, in the order given (unknown ids left out).
    std::vector<JournalRow> rows(const std::vector<std::int64_t>& ids) const;
    // Whole records with their destinations, in the order given.
    std::vector<JournalSend> sends(const std::vector<std::int64_t>& ids) const;
    std::optional<JournalSend> send(std::int64_t id) const;
    // Sends at or after `since` with a destination not final, oldest first.
    std::vector<JournalSend> unfinished(std::int64_t since) const;

    // Beside the records (JournalKeeping.cpp): written and read apart from
    // the send so that a journal without them reads as "nothing kept".
    bool recordKeeping(std::int64_t id, const JournalKeeping& keeping);
    JournalKeeping keeping(std::int64_t id) const;
    // Records whose document is kept, oldest first.
    std::vector<KeptEntry> keptDocuments() const;
    // The newest record's id; 0 for an empty journal.
    std::int64_t latest() const;

  private:
    bool open(bool fresh);
    bool refreshSummary(std::int64_t id);

    std::filesystem::path path_;
    std::filesystem::path movedAside_;
    sqlite3* db_ = nullptr;
};

// What the user is told once a journal was moved aside to `movedTo`.
std::string JournalMovedNotice(const std::filesystem::path& movedTo);

// Seconds since 1970 (UTC), now.
std::int64_t JournalNow();

}  // namespace miravo
