#include "cli/Send.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/DocumentKind.h"
#include "app/FileBytes.h"
#include "app/KeyringStore.h"
#include "app/PasswordPlace.h"
#include "app/Paths.h"
#include "app/SettingsStore.h"
#include "app/Startup.h"
#include "app/Text.h"
#include "convert/ConversionRun.h"
#include "convert/JobFile.h"
#include "app/DocumentProblem.h"
#include "printmon/DocumentConversion.h"
#include "convert/FaxPages.h"
#include "printmon/PasswordHandOver.h"
#include "app/NumberCheck.h"
#include "contacts/CsvImport.h"
#include "contacts/MassFaxList.h"
#include "journal/SendJournal.h"
#include "service/SendOutcome.h"
#include "service/ServiceTexts.h"
#include "app/TextIds.h"
#include "app/ControlIds.h"

namespace miravo::cli {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCoverTextWidth = 6000;
constexpr int kMaxUnusablePolls = 5;


// Prints the status window's labels as they change: each row of the window
// once per new value, headed by its language text.
class PrintingReport : public WorkerReport {
  public:
    PrintingReport(const AppState& state, std::FILE* out, const std::atomic<bool>* stop)
        : state_(state), out_(out), stop_(stop) {}

    void setTitle(const std::u16string&) override {}
    void setLabel(int id, const std::u16string& text) override {
        if (shown_[id] == text && seen_.count(id))
            return;
        shown_[id] = text;
        seen_.insert(id);
        // Rows and the total are printed per destination as each finishes,
        // and once at the end.
        if ((id >= controlid::kLabelRecipient && id < controlid::kLabelRecipient + kStatusRows) ||
            (id >= controlid::kLabelStatus && id < controlid::kLabelStatus + kStatusRows) ||
            id == controlid::kLabelTotalCost)
            return;
        int heading = 0;
        switch (id) {
            case controlid::kLabelAuthentication:
                heading = 28;
                break;
            case controlid::kLabelTransfer:
                heading = 27;
                break;
            case controlid::kLabelFaxId:
                heading = 29;
                break;
            case controlid::kLabelPages:
                heading = 30;
                break;
            case controlid::kLabelPrebilling:
                heading = 31;
                break;
            case controlid::kLabelTotalCost:
                heading = 34;
                break;
            default:
                break;
        }
        // The fax ids, pages and the estimate change with every batch of a
        // long list: printed once, when the sending is over.
        if (id == controlid::kLabelFaxId || id == controlid::kLabelPages ||
            id == controlid::kLabelPrebilling) {
            held_[id] = {heading, text};
            return;
        }
        if (id == controlid::kStatusLine && text != GetText(state_.language, text::kSending))
            flush();
        // The verdict row speaks of the numbers too: credentials that were
        // taken are not to read as refused.
        const SendState& send = state_.job.send;
        if (id == controlid::kLabelAuthentication && send.authenticated && !send.validated &&
            text == GetText(state_.language, text::kFailed)) {
            std::fprintf(out_, "%s %s (%s)\n", toUtf8(GetText(state_.language, heading)).c_str(),
                         toUtf8(GetText(state_.language, text::kOk)).c_str(),
                         "the service finds some numbers invalid");
            std::fflush(out_);
            return;
        }
        if (id == controlid::kLabelAuthentication && !text.empty() && text.front() == u'#') {
            // A service error, whichever step it came from.
            flush();
            std::fprintf(out_, "%s\n", toUtf8(text).c_str());
        } else if (heading != 0) {
            std::fprintf(out_, "%s %s\n", toUtf8(GetText(state_.language, heading)).c_str(),
                         toUtf8(text).c_str());
        } else if (!text.empty()) {
            std::fprintf(out_, "%s\n", toUtf8(text).c_str());
        }
        std::fflush(out_);
    }
    // Prints what was held back: fax ids, pages (saying what they count)
    // and the estimated cost.
    void flush() {
        for (auto& [id, line] : held_) {
            if (line.second.empty())
                continue;
            std::fprintf(out_, "%s %s\n", toUtf8(GetText(state_.language, line.first)).c_str(),
                         toUtf8(line.second).c_str());
            line.second.clear();
        }
        std::fflush(out_);
    }
    void beginProgress(int) override {}
    void stepProgress() override {}
    void setPolling(bool) override {}
    void enableClose() override {}
    void close(int) override { closed_ = true; }
    bool isOpen() const override { return !closed_ && !(stop_ && *stop_); }

