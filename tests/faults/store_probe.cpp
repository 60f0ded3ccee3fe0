// miravo-store-probe STORE read|write PATH [DOCUMENT]
//
// Runs one store of the program, as the program runs it, on PATH and says
// in one line how it went: "ok ..." (exit 0), or "told ..." (exit 1) when
// the store reported a problem. The fault tests run it under injected
// faults, as another user, or on a full disk, and then judge the files it
// left. Stores without a program of their own to drive them are reached
// through here; the spool, the job and page files and the conversion run
// are tried through miravo-print and miravo-send themselves.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/AppState.h"
#include "app/FileBytes.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/SettingsStore.h"
#include "app/Text.h"
#include "contacts/ContactStore.h"
#include "convert/FaxTiff.h"
#include "journal/Journal.h"
#include "journal/SentDocuments.h"
#include "service/Transport.h"

namespace fs = std::filesystem;
using namespace miravo;

namespace {

int says(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok" : "told", what.c_str());
    return ok ? 0 : 1;
}

JournalSend aSend() {
    JournalSend send;
    send.sentAt = JournalNow();
    send.title = u"new";
    send.pages = 1;
    send.faxId = u"F1";
    send.destinations.push_back({u"+4930111", u"", u"", u"", 0, false, 0, u"F1", true});
    return send;
}

// The settings file in the folder PATH.
int settings(bool write, const fs::path& folder) {
    AppState state;
    AppPaths paths;
    paths.state = &state;
    SettingsLocation location;
    location.moduleFolder = fromUtf8(std::string(MIRAVO_BINARY_DIR) + "/bin/");
    location.appDataFolder = folder;
    LoadSettings(paths, state, location);
    if (!write)
        return says(true, "user=" + toUtf8(state.settings.userName));
    state.settings.userName = u"new";
    const bool saved = SaveSettings(paths);
    return says(saved, saved ? "saved" : "not saved");
}

int contacts(bool write, const fs::path& file) {
    ContactBook book;
    const ContactFileRead read = LoadContactBook(book, file);
    const char* names[] = {"loaded", "missing", "unreadable", "damaged"};
    const std::string state =
        std::string(names[static_cast<int>(read)]) + " " + std::to_string(book.contacts.size());
    if (!write)
        return says(read == ContactFileRead::Loaded || read == ContactFileRead::Missing, state);
    if (read == ContactFileRead::Unreadable)
        return says(false, state + ", not saved over");
    book.contacts.push_back(Contact::entry(u"9", u"new", u"+4930999", u""));
    fs::path aside;
    const bool saved = SaveContactBook(book, file, &aside);
    return says(saved, state + (saved ? ", saved" : ", not saved") +
                           (aside.empty() ? "" : ", kept aside as " + aside.string()));
}

int journal(bool write, const fs::path& file) {
    Journal journal(file);
    const std::string moved =
        journal.movedAside().empty() ? "" : " (" + JournalMovedNotice(journal.movedAside()) + ")";
    if (!journal.isOpen())
        return says(false, "the journal cannot be opened" + moved);
    if (!write)
        return says(true, std::to_string(journal.find({}).size()) + " sends" + moved);
    const bool recorded = journal.recordTransfer(aSend()) > 0;
    return says(recorded, (recorded ? "recorded" : "not recorded") + moved);
}

// The kept copy of DOCUMENT, in the journal's folder's "sent".
int kept(const fs::path& journalFile, const fs::path& document) {
    Journal journal(journalFile);
    const std::int64_t id = journal.recordTransfer(aSend());
    if (id <= 0)
        return says(false, "no record to keep it for");
    const KeepResult result = KeepSentDocument(journal, id, document, u"cover");
    return says(result.kept, result.kept ? "kept" : result.error);
}

int document(const fs::path& file) {
    const int pages = CountTiffPages(file);
    if (pages < 1) {
        const std::string problem = FileReadProblem(file);
        return says(false, problem.empty() ? "not a fax document" : "cannot be read: " + problem);
    }
    const JoinResult joined = JoinFaxTiffs({file}, file.string() + ".joined.tif");
    fs::remove(file.string() + ".joined.tif");
    return says(joined.ok, joined.ok ? std::to_string(pages) + " pages" : joined.error);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4)
        return 2;
    const std::string store = argv[1];
    const bool write = std::strcmp(argv[2], "write") == 0;
    const fs::path path = argv[3];
    if (store == "settings")
        return settings(write, path);
    if (store == "contacts")
        return contacts(write, path);
    if (store == "answer")
        return says(StoreAnswer("<API_RESULT><CODE>new</CODE></API_RESULT>"), "stored");
    if (store == "journal")
        return journal(write, path);
    if (store == "kept" && argc > 4)
        return kept(path, argv[4]);
    if (store == "document")
        return document(path);
    if (store == "language") {
        LanguageTable table;
        return says(LoadLanguage(table, FromFsPath(path), u"en") == 1, "language");
    }
    return 2;
}
