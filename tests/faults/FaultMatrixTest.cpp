// Every file Miravo reads and writes, under every way a disk fails: the
// work goes on, or it stops with a message of its own; never a crash, a
// hang, library noise, or a file left half-written or lost. One table,
// store by fault, with the outcome each must have.
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>

#include <QImage>

#include "app/Text.h"
#include "contacts/ContactStore.h"
#include "tests/faults/FaultHarness.h"
#include "tests/server/ServerHarness.h"

namespace miravo::test {
namespace {

namespace fs = std::filesystem;

enum class Fault {
    FolderMissing,   // the folder is not there and cannot be made
    FolderReadOnly,  // the folder is the user's, but read-only
    FileReadOnly,    // the file is the user's, but read-only
    OtherOwner,      // the file belongs to someone else (mode 0600)
    FullAtWrite,     // a real full disk (a small tmpfs)
    FullAtRename,    // no room when the finished file takes its name
    ReadError,       // EIO from every read
    WriteError,      // EIO from every write
    Truncated,       // the file cut in half
    Damaged,         // the file is junk
    Newer,           // a file a newer version wrote, with things this one does not know
};

const char* faultName(Fault f) {
    const char* names[] = {"folder missing",     "folder read-only",
                           "file read-only",     "owned by another user",
                           "disk full at write", "disk full at rename",
                           "I/O error on read",  "I/O error on write",
                           "truncated",          "damaged",
                           "newer version"};
    return names[static_cast<int>(f)];
}

enum class Outcome { GoesOn, Stops };

// Where each store lives below the test's home folder.
struct Layout {
    fs::path root, home, config, data, sent, spool, cache, input;
    explicit Layout(const fs::path& r)
        : root(r),
          home(r / "home"),
          config(home / "config/Miravo"),
          data(home / "data/Miravo"),
          sent(data / "sent"),
          spool(home / "spool"),
          cache(home / "cache/Miravo"),
          input(r / "input") {}
};

struct Store {
    const char* name;
    std::function<fs::path(const Layout&)> folder;  // the folder the faults hit
    const char* file;                               // the file in it; "" when none is kept
    // Puts the old version in place (before the fault is applied).
    std::function<void(const Layout&)> prepare;
    std::function<std::vector<std::string>(const Layout&)> command;
    // Bytes of a version written by a later release, when one can exist.
    std::function<void(const fs::path&)> makeNewer;
    // Files that may appear in the folder beside the store's own.
    std::vector<std::string> mayAppear;
};

void write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    writeBytes(path, bytes);
}

std::string contactsFile(const std::u16string& name) {
    ContactBook book;
    book.contacts.push_back(Contact::entry(u"1", name, u"+4930111", u""));
    return utf16le(FormatContactFile(book));
}

void sql(const fs::path& file, const char* statements) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, statements, nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

std::vector<std::string> probe(std::initializer_list<std::string> args) {
    std::vector<std::string> argv = {programPath("miravo-store-probe")};
    argv.insert(argv.end(), args);
    return argv;
}

// A print job of one page in the spool, as miravo-print leaves it.
void printJob(const Layout& l) {
    fs::create_directories(l.spool);
    RunProgram({programPath("miravo-print"), "--no-launch", "--out", l.spool.string(),
                (l.input / "page.png").string()});
}

fs::path firstNamed(const fs::path& folder, const std::string& prefix) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            return entry.path();
    return folder / (prefix + "missing");
}

std::vector<std::string> convertJob(const Layout& l) {
    return {programPath("miravo-send"), "--convert-only", firstNamed(l.spool, "page__").string()};
}