  private:
    const AppState& state_;
    std::FILE* out_;
    const std::atomic<bool>* stop_;
    std::map<int, std::u16string> shown_;
    std::set<int> seen_;
    std::map<int, std::pair<int, std::u16string>> held_;
    std::atomic<bool> closed_{false};
};

// One line from the terminal (or whatever standard input is); `echo`
// false hides what is typed.
bool readLine(std::string& line, bool echo) {
    termios saved{};
    const bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal && !echo) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    line.clear();
    bool got = false;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got = true;
        if (c == '\n')
            break;
        if (c != '\r')
            line.push_back(c);
    }
    if (terminal && !echo)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    return got;
}

// Asks on the terminal: the user name shown as typed, the password not.
class TerminalPrompt : public CredentialsPrompt {
  public:
    TerminalPrompt(bool interactive, std::FILE* err) : interactive_(interactive), err_(err) {}

    bool ask(AppState& state) override {
        if (!interactive_) {
            // Refused credentials are told once the send has ended.
            if (state.settings.userName.empty() || state.settings.password.empty())
                std::fprintf(err_,
                             "miravo-send: the service needs a user name and password: set "
                             "USER_NAME and USER_PASS in the settings file\n");
            return false;
        }
        std::fprintf(err_, "%s ", toUtf8(GetText(state.language, text::kUserName)).c_str());
        std::fflush(err_);
        std::string user;
        if (!readLine(user, true))
            return false;
        std::fprintf(err_, "%s ", toUtf8(GetText(state.language, text::kPassword)).c_str());
        std::fflush(err_);
        std::string password;
        const bool read = readLine(password, false);
        std::fputc('\n', err_);
        if (!read)
            return false;
        if (!user.empty())
            state.settings.userName = fromUtf8(user);
        state.settings.password = fromUtf8(password);
        return true;
    }

  private:
    bool interactive_;
    std::FILE* err_;
};

// The first line of the file `path` (the password of a protected PDF);
// false when it cannot be read.
bool readPasswordFile(const std::string& path, std::string& password) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    char buffer[print::kMaxPasswordBytes + 2];
    const std::ptrdiff_t got = ReadFully(fd, buffer, sizeof buffer);
    ::close(fd);
    if (got < 0)
        return false;
    password.assign(buffer, static_cast<std::size_t>(got));
    ::explicit_bzero(buffer, sizeof buffer);
    password.resize(std::min(password.find('\n'), password.size()));
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return true;
}

// A PDF, PostScript document or image made into the fax document as the
// desktop program makes it; a protected PDF is opened with the password of
// `passwordFile`, else with one asked for on the terminal.
print::DocumentConversion convertDocument(AppState& state, const fs::path& document,
                                          const fs::path& folder, const std::string& passwordFile,
                                          bool interactive, std::FILE* err) {
    const std::u16string name = FromFsPath(document.filename());
    std::string password;
    if (!passwordFile.empty() && !readPasswordFile(passwordFile, password)) {
        print::DocumentConversion unread;
        unread.problem = DocumentProblem::Unreadable;
        std::fprintf(err, "miravo-send: %s\n",
                     toUtf8(GetText(state.language, text::kDocumentUnreadable,
                                    FromFsPath(fs::path(passwordFile).filename())))
                         .c_str());
        return unread;
    }
    SilentWorkerReport report;
    ConversionControl control;
    control.documentBase = FromFsPath(folder / "tosend");
    print::DocumentConversion converted;
    // Three tries on the terminal, as a login gives.
    for (int asked = 0;; ++asked) {
        converted = print::ConvertDocument(state, document, password, report, control,
                                           folder / "spool");
        if (!IsPasswordProblem(converted.problem) || !passwordFile.empty() || !interactive ||
            asked == 3)
            break;
        if (converted.problem == DocumentProblem::WrongPassword)
            std::fprintf(err, "%s\n",
                         toUtf8(GetText(state.language, text::kPasswordDoesNotOpen, name)).c_str());
        std::fprintf(err, "%s ",
                     toUtf8(GetText(state.language, text::kPasswordPrompt, name)).c_str());
        std::fflush(err);
        const bool typed = readLine(password, false);
        if (!typed)
            break;
    }
    print::WipeSecret(password);
    return converted;
}

