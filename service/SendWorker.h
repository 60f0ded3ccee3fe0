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

namespace miravo {

// Told what the send learns, on the worker's thread, so that it can be
// remembered as it goes (the sent-fax journal).
class SendRecorder {
  public:
    virtual ~SendRecorder() = default;
    // The transfer's answer was read: the fax id, if the service took the
    // fax, is in state.job.send.
    virtual void transferAnswered(const AppState& state) = 0;
    // A status answer was read.
    virtual void statusAnswered(const AppState& state, const StepOutcome& outcome) = 0;
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
    // The destinations of the last status answer about this fax.
    std::vector<DestinationStatus> destinations;
    double totalCost = 0;
    int hostRetries = 0;
};

// The pause before attempt `attempt` + 1 after the service could not be
// reached `attempt` times in a row: 1 s, doubling, at most 60 s.
std::uint32_t HostRetryPauseMs(int attempt);

SendSummary RunSend(AppState& state, WorkerReport& report, CredentialsPrompt& prompt,
                    const SendOptions& options = {});

// The thread procedure form; returns 0.
int SendWorker(AppState& state, WorkerReport& report, CredentialsPrompt& prompt);

}  // namespace miravo