const std::vector<Store>& stores() {
    static const std::vector<Store> all = {
        {"settings",
         [](const Layout& l) { return l.config; },
         "app_config.ini",
         [](const Layout& l) {
             write(l.config / "app_config.ini", utf16le(u"[OPTIONS]\r\nUSER_NAME=old\r\n"));
         },
         [](const Layout& l) {
             return probe({"settings", "write", l.config.string()});
         },
         [](const fs::path& f) {
             write(f, utf16le(u"[OPTIONS]\r\nUSER_NAME=old\r\nFUTURE_OPTION=kept\r\n"
                              u"[FUTURE]\r\nKEY=kept\r\n"));
         },
         {}},
        {"settings (send)",
         [](const Layout& l) { return l.config; },
         "app_config.ini",
         [](const Layout& l) {
             write(l.config / "app_config.ini",
                   utf16le(u"[OPTIONS]\r\nSERV_NAME=127.0.0.1:1\r\nUSER_NAME=old\r\n"
                           u"USER_PASS=old\r\n"));
         },
         [](const Layout& l) {
             return std::vector<std::string>{programPath("miravo-send"),
                                             "--settings",
                                             (l.config / "app_config.ini").string(),
                                             "--to",
                                             "+4930111",
                                             "--retries",
                                             "0",
                                             "--timeout",
                                             "1",
                                             (l.input / "letter.tif").string()};
         },
         nullptr,
         {}},
        {"contacts.csv",
         [](const Layout& l) { return l.config; },
         "contacts.csv",
         [](const Layout& l) { write(l.config / "contacts.csv", contactsFile(u"old")); },
         [](const Layout& l) {
             return probe({"contacts", "write", (l.config / "contacts.csv").string()});
         },
         nullptr,
         {"contacts.csv.unreadable-", "contacts.cards"}},
        {"result.xml",
         [](const Layout& l) { return l.config; },
         "result.xml",
         [](const Layout& l) {
             write(l.config / "result.xml", "<API_RESULT><CODE>old</CODE></API_RESULT>");
         },
         [](const Layout&) {
             return probe({"answer", "write", "-"});
         },
         nullptr,
         {}},
        {"journal",
         [](const Layout& l) { return l.data; },
         "journal.sqlite",
         [](const Layout& l) {
             fs::create_directories(l.data);
             RunProgram(probe({"journal", "write", (l.data / "journal.sqlite").string()}));
         },
         [](const Layout& l) {
             return probe({"journal", "write", (l.data / "journal.sqlite").string()});
         },
         [](const fs::path& f) {
             sql(f,
                 "ALTER TABLE sends ADD COLUMN future TEXT NOT NULL DEFAULT 'kept'; "
                 "CREATE TABLE future(x); PRAGMA user_version = 99;");
         },
         {"journal.sqlite-", "journal.sqlite.broken-"}},
        {"kept documents",
         [](const Layout& l) { return l.sent; },
         "",
         [](const Layout& l) { fs::create_directories(l.sent); },
         [](const Layout& l) {
             return probe({"kept", "write", (l.data / "journal.sqlite").string(),
                           (l.input / "letter.tif").string()});
         },
         nullptr,
         {}},
        {"print spool",
         [](const Layout& l) { return l.spool; },
         "",
         [](const Layout& l) { fs::create_directories(l.spool); },
         [](const Layout& l) {
             return std::vector<std::string>{programPath("miravo-print"), "--no-launch", "--out",
                                             l.spool.string(), (l.input / "page.png").string()};
         },
         nullptr,
         {}},
        {"job file",
         [](const Layout& l) { return l.spool; },
         "page__",
         printJob,
         convertJob,
         nullptr,
         {}},
        {"page file",
         [](const Layout& l) { return l.spool; },
         "job_",
         printJob,
         convertJob,
         nullptr,
         {}},
        {"run folder",
         [](const Layout& l) { return l.cache; },
         "",
         [](const Layout& l) {
             printJob(l);
             fs::create_directories(l.cache);
         },
         convertJob,
         nullptr,
         {}},
        {"fax document",
         [](const Layout& l) { return l.input; },
         "letter.tif",
         [](const Layout&) {},
         [](const Layout& l) {
             return probe({"document", "read", (l.input / "letter.tif").string()});
         },
         nullptr,
         {}},
        {"image document",
         [](const Layout& l) { return l.input; },
         "page.png",
         [](const Layout&) {},
         [](const Layout& l) {
             return std::vector<std::string>{programPath("miravo-print"), "--no-launch", "--out",
                                             l.spool.string(), (l.input / "page.png").string()};
         },
         nullptr,
         {}},
        {"language file",
         [](const Layout& l) { return l.input; },
         "lang.ini",
         [](const Layout&) {},
         [](const Layout& l) {
             return probe({"language", "read", (l.input / "lang.ini").string()});
         },
         [](const fs::path& f) {
             std::string bytes = readBytes(f);
             bytes += utf16le(u"\r\n[en]\r\n9999=A text of a later release\r\n[xx]\r\n1=Future\r\n",
                              false);
             writeBytes(f, bytes);
         },
         {}},
    };
    return all;
}