// Makes the fax document in `folder`: its path, or empty with a message.
std::u16string makeDocument(AppPaths& paths, AppState& state, const SendArguments& arguments,
                            const std::string& input, bool interactive, const fs::path& folder,
                            std::FILE* err) {
    const LanguageTable& language = state.language;
    // The user hears of the document by the name they know it by.
    const std::u16string name = FromFsPath(fs::path(input).filename());
    auto tell = [&](DocumentProblem problem, int failedPage = 0) {
        std::fprintf(err, "miravo-send: %s\n",
                     toUtf8(DocumentProblemText(language, problem, name, failedPage)).c_str());
    };
    // What went wrong in a few words of its own, below the message.
    auto detail = [&](const std::string& words) {
        if (!words.empty())
            std::fprintf(err, "%s\n",
                         toUtf8(GetText(language, text::kProblemDetails, fromUtf8(words))).c_str());
    };
    std::error_code ec;
    const fs::path absolute = fs::absolute(input, ec);
    if (ec || !fs::is_regular_file(absolute, ec)) {
        tell(DocumentProblem::Unreadable);
        return {};
    }
    // What the file holds decides, not its name: the desktop program
    // sends PDF, PostScript, PNG, JPEG and TIFF alike.
    const DocumentKind kind = SniffDocumentFile(absolute.c_str());
    // A TIFF goes the way of every image: each of its pages placed on the
    // fax page at its size (a fax page of standard resolution made fine).
    if (kind == DocumentKind::Pdf || kind == DocumentKind::PostScript ||
        kind == DocumentKind::Image || kind == DocumentKind::Tiff) {
        const print::DocumentConversion converted =
            convertDocument(state, absolute, folder, arguments.passwordFile, interactive, err);
        if (converted.problem != DocumentProblem::None || !converted.printed.ok) {
            if (converted.problem != DocumentProblem::Cancelled)
                tell(converted.problem == DocumentProblem::None ? DocumentProblem::Damaged
                                                                : converted.problem,
                     converted.failedPage);
            return {};
        }
        // The job is used up: its page files and job file go; the document stays.
        print::RemovePrintJob(converted.printed);
        return state.job.documentPath;
    }
    const std::u16string job = FromFsPath(absolute);
    if (!CheckJobFile(job)) {
        // A file that cannot be read is no file of the wrong kind.
        if (const std::string problem = FileReadProblem(ToFsPath(job)); !problem.empty()) {
            tell(DocumentProblem::Unreadable);
            detail(problem);
        } else {
            tell(DocumentProblem::UnknownKind);
        }
        return {};
    }
    state.job.jobFilePath = job;
    state.job.jobArgument = job;
    SilentWorkerReport report;
    ConversionControl control;
    control.documentBase = FromFsPath(folder / "tosend");
    const ConversionSummary summary = RunConversion(paths, report, control);
    if (!summary.documentWritten || summary.failedFiles > 0) {
        tell(DocumentProblem::Damaged);
        detail(summary.error);
        return {};
    }
    // The job is used up: its page files and job file go, as at the program's exit.
    AppState done;
    done.job.pageBaseName = state.job.pageBaseName;
    done.job.pageBaseRecorded = state.job.pageBaseRecorded;
    done.job.pageFiles = state.job.pageFiles;
    done.job.pageFileCount = state.job.pageFileCount;
    DeleteTemporaryFiles(done, job);
    return state.job.documentPath;
}

