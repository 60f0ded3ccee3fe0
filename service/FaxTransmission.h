// One exchange of the send with the fax service: authentication, the
// transfer of the document, or one status poll. Each step sends its
// request, keeps the answer in "result.xml" (of the user running the program), reads
// it, writes what it learnt into the status window through WorkerReport,
// and sleeps before it returns.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/WorkerReport.h"
#include "service/MultipartForm.h"
#include "service/Transport.h"

namespace miravo {

// Destination rows of the status window.
inline constexpr int kStatusRows = 3;

// How the send waits. The durations are the program's; tests shorten the
// fixed pauses or record them, the headless sender wakes early on Ctrl-C.
struct SendTiming {
    std::uint32_t stepPauseMs = 1000;  // after authentication, transfer, a missing document
    std::uint32_t pollPauseMs = 1000;  // between two status polls
    std::uint32_t closeTickMs = 100;   // the wait for the window to close
    int closeTicks = 40;               // CLOSE_WND: the worker closes after this many ticks
    // Replaces every exchange's own deadline when positive (tests).
    std::chrono::milliseconds exchangeDeadline{0};
    // Waits `ms` milliseconds; empty: sleeps the calling thread.
    std::function<void(std::uint32_t ms)> sleep;
    // Whether answers are copied to "result.xml"; a refresh running beside
    // a send keeps its answers to itself.
    bool storeAnswer = true;

    // Waits `ms` milliseconds, or less once the window is closed: a plain
    // sleep looks at the window every 50 ms, so that Close never waits for
    // a pause to run out.
    void wait(std::uint32_t ms, const WorkerReport& report) const;
};

// The last status of one destination, as a status answer gave it.
struct DestinationStatus {
    std::u16string recipient;
    std::u16string cost;
    std::u16string status;  // empty while under way
    // Filled by the send for every destination of its list:
    std::u16string name;
    std::u16string faxId;  // the fax (batch) that carried it; empty: not sent
    bool notSent = false;  // the send ended before its batch went out
};

// What came of one step, beyond its verdict.
struct StepOutcome {
    bool ok = false;
    bool requested = false;  // an exchange was attempted (false: the document is missing)
    Outcome transport = Outcome::Failed;
    std::string error;  // the transport's reason when no answer came
    // The document could not be sent from here (error says why): a failure
    // on this side, before or during the upload.
    bool documentFault = false;

    bool untrustedCertificate = false;  // the service's certificate was refused
    bool caFileUnusable = false;        // the settings' CA_FILE cannot be read: nothing went out
    // No usable answer came: none at all, another status than 200, one cut
    // short, or bytes that are not one XML document. Shown as text 999.
    bool unusable = false;
    // A status answer about this fax that names no destination: polling
    // cannot learn anything more from such answers and ends.
    bool namesNoDestination = false;
    // The credentials were taken but the numbers were not: nothing is uploaded.
    bool numbersRefused = false;
    // Status steps about this fax: every destination read, and their total cost.
    bool aboutThisFax = false;
    std::vector<DestinationStatus> destinations;
    double totalCost = 0;

    bool hostUnavailable() const {
        return requested &&
               (transport == Outcome::NameNotResolved || transport == Outcome::HostNotReached);
    }
    // Not sent: a value carries the form delimiter, the body is too large, or
    // the document could not be read.
    bool refused() const {
        return requested && (transport == Outcome::Refused || transport == Outcome::Unreadable);
    }
    // Stopped because the window closed (or Ctrl-C).
    bool cancelled() const { return requested && transport == Outcome::Cancelled; }
};

// The service at SERV_NAME showed a certificate that is not trusted or has
// expired: says so, and that CA_FILE may name the CA that signed it.
std::u16string UntrustedCertificateText(const AppState& state);

// The CA file the settings name (CA_FILE) cannot be read or holds no
// certificate: says so, naming the file.
std::u16string CaFileUnusableText(const AppState& state);

// No usable answer came: error code 999, and its text "#999 ..." in the
// step's verdict label and in the activity line, so that nothing is left
// reading "OK" or "Sending...".
void ShowNoUsableAnswer(AppState& state, WorkerReport& report, int verdictLabel);

// One destination of the transfer.
struct Destination {
    std::u16string number;
    std::u16string name;
};

// Runs one step; `ok` is the step's verdict (for Status: the fax is
// finished). `batch`, when given, is what the authentication lists and the
// transfer carries instead of the whole list of recipients.
StepOutcome RunFaxStep(AppState& state, WorkerReport& report, FaxStep step,
                       const SendTiming& timing = {},
                       const std::vector<Destination>* batch = nullptr);

// Destinations in list order, each number once: a single entry gives its
// number and name, a group each member number with the group's name. Two
// numbers are the same when their international forms are (numbers without
// an international prefix read in `region`), else when their texts are.
std::vector<Destination> DistinctDestinations(const std::vector<Recipient>& recipients,
                                              std::u16string_view region = {});

// The numbers a refusal of the destinations names: those not written like
// a dialled number, else all of them; at most three, then an ellipsis.
std::u16string RefusedNumbersText(const std::vector<Recipient>& recipients);

// "YES", "NO" or "NOT_AT_ALL" from the report settings.
std::string TxAttachType(const AppSettings& settings);

// TIMEOUT doubled after a 301 answer, saturating at the largest value.
std::uint32_t DoubledTimeout(std::uint32_t timeoutMs);

// The request bodies. The transfer's ends with the document part's header;
// it sets massFaxOn when more than one number goes out.
FaxForm AuthenticationForm(const AppState& state);
FaxForm TransferForm(AppState& state, std::size_t& distinctNumbers);
// The transfer of these destinations (one batch of the send).
FaxForm TransferForm(AppState& state, const std::vector<Destination>& destinations);
FaxForm AuthenticationForm(const AppState& state, const std::vector<Destination>& destinations);
FaxForm StatusForm(const AppState& state);

// Decimal text as the answers carry it ("0.50"); 0 for anything else.
double DecimalValue(std::u16string_view text);
// "%.2f %s": an amount and the currency text.
std::u16string MoneyText(double amount, const std::u16string& currency);

}  // namespace miravo