struct Cell {
    const char* store;
    Fault fault;
    Outcome outcome;
};

using enum Fault;
using enum Outcome;

// What each store does under each fault. A store that only reads has no
// cells for the write faults, and a store that keeps no file of its own
// none for the file faults.
// clang-format off
const Cell kMatrix[] = {
    {"settings", FolderMissing, Stops}, {"settings", FolderReadOnly, Stops},
    {"settings", FileReadOnly, GoesOn}, {"settings", OtherOwner, Stops},
    {"settings", FullAtWrite, Stops}, {"settings", FullAtRename, Stops},
    {"settings", ReadError, Stops}, {"settings", WriteError, Stops},
    {"settings", Truncated, GoesOn}, {"settings", Damaged, GoesOn}, {"settings", Newer, GoesOn},
    {"settings (send)", OtherOwner, Stops}, {"settings (send)", ReadError, Stops},
    {"contacts.csv", FolderMissing, Stops}, {"contacts.csv", FolderReadOnly, Stops},
    {"contacts.csv", FileReadOnly, GoesOn}, {"contacts.csv", OtherOwner, Stops},
    {"contacts.csv", FullAtWrite, Stops}, {"contacts.csv", FullAtRename, Stops},
    {"contacts.csv", ReadError, Stops}, {"contacts.csv", WriteError, Stops},
    {"contacts.csv", Truncated, GoesOn}, {"contacts.csv", Damaged, GoesOn},
    {"result.xml", FolderMissing, Stops}, {"result.xml", FolderReadOnly, Stops},
    {"result.xml", FileReadOnly, GoesOn}, {"result.xml", OtherOwner, GoesOn},
    {"result.xml", FullAtWrite, Stops}, {"result.xml", FullAtRename, Stops},
    {"result.xml", WriteError, Stops},
    {"journal", FolderMissing, Stops}, {"journal", FolderReadOnly, GoesOn},
    {"journal", FileReadOnly, Stops}, {"journal", OtherOwner, Stops},
    {"journal", FullAtWrite, Stops}, {"journal", ReadError, Stops}, {"journal", WriteError, Stops},
    {"journal", Truncated, GoesOn}, {"journal", Damaged, GoesOn}, {"journal", Newer, GoesOn},
    {"kept documents", FolderMissing, Stops}, {"kept documents", FolderReadOnly, GoesOn},
    {"kept documents", FullAtWrite, Stops}, {"kept documents", FullAtRename, Stops},
    {"kept documents", WriteError, Stops},
    {"print spool", FolderMissing, Stops}, {"print spool", FolderReadOnly, Stops},
    {"print spool", FullAtWrite, Stops}, {"print spool", FullAtRename, Stops},
    {"print spool", WriteError, Stops},
    {"job file", OtherOwner, Stops}, {"job file", ReadError, Stops}, {"job file", Truncated, Stops},
    {"job file", Damaged, Stops},
    {"page file", OtherOwner, Stops}, {"page file", Truncated, Stops},
    {"page file", Damaged, Stops},
    {"run folder", FolderMissing, Stops}, {"run folder", FolderReadOnly, Stops},
    {"run folder", FullAtWrite, Stops}, {"run folder", FullAtRename, Stops},
    {"run folder", WriteError, Stops},
    {"fax document", OtherOwner, Stops}, {"fax document", ReadError, Stops},
    {"fax document", Truncated, Stops}, {"fax document", Damaged, Stops},
    {"image document", OtherOwner, Stops}, {"image document", ReadError, Stops},
    {"language file", OtherOwner, Stops}, {"language file", ReadError, Stops},
    {"language file", Truncated, GoesOn}, {"language file", Damaged, Stops},
    {"language file", Newer, GoesOn},
};
// clang-format on