// Makes the one fax document of every document named, in order, each
// converted in a folder of its own; its path, or empty with a message.
// The page limit holds for the whole fax.
std::u16string makeFax(AppPaths& paths, AppState& state, const SendArguments& arguments,
                       bool interactive, const fs::path& folder, std::FILE* out, std::FILE* err) {
    std::vector<std::string> inputs{arguments.input};
    inputs.insert(inputs.end(), arguments.moreInputs.begin(), arguments.moreInputs.end());
    FaxPages fax(state.settings.maxPages);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const fs::path own = inputs.size() == 1 ? folder : folder / std::to_string(i + 1);
        std::error_code ec;
        fs::create_directory(own, ec);
        state.job.documentPath.clear();
        const std::u16string document =
            makeDocument(paths, state, arguments, inputs[i], interactive, own, err);
        if (document.empty())
            return {};
        const long pages = PageCountFromName(document);
        std::fprintf(out, "document: %s (%ld pages)\n", inputs[i].c_str(), pages);
        const AddOutcome added = fax.add({FromFsPath(fs::path(inputs[i]).filename()),
                                          ToFsPath(document), static_cast<int>(pages)});
        if (added == AddOutcome::TooManyPages) {
            std::fprintf(err, "miravo-send: %s\n",
                         toUtf8(GetText(state.language, text::kFaxPagesRefused,
                                        FromFsPath(fs::path(inputs[i]).filename()),
                                        static_cast<long long>(fax.pagesWith(pages)),
                                        static_cast<long long>(fax.maxPages())))
                             .c_str());
            return {};
        }
        if (added != AddOutcome::Added) {
            std::fprintf(err, "miravo-send: %s\n",
                         toUtf8(DocumentProblemText(state.language, DocumentProblem::Damaged,
                                                    FromFsPath(fs::path(inputs[i]).filename()), 0))
                             .c_str());
            return {};
        }
        if (inputs.size() == 1)
            return document;
    }
    const std::u16string document =
        DocumentName(FromFsPath(folder / "fax"), static_cast<std::int32_t>(fax.pageCount()));
    const JoinResult made = fax.compose(ToFsPath(document));
    if (!made.ok) {
        std::fprintf(err, "miravo-send: the documents cannot be put into one fax: %s\n",
                     made.error.c_str());
        return {};
    }
    std::fprintf(out, "fax: %d documents (%d pages)\n", static_cast<int>(inputs.size()),
                 fax.pageCount());
    return document;
}

// A whole decimal number from `least` to `most`.
bool readCount(const std::string& text, long least, long most, int& out) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long n = parseDecimal(text);
    if (n < least || n > most)
        return false;
    out = static_cast<int>(n);
    return true;
}

// Prints each destination once, as it reaches its final status, and
// passes everything on to the journal.
class PrintingRecorder : public SendRecorder {
  public:
    PrintingRecorder(SendRecorder& journal, PrintingReport& report, std::FILE* out)
        : journal_(journal), report_(report), out_(out) {}

    void batchSent(const AppState& state, const SendProgress& progress,
                   std::size_t index) override {
        journal_.batchSent(state, progress, index);
    }
    void statusAnswered(const AppState& state, const SendProgress& progress,
                        std::size_t index) override {
        journal_.statusAnswered(state, progress, index);
        report_.flush();  // the fax ids and the estimate come first
        const Batch& range = progress.batches[index].range;
        printed_.resize(progress.destinations.size(), false);
        const std::u16string currency = GetText(state.language, text::kCurrency);
        for (std::size_t i = range.first; i < range.first + range.count; ++i) {
            const DestinationStatus& d = progress.destinations[i];
            if (printed_[i] || d.status.empty())
                continue;
            printed_[i] = true;
            std::fprintf(out_, "  %s: %s %s\n", toUtf8(d.recipient).c_str(),
                         toUtf8(StatusWithCode(FaxStatusText(state.language, d.status), d.status))
                             .c_str(),
                         toUtf8(MoneyText(DecimalValue(d.cost), currency)).c_str());
        }
        std::fflush(out_);
    }
    void sendEnded(const AppState& state, const SendProgress& progress) override {
        journal_.sendEnded(state, progress);
    }

  private:
    SendRecorder& journal_;
    PrintingReport& report_;
    std::FILE* out_;
    std::vector<bool> printed_;
};

