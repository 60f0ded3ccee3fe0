#include "service/FaxTransmission.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <filesystem>
#include <limits>
#include <thread>
#include <unordered_set>

#include "app/LanguageTable.h"
#include "app/NumberCheck.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "convert/JobFile.h"
#include "service/ResultReader.h"
#include "service/SendOutcome.h"
#include "service/ServiceTexts.h"
#include "service/StatusPolling.h"
#include "app/TextIds.h"
#include "app/ControlIds.h"

namespace miravo {

namespace {

constexpr std::size_t kErrorWidth = 1024;
// "A field of the request holds an invalid value.": shown when a request
// is not sent because a value would break the form.

void addCredentials(FaxForm& form, const AppState& state, std::string_view action) {
    form.add("action", action);
    form.add("username", ToAnsi(state.settings.userName));
    form.add("password", ToAnsi(state.settings.password));
}

std::string pageCountText(const AppState& state) {
    return std::to_string(PageCountFromName(state.job.documentPath));
}

// Why the document cannot be sent from here; empty when it can be read.
std::string documentProblem(const std::u16string& path) {
    const int fd = ::open(ToFsPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return "the document " + toUtf8(path) + " cannot be read: " + std::strerror(errno);
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular ? std::string() : "the document " + toUtf8(path) + " is not a regular file";
}

// One answer, read by element path.
class AnswerValues {
  public:
    explicit AnswerValues(const ApiAnswer* answer) : answer_(answer) {}
    std::u16string get(std::u16string_view path, std::size_t width = kNameWidth) const {
        std::u16string out;
        if (answer_)
            answer_->value(path, out, width, 0);
        return out;
    }

  private:
    const ApiAnswer* answer_;
};

// The authentication verdicts, read from an authentication or transfer answer.
bool readAuthentication(AppState& state, WorkerReport& report, const AnswerValues& values) {
    SendState& send = state.job.send;
    const std::u16string verdict = values.get(u"API_RESULT/AUTHENTICATION/RESULT", kErrorWidth);
    send.authenticated = !verdict.empty() && parseDecimal(verdict) == 0;
    send.errorCode = send.authenticated ? 0 : 107;
    send.validated = parseDecimal(values.get(u"API_RESULT/VALIDATION/RESULT", kErrorWidth)) == 0;
    // This line speaks of the credentials; refused numbers are told on the
    // transfer's line.
    if (report.isOpen())
        report.setLabel(controlid::kLabelAuthentication,
                        GetText(state.language, send.authenticated ? text::kOk : text::kFailed));
    return send.errorCode == 0;
}

bool readTransfer(AppState& state, WorkerReport& report, const AnswerValues& values,
                  std::size_t distinctNumbers) {
    SendState& send = state.job.send;
    send.transferred = parseDecimal(values.get(u"API_RESULT/TRANSFER/RESULT", kErrorWidth)) == 0;
    send.faxId = values.get(u"API_RESULT/TRANSFER/FAX_ID");
    send.prebilling = values.get(u"API_RESULT/TRANSFER/PREBILLING");
    if (report.isOpen()) {
        const LanguageTable& language = state.language;
        report.setLabel(controlid::kLabelTransfer,
                        GetText(language, send.transferred ? text::kOk : text::kFailed));
        report.setLabel(controlid::kLabelFaxId, send.faxId);
        const long pages =
            PageCountFromName(state.job.documentPath) + (state.job.coverPageOn ? 1 : 0);
        report.setLabel(controlid::kLabelPages,
                        FaxPagesText(language, pages, static_cast<long>(distinctNumbers)));
        report.setLabel(controlid::kLabelPrebilling,
                        MoneyText(DecimalValue(send.prebilling), GetText(language, text::kCurrency)));
        report.setPolling(true);
    }
    return readAuthentication(state, report, values);
}

int verdictLabel(FaxStep step) {
    return step == FaxStep::Transfer ? controlid::kLabelTransfer : controlid::kLabelAuthentication;
}

// The service's codes for numbers it does not take: none valid, too many.
// The service's answer to a number that cannot be dialled.
constexpr std::int32_t kInvalidNumberError = 111;

bool refusesNumbers(std::int32_t code) {
    return code == 111 || code == 112;
}

// Characters a dialled number is written with.
bool plausibleNumber(std::u16string_view number) {
    int digits = 0;
    for (char16_t c : number) {
        if (c >= u'0' && c <= u'9')
            ++digits;
        else if (std::u16string_view(u"+ -./()").find(c) == std::u16string_view::npos)
            return false;
    }
    return digits >= 5;
}

}  // namespace

std::u16string RefusedNumbersText(const std::vector<Recipient>& recipients) {
    constexpr std::size_t kNamed = 3;
    const std::vector<Destination> destinations = DistinctDestinations(recipients);
    std::vector<std::u16string> named;
    for (const Destination& d : destinations) {
        if (!plausibleNumber(d.number))
            named.push_back(d.number);
    }
    // Nothing looks wrong here: the service judged by rules of its own.
    if (named.empty())
        for (const Destination& d : destinations)
            named.push_back(d.number);
    std::u16string out;
    for (std::size_t i = 0; i < named.size() && i < kNamed; ++i)
        out += (i ? u", " : u"") + named[i];
    if (named.size() > kNamed)
        out += u", \u2026";
    return out;
}

std::u16string UntrustedCertificateText(const AppState& state) {
    return GetText(state.language, text::kUntrustedCertificate, state.settings.serviceHost);
}

std::u16string CaFileUnusableText(const AppState& state) {
    return GetText(state.language, text::kCaFileUnusable, state.settings.caFile);
}

void ShowNoUsableAnswer(AppState& state, WorkerReport& report, int verdictLabel) {
    state.job.send.errorCode = text::kNoUsableAnswer;
    if (!report.isOpen())
        return;
    const std::u16string text = ErrorText(state.language, text::kNoUsableAnswer);
    report.setLabel(verdictLabel, u"#" + toU16(text::kNoUsableAnswer) + u" " + text);
    report.setLabel(controlid::kStatusLine, text);
}

void SendTiming::wait(std::uint32_t ms, const WorkerReport& report) const {
    if (sleep) {
        sleep(ms);
        return;
    }
    constexpr std::uint32_t kSliceMs = 50;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (report.isOpen()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            break;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(end - now,
                                                          std::chrono::milliseconds(kSliceMs)));
    }
}

std::vector<Destination> DistinctDestinations(const std::vector<Recipient>& recipients,
                                              std::u16string_view region) {
    std::vector<Destination> out;
    const NumberChecker checker(region);
    std::unordered_set<std::u16string> texts, keys;
    auto add = [&](const std::u16string& number, const std::u16string& name) {
        // The exact text first: a list repeating itself is not parsed twice.
        if (!texts.insert(number).second || !keys.insert(checker.key(number)).second)
            return;
        out.push_back({number, name});
    };
    for (const Recipient& r : recipients) {
        if (r.kind == Single) {
            add(r.number, r.name);
        } else {
            for (const std::u16string& member : r.members)
                add(member, r.name);
        }
    }
    return out;
}

std::string TxAttachType(const AppSettings& settings) {
    if (!settings.transmissionReport)
        return "NOT_AT_ALL";
    return settings.reportAttach ? "YES" : "NO";
}

std::uint32_t DoubledTimeout(std::uint32_t timeoutMs) {
    constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
    return timeoutMs > kMax / 2 ? kMax : timeoutMs * 2;
}

double DecimalValue(std::u16string_view text) {
    std::string bytes = toUtf8(text);
    std::size_t start = bytes.find_first_not_of(" \t\r\n");
    if (start == std::string::npos)
        return 0;
    if (bytes[start] == '+')
        ++start;
    double value = 0;
    const auto [ptr, ec] =
        std::from_chars(bytes.data() + start, bytes.data() + bytes.size(), value);
    if (ec != std::errc() || !std::isfinite(value))
        return 0;
    return value;
}

std::u16string MoneyText(double amount, const std::u16string& currency) {
    return fromUtf8(fmt::format("{:.2f} ", amount)) + currency;
}

FaxForm AuthenticationForm(const AppState& state) {
    FaxForm form;
    addCredentials(form, state, "authentication");
    form.add("pagescount", pageCountText(state));
    int index = 0;
    for (const Recipient& r : state.job.recipients)
        form.add("numbers[" + std::to_string(++index) + "]", LowBytes(r.number));
    return form;
}

FaxForm AuthenticationForm(const AppState& state, const std::vector<Destination>& destinations) {
    FaxForm form;
    addCredentials(form, state, "authentication");
    form.add("pagescount", pageCountText(state));
    int index = 0;
    for (const Destination& d : destinations)
        form.add("numbers[" + std::to_string(++index) + "]", LowBytes(d.number));
    return form;
}

FaxForm TransferForm(AppState& state, std::size_t& distinctNumbers) {
    const std::vector<Destination> destinations =
        DistinctDestinations(state.job.recipients, state.settings.defaultRegion);
    distinctNumbers = destinations.size();
    return TransferForm(state, destinations);
}

FaxForm TransferForm(AppState& state, const std::vector<Destination>& destinations) {
    FaxForm form;
    addCredentials(form, state, "convert_and_transfer");
    std::size_t k = 0;
    for (const Destination& d : destinations) {
        ++k;
        form.add("numbers[" + std::to_string(k) + "]", LowBytes(d.number));
        form.add("names[" + std::to_string(k) + "]", LowBytes(d.name));
    }
    if (k > 1)
        state.job.massFaxOn = true;
    if (state.job.coverPageOn)
        form.addCoverPage(CoverTextUtf8(state.job.coverText));
    const long pages = PageCountFromName(state.job.documentPath) + (state.job.coverPageOn ? 1 : 0);
    form.add("pagecount", std::to_string(pages));
    form.add("TXAttachType", TxAttachType(state.settings));
    form.addDocumentHeader();
    return form;
}

FaxForm StatusForm(const AppState& state) {
    FaxForm form;
    addCredentials(form, state, "get_fax_status");
    form.add("pagescount", pageCountText(state));
    form.add("faxId", ToAnsi(state.job.send.faxId));
    return form;
}

StepOutcome RunFaxStep(AppState& state, WorkerReport& report, FaxStep step,
                       const SendTiming& timing, const std::vector<Destination>* batch) {
    FaxJob& job = state.job;
    SendState& send = job.send;
    StepOutcome outcome;
    if (report.isOpen() && step != FaxStep::Authenticate)
        report.setLabel(
            controlid::kStatusLine,
            GetText(state.language, step == FaxStep::Transfer ? text::kSending : text::kWaiting));
    if (step == FaxStep::Transfer && !job.documentPath.empty()) {
        outcome.error = documentProblem(job.documentPath);
        outcome.documentFault = !outcome.error.empty();
        if (outcome.documentFault) {
            timing.wait(timing.stepPauseMs, report);
            return outcome;
        }
    }

    // Closing the window (or Ctrl-C) ends the exchange under way.
    ExchangeLimits limits;
    limits.deadline = timing.exchangeDeadline;
    limits.cancelled = [&report] { return !report.isOpen(); };

    std::size_t distinctNumbers = 0;
    ExchangeResult exchange;
    switch (step) {
        case FaxStep::Authenticate:
            exchange = PostFaxRequest(
                state.settings, batch ? AuthenticationForm(state, *batch) : AuthenticationForm(state),
                limits);
            break;
        case FaxStep::Transfer: {
            FaxForm prefix;
            if (batch) {
                prefix = TransferForm(state, *batch);
                distinctNumbers = batch->size();
            } else {
                prefix = TransferForm(state, distinctNumbers);
            }
            UploadHooks hooks;
            hooks.begin = [&report](std::uint64_t blocks) {
                if (report.isOpen())
                    report.beginProgress(
                        static_cast<int>(std::min<std::uint64_t>(blocks, INT_MAX)));
            };
            hooks.step = [&report] {
                if (report.isOpen())
                    report.stepProgress();
            };
            exchange = PostFaxUpload(state.settings, prefix, job.documentPath, hooks, limits);
            break;
        }
        case FaxStep::Status:
            exchange = PostFaxRequest(state.settings, StatusForm(state), limits);
            break;
    }
    outcome.requested = true;
    outcome.transport = exchange.outcome;
    outcome.error = exchange.error;
    outcome.documentFault = exchange.documentFault;
    outcome.untrustedCertificate = exchange.untrustedCertificate;
    outcome.caFileUnusable = exchange.caFileUnusable;
    // The sleep that ends every step after its request, whatever happened:
    // TIMEOUT for a status poll (already doubled after a 301).
    auto finish = [&] {
        timing.wait(step == FaxStep::Status ? state.settings.timeoutMs : timing.stepPauseMs,
                    report);
        return outcome;
    };

    if (outcome.cancelled())
        return outcome;  // the window is gone: nothing to show, nothing to wait for
    if (outcome.refused()) {
        // Nothing went out: say so instead of pretending the service answered.
        if (report.isOpen())
            report.setLabel(controlid::kLabelAuthentication,
                            GetText(state.language, outcome.transport == Outcome::Unreadable
                                                        ? text::kUploadDocumentUnreadable
                                                        : text::kInvalidValue));
        return finish();
    }
    if (outcome.hostUnavailable()) {
        // No answer to keep or read. Before the transfer the worker says so
        // at once and waits its own growing pause; a poll keeps its cadence.
        if (step == FaxStep::Status)
            return finish();
        if (report.isOpen())
            report.setLabel(verdictLabel(step), GetText(state.language, text::kServiceUnreachable));
        return outcome;
    }

    // Only a whole answer is kept and read; any other end of the exchange
    // keeps an empty "result.xml".
    std::string_view answerBytes = exchange.answer;
    if (const auto nul = answerBytes.find('\0'); nul != std::string_view::npos)
        answerBytes = answerBytes.substr(0, nul);
    if (timing.storeAnswer)
        StoreAnswer(answerBytes);
    send.lastStep = step;
    // Read what was stored; parsed from memory, so that a result.xml that
    // could not be written never hands back an older answer.
    const std::shared_ptr<const ApiAnswer> answer =
        exchange.answered() ? ApiAnswer::parse(answerBytes) : nullptr;
    if (!answer) {
        outcome.unusable = true;
        if (outcome.error.empty())
            outcome.error = "the answer is not one well-formed XML document";
        ShowNoUsableAnswer(state, report,
                           step == FaxStep::Transfer ? controlid::kLabelTransfer : controlid::kLabelAuthentication);
        // A refused certificate is said as such: the answer may be fine,
        // but it cannot be trusted.
        if (outcome.untrustedCertificate && report.isOpen())
            report.setLabel(controlid::kStatusLine, UntrustedCertificateText(state));
        if (outcome.caFileUnusable && report.isOpen())
            report.setLabel(controlid::kStatusLine, CaFileUnusableText(state));
        return finish();
    }
    const AnswerValues values(answer.get());

    const std::u16string error = values.get(u"API_RESULT/ERROR", kErrorWidth);
    send.errorCode = error.empty() ? 0 : static_cast<std::int32_t>(parseDecimal(error));
    if (send.errorCode == 301) {
        state.settings.timeoutMs = DoubledTimeout(state.settings.timeoutMs);
    } else if (send.errorCode != 0) {
        if (report.isOpen()) {
            std::u16string shown =
                u"#" + toU16(send.errorCode) + u" " + ErrorText(state.language, send.errorCode);
            // A refusal of the numbers names them, on the transfer's line.
            if (step == FaxStep::Transfer && refusesNumbers(send.errorCode))
                shown += u": " + RefusedNumbersText(state.job.recipients);
            report.setLabel(verdictLabel(step), shown);
        }
    } else {
        switch (step) {
            case FaxStep::Authenticate: {
                outcome.ok = readAuthentication(state, report, values);
                // Typed numbers the service already refuses are not
                // uploaded: the user corrects them and sends again. A list
                // goes out to the rest; its invalid numbers end as such.
                // A group is listed here by its bracketed name, which no
                // service takes for a number: with groups the transfer's
                // own answer decides.
                const bool onlyNumbers =
                    !job.recipients.empty() &&
                    std::all_of(job.recipients.begin(), job.recipients.end(),
                                [](const Recipient& r) { return r.kind == Single; });
                // A list the service finds too long for one fax is not at
                // fault for its numbers: it goes out in smaller faxes.
                const std::u16string invalid =
                    values.get(u"API_RESULT/VALIDATION/INVALID_NUMBERS", kErrorWidth);
                const bool numbersAtFault = invalid.empty() || parseDecimal(invalid) > 0;
                if (outcome.ok && !send.validated && onlyNumbers && numbersAtFault &&
                    !job.fromList) {
                    outcome.ok = false;
                    outcome.numbersRefused = true;
                    // What the transfer would have answered for these numbers.
                    send.errorCode = kInvalidNumberError;
                    if (report.isOpen())
                        report.setLabel(controlid::kLabelTransfer,
                                        GetText(state.language, text::kNumbersRefused,
                                                RefusedNumbersText(state.job.recipients)));
                }
                break;
            }
            case FaxStep::Transfer:
                outcome.ok = readTransfer(state, report, values, distinctNumbers);
                break;
            case FaxStep::Status:
                outcome.ok = ReadStatusAnswer(state, report, answer.get(), outcome);
                break;
        }
    }
    return finish();
}

}  // namespace miravo
