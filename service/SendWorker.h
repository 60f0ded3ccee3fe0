// The send: credentials, authentication, transfer, and the status polling
// until every destination has a final status, retried from the start while
// the service host cannot be reached. Runs on the status window's worker
// thread (or the headless sender's) and reports only through WorkerReport;
// WorkerReport::isOpen() is the window's open flag.
#pragma once

#include <cstdint>
#include <vector>

#include "app/AppState.h"
#include "app/WorkerReport.h"
#include "service/CredentialsPrompt.h"
#include "service/FaxTransmission.h"
#include "service/SendBatches.h"

namespace miravo {

// A batch the service took: its run of the destination list and its fax id.
struct SentBatch {
    Batch range;
    std::u16string faxId;
    double prebilling = 0;
    bool finished = false;   // every destination final (or the answer is about another fax)
    bool abandoned = false;  // its status answers name no destination: nothing more to learn
};

// The whole send as it stands: every destination in list order (each
// number once) with what is known of it, and the batches that went out.
struct SendProgress {
    std::vector<DestinationStatus> destinations;
    std::vector<SentBatch> batches;
    std::size_t done = 0;     // destinations with a final status
    std::size_t ok = 0;       // of them "OK"
    std::size_t failed = 0;   // of them anything else
    std::size_t notSent = 0;  // never sent
    double totalCost = 0;
    // What stopped a send on this side before the service took anything;
    // otherwise the service's error code (or its silence) tells why.
    enum class HeldBack {
        No,
        RefusedValue,   // a request was not sent: a value carries the delimiter
        NoCredentials,  // no user name and password were given at the prompt
        InvalidNumbers, // numbers were refused as invalid before the send began
    } heldBack = HeldBack::No;
    // Why the send failed on this side before or during the upload (the
    // document unreadable...); empty when it did not.
    std::string localFailure;

    // Counts and total cost again from the destinations.
    void count();
};

// Told what the send learns, on the worker's thread, so that it can be
// remembered as it goes (the sent-fax journal).
class SendRecorder {
  public:
    virtual ~SendRecorder() = default;
    // The service took batch `index` of progress.batches.
    virtual void batchSent(const AppState& state, const SendProgress& progress,
                           std::size_t index) = 0;
    // A status answer about batch `index` was read into progress.
    virtual void statusAnswered(const AppState& state, const SendProgress& progress,
                                std::size_t index) = 0;
    // The send is over; destinations marked notSent never went out.
    virtual void sendEnded(const AppState& state, const SendProgress& progress) = 0;
};

struct SendOptions {
    SendTiming timing;
    // Told after the transfer answer and after every status answer; none:
    // nothing is remembered.
    SendRecorder* recorder = nullptr;
    // Starts of the sequence after the host was unavailable; -1: no limit
    // (the window's user ends it by closing the window).
    int maxHostRetries = -1;
    // Whether the worker waits for the window to close at the end (the
    // status window); the headless sender has no window to wait for.
    bool waitForClose = true;
    // Status polls in a row without a usable answer after which the polling
    // gives up; -1: no limit (the window's user ends it by closing it).
    int maxUnusablePolls = -1;
};

enum class SendEnd {
    Finished,              // the polling found every destination final
    CredentialsCancelled,  // the user gave up at the credentials prompt
    Stopped,               // the window was closed before the end
    Failed,                // a step failed (service error, missing document, no usable answer)
    Refused,               // a request could not be sent: a value carries the delimiter
    Unreachable,           // the host stayed unavailable
};

struct SendSummary {
    SendEnd end = SendEnd::Failed;
    FaxStep failedStep = FaxStep::Authenticate;
    StepOutcome last;  // the last step run
    // Every destination of the send, in list order, with its last status;
    // those never sent are marked notSent.
    std::vector<DestinationStatus> destinations;
    double totalCost = 0;
    int hostRetries = 0;
    // The fax ids of the batches the service took, in order.
    std::vector<std::u16string> faxIds;
    std::size_t notSent = 0;
};

// Why the last step failed on this side: the document could not be sent
// from here. Empty when it did not fail so.
std::string LocalFailure(const StepOutcome& last);

// The pause before attempt `attempt` + 1 after the service could not be
// reached `attempt` times in a row: 1 s, doubling, at most 60 s.
std::uint32_t HostRetryPauseMs(int attempt);

// Authenticates once, then sends the destinations in batches (each its own
// fax, in list order; a batch the service finds too large goes again as
// two halves), then follows every batch until each destination is final.
// A closed window, or a transfer that fails, sends no further batch.
SendSummary RunSend(AppState& state, WorkerReport& report, CredentialsPrompt& prompt,
                    const SendOptions& options = {});

// The thread procedure form; returns 0.
int SendWorker(AppState& state, WorkerReport& report, CredentialsPrompt& prompt);

}  // namespace miravo
