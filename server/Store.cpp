#include "server/Store.h"

#include <sqlite3.h>

namespace miravo::server {

namespace {

// A prepared statement, finalised at the end of its scope.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    Statement& bind(int index, const std::string& text) {
        if (stmt_)
            sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                              SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int index, std::int64_t value) {
        if (stmt_)
            sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    Statement& bind(int index, double value) {
        if (stmt_)
            sqlite3_bind_double(stmt_, index, value);
        return *this;
    }
    Statement& bindNull(int index) {
        if (stmt_)
            sqlite3_bind_null(stmt_, index);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    bool run() { return step() == SQLITE_DONE; }
    std::string text(int column) const {
        const auto* p = sqlite3_column_text(stmt_, column);
        return p ? std::string(reinterpret_cast<const char*>(p),
                               static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                 : std::string();
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    double real(int column) const { return sqlite3_column_double(stmt_, column); }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE … COMMIT, rolled back unless committed.
class Transaction {
  public:
    explicit Transaction(sqlite3* db) : db_(db) {
        ok_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~Transaction() {
        if (ok_ && !done_)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    bool ok() const { return ok_; }
    bool commit() {
        done_ = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        return done_;
    }

  private:
    sqlite3* db_;
    bool ok_ = false;
    bool done_ = false;
};

const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS accounts(
  id INTEGER PRIMARY KEY,
  login TEXT NOT NULL UNIQUE COLLATE NOCASE,
  pass_hash TEXT NOT NULL,
  disabled INTEGER NOT NULL DEFAULT 0,
  credit REAL NOT NULL DEFAULT 0,
  redirect TEXT NOT NULL DEFAULT 'OFF',
  file_format TEXT NOT NULL DEFAULT 'PDF',
  email_alert TEXT NOT NULL DEFAULT 'ON',
  sms_alert TEXT NOT NULL DEFAULT 'OFF',
  fax_header TEXT NOT NULL DEFAULT '',
  header_editable INTEGER NOT NULL DEFAULT 1,
  sms_number TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS faxes(
  id INTEGER PRIMARY KEY,
  account_id INTEGER NOT NULL REFERENCES accounts(id),
  pages INTEGER NOT NULL,
  created_ms INTEGER NOT NULL,
  ready_ms INTEGER NOT NULL,
  prebilling REAL NOT NULL,
  attach TEXT NOT NULL,
  document TEXT NOT NULL DEFAULT '',
  cover TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS destinations(
  fax_id INTEGER NOT NULL REFERENCES faxes(id),
  idx INTEGER NOT NULL,
  number TEXT NOT NULL,
  name TEXT NOT NULL,
  final_status TEXT NOT NULL,
  cost REAL NOT NULL,
  PRIMARY KEY(fax_id, idx));
CREATE TABLE IF NOT EXISTS groups(
  id INTEGER PRIMARY KEY,
  account_id INTEGER NOT NULL REFERENCES accounts(id),
  name TEXT NOT NULL,
  UNIQUE(account_id, name));
CREATE TABLE IF NOT EXISTS contacts(
  id INTEGER PRIMARY KEY,
  account_id INTEGER NOT NULL REFERENCES accounts(id),
  name TEXT NOT NULL,
  number TEXT NOT NULL,
  gsmnumber TEXT NOT NULL,
  group_id INTEGER REFERENCES groups(id));
CREATE INDEX IF NOT EXISTS contacts_account ON contacts(account_id);
CREATE INDEX IF NOT EXISTS faxes_account ON faxes(account_id);
)sql";

}  // namespace

Store::~Store() {
    close();
}

bool Store::exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Store::open(const std::filesystem::path& file, std::string& error) {
    std::lock_guard lock(mutex_);
    if (sqlite3_open_v2(file.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = db_ ? sqlite3_errmsg(db_) : "cannot open the database";
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL") ||
        !exec("PRAGMA foreign_keys=ON") || !exec(kSchema)) {
        error = sqlite3_errmsg(db_);
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    return true;
}

void Store::close() {
    std::lock_guard lock(mutex_);
    if (db_) {
        sqlite3_close(db_);
        db_ = nullptr;
    }
}

std::optional<Account> Store::findAccount(const std::string& login) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return std::nullopt;
    Statement st(db_,
                 "SELECT id, login, pass_hash, disabled, credit, redirect, file_format, "
                 "email_alert, sms_alert, fax_header, header_editable, sms_number "
                 "FROM accounts WHERE login = ?1");
    st.bind(1, login);
    if (st.step() != SQLITE_ROW)
        return std::nullopt;
    Account a;
    a.id = st.integer(0);
    a.login = st.text(1);
    a.passwordHash = st.text(2);
    a.disabled = st.integer(3) != 0;
    a.credit = st.real(4);
    a.preferences.redirectToEmail = st.text(5);
    a.preferences.fileFormat = st.text(6);
    a.preferences.emailAlert = st.text(7);
    a.preferences.smsAlert = st.text(8);
    a.preferences.faxHeader = st.text(9);
    a.preferences.headerEditable = st.integer(10) != 0;
    a.preferences.smsNumber = st.text(11);
    return a;
}

StoreResult Store::addAccount(const std::string& login, const std::string& passwordHash,
                              double credit) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return StoreResult::Failed;
    Statement st(db_, "INSERT INTO accounts(login, pass_hash, credit) VALUES(?1, ?2, ?3)");
    st.bind(1, login).bind(2, passwordHash).bind(3, credit);
    const int rc = st.step();
    if (rc == SQLITE_CONSTRAINT)
        return StoreResult::Exists;
    return rc == SQLITE_DONE ? StoreResult::Ok : StoreResult::Failed;
}

StoreResult Store::setLogin(std::int64_t accountId, const std::string& login) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return StoreResult::Failed;
    Statement st(db_, "UPDATE accounts SET login = ?1 WHERE id = ?2");
    st.bind(1, login).bind(2, accountId);
    const int rc = st.step();
    if (rc == SQLITE_CONSTRAINT)
        return StoreResult::Exists;
    return rc == SQLITE_DONE ? StoreResult::Ok : StoreResult::Failed;
}

StoreResult Store::setPasswordHash(std::int64_t accountId, const std::string& hash) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return StoreResult::Failed;
    Statement st(db_, "UPDATE accounts SET pass_hash = ?1 WHERE id = ?2");
    st.bind(1, hash).bind(2, accountId);
    return st.run() ? StoreResult::Ok : StoreResult::Failed;
}

StoreResult Store::setPreferences(std::int64_t accountId, const Preferences& p) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return StoreResult::Failed;
    Statement st(db_,
                 "UPDATE accounts SET redirect = ?1, file_format = ?2, email_alert = ?3, "
                 "sms_alert = ?4, fax_header = ?5, header_editable = ?6, sms_number = ?7 "
                 "WHERE id = ?8");
    st.bind(1, p.redirectToEmail)
        .bind(2, p.fileFormat)
        .bind(3, p.emailAlert)
        .bind(4, p.smsAlert)
        .bind(5, p.faxHeader)
        .bind(6, std::int64_t(p.headerEditable ? 1 : 0))
        .bind(7, p.smsNumber)
        .bind(8, accountId);
    return st.run() ? StoreResult::Ok : StoreResult::Failed;
}

StoreResult Store::setDisabled(const std::string& login, bool disabled) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return StoreResult::Failed;
    Statement st(db_, "UPDATE accounts SET disabled = ?1 WHERE login = ?2");
    st.bind(1, std::int64_t(disabled ? 1 : 0)).bind(2, login);
    if (!st.run())
        return StoreResult::Failed;
    return sqlite3_changes(db_) > 0 ? StoreResult::Ok : StoreResult::NotFound;
}

StoreResult Store::addFax(Fax& fax, const std::string& attachType) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return StoreResult::Failed;
    Transaction tx(db_);
    if (!tx.ok())
        return StoreResult::Failed;
    {
        Statement debit(db_,
                        "UPDATE accounts SET credit = round(credit - ?1, 2) "
                        "WHERE id = ?2 AND credit >= ?1 - 0.000001");
        debit.bind(1, fax.prebilling).bind(2, fax.accountId);
        if (!debit.run())
            return StoreResult::Failed;
        if (sqlite3_changes(db_) == 0)
            return StoreResult::NotEnoughCredit;
    }
    {
        Statement st(db_,
                     "INSERT INTO faxes(account_id, pages, created_ms, ready_ms, prebilling, "
                     "attach) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        st.bind(1, fax.accountId)
            .bind(2, std::int64_t(fax.pages))
            .bind(3, fax.createdMs)
            .bind(4, fax.readyMs)
            .bind(5, fax.prebilling)
            .bind(6, attachType);
        if (!st.run())
            return StoreResult::Failed;
        fax.id = sqlite3_last_insert_rowid(db_);
    }
    std::int64_t index = 0;
    for (const Destination& d : fax.destinations) {
        Statement st(db_,
                     "INSERT INTO destinations(fax_id, idx, number, name, final_status, cost) "
                     "VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        st.bind(1, fax.id)
            .bind(2, index++)
            .bind(3, d.number)
            .bind(4, d.name)
            .bind(5, d.finalStatus)
            .bind(6, d.cost);
        if (!st.run())
            return StoreResult::Failed;
    }
    return tx.commit() ? StoreResult::Ok : StoreResult::Failed;
}

StoreResult Store::setFaxFiles(std::int64_t faxId, const std::string& document,
                               const std::string& cover) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return StoreResult::Failed;
    Statement st(db_, "UPDATE faxes SET document = ?1, cover = ?2 WHERE id = ?3");
    st.bind(1, document).bind(2, cover).bind(3, faxId);
    return st.run() ? StoreResult::Ok : StoreResult::Failed;
}

std::optional<Fax> Store::findFax(std::int64_t accountId, std::int64_t faxId) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return std::nullopt;
    Fax fax;
    {
        Statement st(db_,
                     "SELECT id, account_id, pages, created_ms, ready_ms, prebilling FROM faxes "
                     "WHERE id = ?1 AND account_id = ?2");
        st.bind(1, faxId).bind(2, accountId);
        if (st.step() != SQLITE_ROW)
            return std::nullopt;
        fax.id = st.integer(0);
        fax.accountId = st.integer(1);
        fax.pages = static_cast<int>(st.integer(2));
        fax.createdMs = st.integer(3);
        fax.readyMs = st.integer(4);
        fax.prebilling = st.real(5);
    }
    Statement st(db_,
                 "SELECT number, name, final_status, cost FROM destinations WHERE fax_id = ?1 "
                 "ORDER BY idx");
    st.bind(1, faxId);
    while (st.step() == SQLITE_ROW)
        fax.destinations.push_back({st.text(0), st.text(1), st.text(2), st.real(3)});
    return fax;
}

std::vector<ContactRecord> Store::addressBook(std::int64_t accountId) {
    std::lock_guard lock(mutex_);
    std::vector<ContactRecord> out;
    if (!db_)
        return out;
    Statement st(db_,
                 "SELECT c.id, c.name, c.number, c.gsmnumber, IFNULL(g.id, 0), IFNULL(g.name, '') "
                 "FROM contacts c LEFT JOIN groups g ON g.id = c.group_id "
                 "WHERE c.account_id = ?1 ORDER BY c.id");
    st.bind(1, accountId);
    while (st.step() == SQLITE_ROW)
        out.push_back(
            {st.integer(0), st.text(1), st.text(2), st.text(3), st.integer(4), st.text(5)});
    return out;
}

StoreResult Store::applyContactChanges(std::int64_t accountId,
                                       const std::vector<ContactChange>& changes) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return StoreResult::Failed;
    Transaction tx(db_);
    if (!tx.ok())
        return StoreResult::Failed;
    for (const ContactChange& c : changes) {
        if (c.id == 0) {
            Statement st(db_,
                         "INSERT INTO contacts(account_id, name, number, gsmnumber) "
                         "VALUES(?1, ?2, ?3, ?4)");
            st.bind(1, accountId).bind(2, c.name).bind(3, c.number).bind(4, c.gsmNumber);
            if (!st.run())
                return StoreResult::Failed;
        } else if (c.deleteOnly) {
            Statement st(db_, "DELETE FROM contacts WHERE id = ?1 AND account_id = ?2");
            st.bind(1, c.id).bind(2, accountId);
            if (!st.run())
                return StoreResult::Failed;
        } else {
            Statement st(db_,
                         "UPDATE contacts SET name = ?1, number = ?2, gsmnumber = ?3 "
                         "WHERE id = ?4 AND account_id = ?5");
            st.bind(1, c.name)
                .bind(2, c.number)
                .bind(3, c.gsmNumber)
                .bind(4, c.id)
                .bind(5, accountId);
            if (!st.run())
                return StoreResult::Failed;
        }
    }
    return tx.commit() ? StoreResult::Ok : StoreResult::Failed;
}

StoreResult Store::addContact(std::int64_t accountId, const std::string& name,
                              const std::string& number, const std::string& gsmNumber,
                              const std::string& groupName) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return StoreResult::Failed;
    Transaction tx(db_);
    if (!tx.ok())
        return StoreResult::Failed;
    std::int64_t groupId = 0;
    if (!groupName.empty()) {
        Statement add(db_, "INSERT OR IGNORE INTO groups(account_id, name) VALUES(?1, ?2)");
        add.bind(1, accountId).bind(2, groupName);
        if (!add.run())
            return StoreResult::Failed;
        Statement find(db_, "SELECT id FROM groups WHERE account_id = ?1 AND name = ?2");
        find.bind(1, accountId).bind(2, groupName);
        if (find.step() != SQLITE_ROW)
            return StoreResult::Failed;
        groupId = find.integer(0);
    }
    Statement st(db_,
                 "INSERT INTO contacts(account_id, name, number, gsmnumber, group_id) "
                 "VALUES(?1, ?2, ?3, ?4, ?5)");
    st.bind(1, accountId).bind(2, name).bind(3, number).bind(4, gsmNumber);
    if (groupId)
        st.bind(5, groupId);
    else
        st.bindNull(5);
    if (!st.run())
        return StoreResult::Failed;
    return tx.commit() ? StoreResult::Ok : StoreResult::Failed;
}

}  // namespace miravo::server