// The end of the send: the destinations never sent or still under way,
// then one line of counts and the total cost.
void printSummary(const AppState& state, const SendSummary& summary, std::FILE* out) {
    if (summary.destinations.empty())
        return;
    const LanguageTable& language = state.language;
    std::size_t ok = 0, failed = 0, underWay = 0, notSent = 0;
    for (const DestinationStatus& d : summary.destinations) {
        if (d.notSent) {
            ++notSent;
            std::fprintf(out, "  %s: %s\n", toUtf8(d.recipient).c_str(),
                         toUtf8(GetText(language, text::kDestinationNotSent)).c_str());
        } else if (d.status.empty()) {
            ++underWay;
            std::fprintf(out, "  %s: %s\n", toUtf8(d.recipient).c_str(),
                         toUtf8(FaxStatusText(language, u"")).c_str());
        } else if (d.status == u"OK") {
            ++ok;
        } else {
            ++failed;
        }
    }
    std::string counts = toUtf8(GetText(language, text::kDeliveredCount, static_cast<int>(ok))) +
                         ", " +
                         toUtf8(GetText(language, text::kFailedCount, static_cast<int>(failed)));
    if (underWay > 0)
        counts += ", " + toUtf8(GetText(language, text::kUnderWayCount, static_cast<int>(underWay)));
    if (notSent > 0)
        counts += ", " + toUtf8(GetText(language, text::kNotSentCount, static_cast<int>(notSent)));
    std::fprintf(out, "%s: %zu (%s)\n", toUtf8(GetText(language, text::kDestination)).c_str(),
                 summary.destinations.size(), counts.c_str());
    // A total only once the service has said what became of a destination.
    if (ok + failed > 0)
        std::fprintf(out, "%s %s\n", toUtf8(GetText(language, text::kTotalCostHeading)).c_str(),
                     toUtf8(MoneyText(summary.totalCost, GetText(language, text::kCurrency)))
                         .c_str());
    // The last line: the outcome in the words of the status window.
    const OutcomeCounts outcome = CountOutcome(summary.destinations);
    if (outcome.final() && !summary.faxIds.empty())
        std::fprintf(out, "%s\n", toUtf8(OutcomeText(language, outcome)).c_str());
}

}  // namespace

bool ParseSendArguments(const std::vector<std::string>& args, SendArguments& out,
                        std::string& error) {
    CommandLine line("miravo-send");
    CLI::App& app = line.app;
    std::vector<std::string> to, documents;
    std::string cover, retries, timeout;
    app.add_option("--settings", out.settingsFile);
    // Each --to is one destination, in the order given.
    app.add_option("--to", to)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--cover", cover);
    app.add_option("--retries", retries);
    app.add_option("--timeout", timeout);
    app.add_option("--list", out.listFile);
    app.add_option("--column", out.column);
    app.add_flag("--strict", out.strict);
    app.add_option("--report", out.report);
    app.add_option("--password-file", out.passwordFile);
    app.add_option("document", documents)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    if (!line.parse(args, error))
        return false;

    for (const std::string& v : to) {
        const auto colon = v.find(':');
        Destination d{fromUtf8(v.substr(0, colon)),
                      colon == std::string::npos ? std::u16string() : fromUtf8(v.substr(colon + 1))};
        if (d.number.empty()) {
            error = "--to needs a number";
            return false;
        }
        d.number = fitField(d.number, kNameWidth);
        d.name = fitField(d.name, kNameWidth);
        out.to.push_back(std::move(d));
    }
    if (app.count("--cover") > 0)
        out.cover = fitField(fromUtf8(cover), kCoverTextWidth);
    if (app.count("--retries") > 0 && !readCount(retries, 0, 1000, out.retries)) {
        error = "--retries takes a number from 0 to 1000";
        return false;
    }
    if (app.count("--timeout") > 0 && !readCount(timeout, 1, 86400, out.timeoutSeconds)) {
        error = "--timeout takes a number of seconds from 1 to 86400";
        return false;
    }
    if (app.count("--column") > 0 && out.column.empty()) {
        error = "--column needs a column name or number";
        return false;
    }
    if (app.count("--report") > 0 && out.report != "yes" && out.report != "no" &&
        out.report != "none") {
        error = "--report takes yes, no or none";
        return false;
    }
    // What `out` holds already counts: a document there is the one to send.
    if (!documents.empty() && !out.input.empty()) {
        error = "only one document can be sent at a time";
        return false;
    }
    if (!documents.empty()) {
        out.input = documents.front();
        out.moreInputs.assign(documents.begin() + 1, documents.end());
    }
    if (out.to.empty() && out.listFile.empty()) {
        error = "at least one --to NUMBER or a --list FILE is needed";
        return false;
    }
    if (!out.column.empty() && out.listFile.empty()) {
        error = "--column needs a --list FILE";
        return false;
    }
    if (out.input.empty()) {
        error = "the document to send is missing";
        return false;
    }
    return true;
}

