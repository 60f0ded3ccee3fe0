#include "cli/JournalCommand.h"

#include <ctime>
#include <filesystem>

#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/Paths.h"
#include "app/SettingsStore.h"
#include "app/Text.h"
#include "cli/Send.h"
#include "journal/Journal.h"
#include "journal/JournalCsv.h"
#include "journal/JournalRefresh.h"
#include "journal/TransmissionReport.h"
#include "service/ServiceTexts.h"

namespace miravo::cli {

namespace fs = std::filesystem;

namespace {

constexpr int kTextCurrency = 32;

// "YYYY-MM-DD" as local midnight; false for anything else.
bool parseDay(const std::string& text, std::int64_t& out) {
    std::tm tm{};
    const char* end = strptime(text.c_str(), "%Y-%m-%d", &tm);
    if (!end || *end != '\0')
        return false;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return false;
    out = t;
    return true;
}

std::string localTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}

std::string statusWords(const LanguageTable& language, const std::u16string& code) {
    return toUtf8(StatusWithCode(FaxStatusText(language, code), code));
}

const char* KeptDocumentWords(KeptDocument document) {
    switch (document) {
        case KeptDocument::Kept:
            return "document kept";
        case KeptDocument::Removed:
            return "document removed";
        case KeptDocument::NotKept:
            return "document not kept";
        case KeptDocument::None:
            break;
    }
    return "no document";
}

void list(Journal& journal, const JournalArguments& arguments, const LanguageTable& language,
          std::FILE* out) {
    const std::vector<JournalSend> sends = journal.sends(journal.find({u"", arguments.since}));
    if (arguments.csv) {
        const std::string csv = JournalCsv(sends);
        std::fwrite(csv.data(), 1, csv.size(), out);
        return;
    }
    const std::string currency = toUtf8(GetText(language, kTextCurrency));
    for (const JournalSend& s : sends) {
        const JournalKeeping keeping = journal.keeping(s.id);
        std::fprintf(out, "#%lld  %s  %s  fax %s  %d page(s)%s  %.2f %s  [%s]\n",
                     static_cast<long long>(s.id), localTime(s.sentAt).c_str(),
                     toUtf8(s.title).c_str(), toUtf8(s.faxId).c_str(), s.pages,
                     s.cover ? " with the cover page" : "", s.totalCost, currency.c_str(),
                     KeptDocumentWords(keeping.document));
        if (!keeping.reason.empty())
            std::fprintf(out, "  not sent: %s\n", toUtf8(keeping.reason).c_str());
        if (keeping.repeats != 0)
            std::fprintf(out, "  repeats #%lld\n", static_cast<long long>(keeping.repeats));
        for (const JournalDestination& d : s.destinations) {
            std::fprintf(out, "  %s%s%s: %s %.2f %s\n", toUtf8(d.number).c_str(),
                         d.name.empty() ? "" : " ", toUtf8(d.name).c_str(),
                         toUtf8(StatusWithCode(ReportStatusText(language, d), d.statusCode))
                             .c_str(),
                         d.cost, currency.c_str());
        }
    }
}

int refresh(Journal& journal, const JournalArguments& arguments, std::FILE* out, std::FILE* err,
            const std::function<void(std::uint32_t)>& sleep) {
    AppState state;
    AppPaths paths;
    LoadSettingsFrom(arguments.settingsFile, paths, state);
    const AppSettings loaded = state.settings;
    SendTiming timing;
    timing.sleep = sleep;
    SilentWorkerReport progress;  // Ctrl-C simply ends the program: every write is whole
    const RefreshResult result =
        RefreshUnfinished(journal, state, progress, arguments.since, timing);
    for (const RefreshChange& c : result.changes) {
        std::fprintf(out, "fax %s %s%s%s: %s -> %s\n", toUtf8(c.faxId).c_str(),
                     toUtf8(c.number).c_str(), c.name.empty() ? "" : " ",
                     toUtf8(c.name).c_str(), statusWords(state.language, c.before).c_str(),
                     statusWords(state.language, c.after).c_str());
    }
    std::fprintf(out, "%d fax(es) asked about, %zu status(es) changed\n", result.asked,
                 result.changes.size());
    // TIMEOUT, doubled by the service's back-off, goes back as after a send.
    SaveSettingsAndPassword(paths, loaded);
    switch (result.end) {
        case RefreshEnd::Done:
            return kExitOk;
        case RefreshEnd::Stopped:
            return kExitInterrupted;
        case RefreshEnd::NoCredentials:
            std::fprintf(err, "miravo-send: set USER_NAME and USER_PASS in the settings file\n");
            return kExitCredentials;
        case RefreshEnd::CredentialsRefused:
            std::fprintf(err, "miravo-send: the service did not accept the credentials\n");
            return kExitCredentials;
        case RefreshEnd::Unreachable:
            std::fprintf(err, "miravo-send: the fax service cannot be reached\n");
            return kExitUnreachable;
    }
    return kExitOk;
}

}  // namespace

bool IsJournalCommand(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--journal" || a == "--refresh")
            return true;
    }
    return false;
}

bool ParseJournalArguments(const std::vector<std::string>& args, JournalArguments& out,
                           std::string& error) {
    CommandLine line("miravo-send");
    CLI::App& app = line.app;
    std::string since;
    app.add_flag("--journal", out.list);
    app.add_flag("--refresh", out.refresh);
    app.add_flag("--csv", out.csv);
    app.add_option("--since", since);
    app.add_option("--settings", out.settingsFile);
    if (!line.parse(args, error))
        return false;
    if (app.count("--since") > 0 && !parseDay(since, out.since)) {
        error = "--since takes a date YYYY-MM-DD";
        return false;
    }
    if (out.list == out.refresh) {
        error = "give either --journal or --refresh";
        return false;
    }
    if (out.csv && !out.list) {
        error = "--csv goes with --journal";
        return false;
    }
    return true;
}

int RunJournalCommand(const JournalArguments& arguments, std::FILE* out, std::FILE* err,
                      const std::function<void(std::uint32_t)>& sleep) {
    Journal journal;
    if (!journal.movedAside().empty())
        std::fprintf(err, "miravo-send: %s\n", JournalMovedNotice(journal.movedAside()).c_str());
    if (!journal.isOpen()) {
        std::fprintf(err, "miravo-send: the sent-fax journal %s cannot be opened\n",
                     journal.path().c_str());
        return kExitDocument;
    }
    if (arguments.refresh)
        return refresh(journal, arguments, out, err, sleep);
    AppState state;
    AppPaths paths;
    LoadSettingsFrom(arguments.settingsFile, paths, state);
    list(journal, arguments, state.language, out);
    return kExitOk;
}

}  // namespace miravo::cli
