// The service's storage: one SQLite database (WAL) in the data folder with
// accounts, their preferences, faxes and destinations, and address books.
// One connection, used under a lock; every change is one transaction.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace miravo::server {

struct Preferences {
    std::string redirectToEmail = "OFF";  // "ON" / "OFF"
    std::string fileFormat = "PDF";       // "PDF" / "TIFF"
    std::string emailAlert = "ON";
    std::string smsAlert = "OFF";
    std::string faxHeader;
    bool headerEditable = true;
    std::string smsNumber;
};

struct Account {
    std::int64_t id = 0;
    std::string login;
    std::string passwordHash;
    bool disabled = false;
    double credit = 0;
    Preferences preferences;
};

struct Destination {
    std::string number;  // as sent
    std::string name;
    std::string finalStatus;
    double cost = 0;  // when final
};

struct Fax {
    std::int64_t id = 0;
    std::int64_t accountId = 0;
    int pages = 0;
    std::int64_t createdMs = 0;
    std::int64_t readyMs = 0;  // destinations of valid numbers are final from then on
    double prebilling = 0;
    std::vector<Destination> destinations;
};

struct ContactRecord {
    std::int64_t id = 0;
    std::string name, number, gsmNumber;
    std::int64_t groupId = 0;  // 0: no group
    std::string groupName;
};

// One entry of an address-book update, as the client sends it.
struct ContactChange {
    std::int64_t id = 0;  // 0: a new contact
    bool deleteOnly = false;
    std::string name, number, gsmNumber;
};

enum class StoreResult { Ok, Exists, NotFound, NotEnoughCredit, Failed };

class Store {
  public:
    Store() = default;
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    bool open(const std::filesystem::path& file, std::string& error);
    void close();

    std::optional<Account> findAccount(const std::string& login);
    StoreResult addAccount(const std::string& login, const std::string& passwordHash,
                           double credit);
    StoreResult setLogin(std::int64_t accountId, const std::string& login);
    StoreResult setPasswordHash(std::int64_t accountId, const std::string& hash);
    StoreResult setPreferences(std::int64_t accountId, const Preferences& preferences);
    StoreResult setDisabled(const std::string& login, bool disabled);

    // Records a fax and debits the prebilling from the account's credit; the
    // fax id comes back in `fax.id`.
    StoreResult addFax(Fax& fax, const std::string& attachType);
    StoreResult setFaxFiles(std::int64_t faxId, const std::string& document,
                            const std::string& cover);
    // A fax of that account only; another account's fax is not found.
    std::optional<Fax> findFax(std::int64_t accountId, std::int64_t faxId);

    std::vector<ContactRecord> addressBook(std::int64_t accountId);
    StoreResult applyContactChanges(std::int64_t accountId,
                                    const std::vector<ContactChange>& changes);
    // Group (created when missing) and contact, for set-up tools and the demo.
    StoreResult addContact(std::int64_t accountId, const std::string& name,
                           const std::string& number, const std::string& gsmNumber,
                           const std::string& groupName);

  private:
    bool exec(const char* sql);
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
};

}  // namespace miravo::server