bool ReadNumberList(const std::string& file, const std::string& column, char16_t delimiter,
                    std::vector<std::u16string>& numbers, std::string& error) {
    const std::u16string pathText = fromUtf8(file);
    const MassFaxFile read = ReadMassFaxFile(fs::path(file), pathText);
    MassFaxList list;
    switch (read.kind) {
        case MassFaxFile::Kind::Unreadable:
            error = file + " cannot be read";
            return false;
        case MassFaxFile::Kind::Unsupported:
            error = file + ": " + toUtf8(kUnsupportedFileFormat);
            return false;
        case MassFaxFile::Kind::PlainList:
            if (!column.empty()) {
                error = "--column is for CSV lists; " + file + " is a plain list";
                return false;
            }
            list.addLines(read.text);
            break;
        case MassFaxFile::Kind::Csv: {
            const std::vector<std::u16string> header = SplitCsvHeader(read.text, delimiter);
            std::size_t field = 0;
            if (column.empty()) {
                field = 1;
            } else if (column.find_first_not_of("0123456789") == std::string::npos &&
                       column.size() <= 6) {
                field = static_cast<std::size_t>(parseDecimal(column));
            } else {
                for (std::size_t i = 0; i < header.size(); ++i) {
                    if (equalsIgnoreAsciiCase(header[i], fromUtf8(column)))
                        field = i + 1;
                }
            }
            if (field == 0 || field > header.size()) {
                error = "the CSV list " + file + " has no column " +
                        (column.empty() ? std::string("1") : column);
                return false;
            }
            list.addLines(CsvDataLines(read.text), field, delimiter);
            break;
        }
    }
    numbers = list.rows();
    return true;
}

int ExitStatusFor(const SendSummary& summary, const SendState& send) {
    // Nothing went out: the settings name a CA file that cannot be used.
    if (summary.last.caFileUnusable)
        return kExitCaFile;
    const Outcome transport = summary.last.transport;
    // The service was there but what came back cannot be read.
    const bool answeredBadly = summary.last.unusable && (transport == Outcome::Answer ||
                                                         transport == Outcome::HttpStatus ||
                                                         transport == Outcome::TooLong);
    const bool noAnswer =
        summary.last.requested && transport != Outcome::Answer && !answeredBadly;
    switch (summary.end) {
        case SendEnd::Finished: {
            if (summary.destinations.empty())
                return kExitServiceError;
            // An answer about another fax ended the polling: nothing is known.
            bool anyStatus = false;
            for (const DestinationStatus& d : summary.destinations)
                anyStatus = anyStatus || !d.status.empty();
            if (!anyStatus)
                return kExitServiceError;
            for (const DestinationStatus& d : summary.destinations) {
                if (d.status != u"OK")
                    return kExitDestinationsFailed;
            }
            return kExitOk;
        }
        case SendEnd::CredentialsCancelled:
            return noAnswer ? kExitUnreachable : kExitCredentials;
        case SendEnd::Stopped:
            return kExitInterrupted;
        case SendEnd::Refused:
            return kExitDocument;
        case SendEnd::Unreachable:
            return kExitUnreachable;
        case SendEnd::Failed:
            if (!summary.last.requested || summary.last.documentFault)
                return kExitDocument;
            if (noAnswer)
                return kExitUnreachable;
            return send.errorCode == 107 ? kExitCredentials : kExitServiceError;
    }
    return kExitServiceError;
}

namespace {

// Why the send ended with a service error, never worded "OK".
std::string serviceErrorText(const AppState& state, const SendSummary& summary) {
    const std::int32_t code = state.job.send.errorCode;
    if (summary.end == SendEnd::Finished)
        return "the service's status answer is about another fax";
    if (summary.last.unusable || summary.last.namesNoDestination || code == text::kNoUsableAnswer) {
        std::string text = "no usable answer came from the fax service";
        if (!summary.last.error.empty())
            text += ": " + summary.last.error;
        else if (summary.last.namesNoDestination)
            text += ": the status answer names no destination";
        return text;
    }
    if (code == 0)
        return "the service reported an error";
    return "the service reported an error (" + std::to_string(code) + ": " +
           toUtf8(ErrorText(state.language, code)) + ")";
}

}  // namespace