std::vector<std::string> fiuFaults(Fault f) {
    auto each = [](std::initializer_list<const char*> calls, int error) {
        std::vector<std::string> out;
        for (const char* call : calls)
            out.push_back(std::string("enable name=posix/io/") + call +
                          ",failinfo=" + std::to_string(error));
        return out;
    };
    switch (f) {
        case ReadError:
            return each({"rw/read", "rw/pread", "rw/readv", "rw/preadv"}, EIO);
        case WriteError:
            return each({"rw/write", "rw/pwrite", "rw/writev", "rw/pwritev"}, EIO);
        case FullAtRename:
            return each({"dir/rename"}, ENOSPC);
        default:
            return {};
    }
}

void chownAll(const fs::path& path, uid_t uid, gid_t gid) {
    ::lchown(path.c_str(), uid, gid);
    std::error_code ec;
    if (fs::is_directory(path, ec))
        for (const auto& e : fs::recursive_directory_iterator(path, ec))
            ::lchown(e.path().c_str(), uid, gid);
}

std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        out.insert(e.path().filename().string());
    return out;
}

class FaultMatrix : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "the fault matrix needs root: it runs the stores as another user "
                            "and mounts small file systems";
        if (!haveFiu())
            GTEST_SKIP() << "fiu-run (Debian fiu-utils) is not installed";
    }

    // A full disk under `folder`: a tmpfs holding only what was there,
    // then filled. False when no file system can be mounted here.
    bool fillDisk(const fs::path& folder) {
        const fs::path saved = folder.string() + ".saved";
        fs::create_directories(folder);
        fs::rename(folder, saved);
        fs::create_directories(folder);
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k,mode=0755") != 0) {
            fs::remove(folder);
            fs::rename(saved, folder);
            return false;
        }
        mounts_.push_back(folder);
        fs::copy(saved, folder, fs::copy_options::recursive);
        std::ofstream fill(folder / ".fill", std::ios::binary);
        const std::string block(4096, 'x');
        while (fill.write(block.data(), block.size()) && fill.flush()) {
        }
        return true;
    }
    void TearDown() override {
        for (const auto& m : mounts_)
            ::umount2(m.c_str(), MNT_DETACH);
    }

    std::vector<fs::path> mounts_;
};