namespace {

PasswordStore& keyring() {
    static const std::unique_ptr<PasswordStore> store = MakeKeyringStore();
    return *store;
}

}  // namespace

void LoadSettingsFrom(const std::string& settingsFile, AppPaths& paths, AppState& state) {
    SettingsLocation location;
    if (!settingsFile.empty()) {
        std::error_code ec;
        const fs::path file = fs::absolute(settingsFile, ec);
        location.appDataFolder = file.parent_path();
        location.settingsFileName = FromFsPath(file.filename());
    }
    location.keepEncoding = true;
    LoadSettings(paths, state, location);
    LoadPassword(paths, keyring());
}

void SaveSettingsAndPassword(const AppPaths& paths, const AppSettings& loaded) {
    if (paths.state)
        StorePassword(paths.state->settings, keyring());
    SaveChangedSettings(paths, loaded);
}

int Send(const SendArguments& arguments, const SendControls& controls, std::FILE* out,
         std::FILE* err) {
    AppState state;
    AppPaths paths;
    LoadSettingsFrom(arguments.settingsFile, paths, state);
    // Settings that cannot be read would read as no service and no
    // credentials: the user hears of the file instead.
    if (const fs::path file = ToFsPath(paths.settingsPath); !file.empty()) {
        struct stat info {};
        if (::stat(file.c_str(), &info) == 0 || errno != ENOENT) {
            if (const std::string problem = FileReadProblem(file); !problem.empty()) {
                std::fprintf(err, "miravo-send: the settings file %s cannot be read: %s\n",
                             file.c_str(), problem.c_str());
                return kExitUsage;
            }
        }
    }
    // Without its language file the program still sends, with its texts left out.
    if (!state.language.loaded()) {
        const std::string problem = FileReadProblem(ToFsPath(paths.languageFile));
        std::fprintf(
            err, "miravo-send: the language file %s cannot be read%s%s; its texts are left out\n",
            toUtf8(paths.languageFile).c_str(), problem.empty() ? "" : ": ", problem.c_str());
    }

    const char* tmp = std::getenv("TMPDIR");
    // A folder of our own for the documents made on the way; removed at the end.
    const PrivateFolder folder(tmp && *tmp ? tmp : "/tmp", "miravosend");
    if (folder.path().empty()) {
        std::fprintf(err, "miravo-send: no temporary folder can be made\n");
        return kExitDocument;
    }
    const std::u16string document =
        makeFax(paths, state, arguments, controls.interactive, folder.path(), out, err);
    if (document.empty())
        return kExitDocument;
    state.job.documentPath = document;

    for (const Destination& d : arguments.to) {
        Recipient r;
        r.kind = Single;
        r.number = d.number;
        r.name = d.name;
        state.job.recipients.push_back(std::move(r));
    }
    if (!arguments.listFile.empty()) {
        state.job.fromList = true;
        std::vector<std::u16string> numbers;
        std::string error;
        if (!ReadNumberList(arguments.listFile, arguments.column,
                            DelimiterOf(state.settings.delimiter), numbers, error)) {
            std::fprintf(err, "miravo-send: %s\n", error.c_str());
            return kExitUsage;
        }
        for (std::u16string& n : numbers)
            state.job.recipients.push_back(Recipient::entry(u"0", u"", std::move(n), u""));
    }
    if (arguments.cover) {
        state.job.coverPageOn = true;
        state.job.coverText = *arguments.cover;
    }
    if (arguments.report == "yes") {
        state.settings.transmissionReport = true;
        state.settings.reportAttach = true;
    } else if (arguments.report == "no") {
        state.settings.transmissionReport = true;
        state.settings.reportAttach = false;
    } else if (arguments.report == "none") {
        state.settings.transmissionReport = false;
    }
    // Remembered in the sent-fax journal by the name of what was sent.
    SendJournal journal(arguments.title.empty() ? FromFsPath(fs::path(arguments.input).stem())
                                                : arguments.title);
    journal.setRepeats(arguments.repeats);
    // Every number checked before it costs money.
    {
        std::vector<std::u16string> numbers;
        for (const Recipient& r : state.job.recipients)
            numbers.push_back(r.number);
        const NumberListCheck check = CheckNumberList(numbers, state.settings.defaultRegion);
        if (check.invalidCount > 0) {
            std::size_t shown = 0;
            for (std::size_t i = 0; i < numbers.size() && shown < 20; ++i) {
                if (check.invalid[i]) {
                    ++shown;
                    std::fprintf(err, "miravo-send: %s cannot be a valid number (region %s)\n",
                                 toUtf8(numbers[i]).c_str(),
                                 toUtf8(state.settings.defaultRegion).c_str());
                }
            }
            if (check.invalidCount > shown)
                std::fprintf(err, "miravo-send: ... and %zu more invalid numbers\n",
                             check.invalidCount - shown);
            if (arguments.strict) {
                std::fprintf(err, "miravo-send: nothing sent: %zu invalid numbers (--strict)\n",
                             check.invalidCount);
                // Remembered with its document, to be sent again once corrected.
                journal.recordNotStarted(state, SendProgress::HeldBack::InvalidNumbers);
                return kExitUsage;
            }
        }
        if (check.duplicateCount > 0)
            std::fprintf(err, "miravo-send: %zu numbers repeat an earlier one and go out once\n",
                         check.duplicateCount);
    }

    // What the file said, with this run's own options applied.
    const AppSettings loaded = state.settings;
    PrintingReport report(state, out, controls.stop);
    TerminalPrompt prompt(controls.interactive, err);
    SendOptions options;
    options.timing.sleep = controls.sleep;
    options.maxHostRetries = arguments.retries;
    options.timing.exchangeDeadline = std::chrono::seconds(arguments.timeoutSeconds);
    options.waitForClose = false;
    // No window whose user could end a polling that learns nothing.
    options.maxUnusablePolls = kMaxUnusablePolls;
    PrintingRecorder printing(journal, report, out);
    options.recorder = &printing;
    state.job.statusWindowOpen = true;
    const SendSummary summary = RunSend(state, report, prompt, options);
    state.job.statusWindowOpen = false;
    report.flush();
    if (!journal.movedAside().empty())
        std::fprintf(err, "miravo-send: %s\n", JournalMovedNotice(journal.movedAside()).c_str());
    if (const std::string warning = journal.takeKeepWarning(); !warning.empty())
        std::fprintf(err, "miravo-send: the sent document could not be kept: %s\n",
                     warning.c_str());
    printSummary(state, summary, out);
    std::fflush(out);

    const int status = ExitStatusFor(summary, state.job.send);
    switch (status) {
        case kExitOk:
            break;
        case kExitUnreachable:
            std::fprintf(err, "miravo-send: the fax service cannot be reached%s%s\n",
                         summary.last.error.empty() ? "" : ": ", summary.last.error.c_str());
            break;
        case kExitCredentials:
            std::fprintf(err,
                         "miravo-send: the user name and password were refused by the service\n");
            break;
        case kExitServiceError:
            std::fprintf(err, "miravo-send: %s\n", serviceErrorText(state, summary).c_str());
            break;
        case kExitDestinationsFailed:
            std::fprintf(err, "miravo-send: not every destination received the fax\n");
            break;
        case kExitDocument:
            std::fprintf(err, "miravo-send: the document could not be sent%s%s\n",
                         summary.last.error.empty() ? "" : ": ", summary.last.error.c_str());
            break;
        case kExitInterrupted:
            std::fprintf(err, "miravo-send: stopped; the service goes on with the fax\n");
            break;
        case kExitCaFile:
            std::fprintf(err, "miravo-send: %s (CA_FILE in the settings); nothing was sent\n",
                         summary.last.error.c_str());
            break;
        default:
            break;
    }
    // Only what the run changed goes back (TIMEOUT doubled by the service's
    // back-off, credentials typed at the prompt, where the password is now
    // kept), in the file's encoding.
    SaveSettingsAndPassword(paths, loaded);
    return status;
}

}  // namespace miravo::cli