TEST_F(FaultMatrix, EveryStoreGoesOnOrStopsWithAMessageAndKeepsItsFiles) {
    int cells = 0;
    for (const Cell& cell : kMatrix) {
        const Store* store = nullptr;
        for (const Store& s : stores())
            if (std::string(s.name) == cell.store)
                store = &s;
        ASSERT_TRUE(store) << cell.store;
        const std::string what = std::string(cell.store) + " / " + faultName(cell.fault);
        SCOPED_TRACE(what);

        TempDir dir;
        fs::permissions(dir.path(), fs::perms(0755));
        const Layout l(dir.path());
        fs::create_directories(l.input);
        fs::create_directories(l.home);
        writeBytes(l.input / "letter.tif", server::test::faxDocument());
        fs::copy_file(fs::path(MIRAVO_BINARY_DIR) / "bin/lang.ini", l.input / "lang.ini");
        {
            QImage page(1700, 2200, QImage::Format_Grayscale8);
            page.fill(255);
            page.save(QString::fromStdString((l.input / "page.png").string()));
        }
        store->prepare(l);
        const fs::path folder = store->folder(l);
        const std::string fileName =
            *store->file ? firstNamed(folder, store->file).filename().string() : std::string();
        const fs::path file = fileName.empty() ? fs::path() : folder / fileName;
        chownAll(l.home, kNobody, kNoGroup);

        switch (cell.fault) {
            case FolderMissing:
                fs::remove_all(folder);
                fs::create_directories(folder.parent_path());
                writeBytes(folder, "a file where the folder belongs");
                break;
            case FolderReadOnly:
                fs::permissions(folder, fs::perms(0555));
                break;
            case FileReadOnly:
                fs::permissions(file, fs::perms(0444));
                break;
            case OtherOwner:
                ::chown(file.c_str(), 0, 0);
                fs::permissions(file, fs::perms(0600));
                break;
            case FullAtWrite:
                if (!fillDisk(folder)) {
                    std::printf("[ SKIPPED  ] %s: no tmpfs can be mounted here\n", what.c_str());
                    continue;
                }
                chownAll(folder, kNobody, kNoGroup);
                break;
            case Truncated: {
                const std::string bytes = readBytes(file);
                writeBytes(file, bytes.substr(0, bytes.size() / 2));
                break;
            }
            case Damaged:
                writeBytes(file, std::string(512, '\x9d') + "\x01\x02 not what it should be");
                break;
            case Newer:
                store->makeNewer(file);
                break;
            default:
                break;
        }
        const std::string before = file.empty() ? std::string() : readBytes(file);
        const std::set<std::string> namesBefore = names(folder);

        RunOptions options;
        options.asNobody = true;
        options.faults = fiuFaults(cell.fault);
        if (!options.faults.empty() && !faultLibraryFits()) {
            std::printf("%-16s %-22s -> left out beside the address sanitizer\n", cell.store,
                        faultName(cell.fault));
            continue;
        }
        options.environment = {{"HOME", l.home.string()},
                               {"XDG_CONFIG_HOME", (l.home / "config").string()},
                               {"XDG_DATA_HOME", (l.home / "data").string()},
                               {"XDG_CACHE_HOME", (l.home / "cache").string()},
                               {"XDG_RUNTIME_DIR", l.spool.string()}};
        const RunResult run = RunProgram(store->command(l), options);
        ++cells;
        std::string said = run.output;
        std::replace(said.begin(), said.end(), '\n', ' ');
        std::printf("%-16s %-22s -> %d %s\n", cell.store, faultName(cell.fault), run.status,
                    said.substr(0, 150).c_str());

        EXPECT_FALSE(run.timedOut) << run.output;
        EXPECT_LT(run.status, 10) << "crashed or killed: " << run.output;
        EXPECT_EQ(run.status == 0, cell.outcome == GoesOn) << run.output;
        if (run.status != 0) {
            EXPECT_NE(run.output.find_first_not_of(" \n"), std::string::npos)
                << "stopped without a word";
        }
        EXPECT_FALSE(holdsLibraryNoise(run.output)) << run.output;
        // A file that could not be read is told as such, not as a file of
        // the wrong kind.
        const bool program = store->command(l).front().find("probe") == std::string::npos;
        if (program && run.status != 0 && (cell.fault == OtherOwner || cell.fault == ReadError)) {
            bool named = false;
            for (const char* reason : {"Permission denied", "Input/output error", "cannot be read",
                                       "unreadable", "cannot be opened"})
                named = named || run.output.find(reason) != std::string::npos;
            EXPECT_TRUE(named) << "the reason is not named: " << run.output;
        }

        // Nothing half-written: every file in the folder is an old one, one
        // the store may add, or the store's file.
        for (const std::string& name : names(folder)) {
            if (namesBefore.count(name) || name == ".fill")
                continue;
            bool allowed = name == fileName;
            for (const std::string& prefix : store->mayAppear)
                allowed = allowed || name.rfind(prefix, 0) == 0;
            if (run.status == 0 &&
                (!*store->file || std::string(cell.store).find("file") != std::string::npos))
                allowed = true;  // a store that adds files of its own when it goes on
            EXPECT_TRUE(allowed) << "left behind: " << name << "\n" << run.output;
        }
        // The store's own file: the old version when the store stopped; when
        // it went on and wrote, the new one, keeping what a newer release added.
        if (!file.empty() && fs::exists(file) && run.status != 0) {
            EXPECT_EQ(readBytes(file), before) << "the file changed though the store stopped";
        }
        if (cell.fault == Newer && run.status == 0) {
            const std::string after = readBytes(file);
            if (fileName == "app_config.ini") {
                EXPECT_NE(fromUtf16le(after).find(u"FUTURE_OPTION=kept"), std::u16string::npos);
            }
            if (fileName == "journal.sqlite") {
                EXPECT_EQ(
                    RunProgram(probe({"journal", "read", file.string()})).output.rfind("ok 2", 0),
                    0u);
            }
        }
        for (const auto& m : mounts_)
            ::umount2(m.c_str(), MNT_DETACH);
        mounts_.clear();
    }
    EXPECT_GT(cells, faultLibraryFits() ? 40 : 20);
}

}  // namespace
}  // namespace miravo::test
