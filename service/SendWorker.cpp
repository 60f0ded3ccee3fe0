#include "service/SendWorker.h"

#include <algorithm>

#include "app/ControlIds.h"
#include "app/LanguageTable.h"
#include "app/Text.h"
#include "app/TextIds.h"
#include "service/BatchSend.h"
#include "service/ServiceTexts.h"

namespace miravo {

namespace {

bool askCredentials(AppState& state, CredentialsPrompt& prompt) {
    if (!prompt.ask(state))
        return false;
    // The prompt's fields hold 259 characters.
    state.settings.userName = fitField(state.settings.userName, kNameWidth);
    state.settings.password = fitField(state.settings.password, kNameWidth);
    return true;
}

// Says that the service cannot be reached and waits before the next
// attempt: 1 s, doubling up to a minute, so that a service that is away
// is neither hammered nor left unmentioned. Close ends the wait at once.
void waitForService(const AppState& state, WorkerReport& report, const SendTiming& timing,
                    int attempt) {
    const std::uint32_t pauseMs = HostRetryPauseMs(attempt);
    if (report.isOpen())
        report.setLabel(controlid::kStatusLine,
                        GetText(state.language, text::kRetryingUnreachable,
                                static_cast<int>(pauseMs / 1000), attempt + 1));
    timing.wait(pauseMs, report);
}

}  // namespace

std::uint32_t HostRetryPauseMs(int attempt) {
    constexpr std::uint32_t kFirstMs = 1000, kLongestMs = 60000;
    std::uint32_t pause = kFirstMs;
    for (int i = 1; i < attempt && pause < kLongestMs; ++i)
        pause *= 2;
    return std::min(pause, kLongestMs);
}

void SendProgress::count() {
    done = ok = failed = notSent = 0;
    totalCost = 0;
    for (const DestinationStatus& d : destinations) {
        totalCost += DecimalValue(d.cost);
        if (d.notSent) {
            ++notSent;
        } else if (!d.status.empty()) {
            ++done;
            if (d.status == u"OK")
                ++ok;
            else
                ++failed;
        }
    }
}

std::string LocalFailure(const StepOutcome& last) {
    return last.documentFault ? last.error : std::string();
}

SendSummary RunSend(AppState& state, WorkerReport& report, CredentialsPrompt& prompt,
                    const SendOptions& options) {
    const SendTiming& timing = options.timing;
    SendSummary summary;
    auto giveUp = [&] {
        summary.end = SendEnd::CredentialsCancelled;
        report.close(1);
        return summary;
    };
    if (state.settings.userName.empty() || state.settings.password.empty()) {
        if (!askCredentials(state, prompt)) {
            // Remembered as an attempt never sent, so that it can be sent again.
            if (options.recorder) {
                SendProgress unsent = UnsentProgress(state);
                unsent.heldBack = SendProgress::HeldBack::NoCredentials;
                options.recorder->sendEnded(state, unsent);
            }
            return giveUp();
        }
    }

    BatchSend send(state, report, options, summary);
    for (;;) {
        state.job.send.clear();
        StepOutcome step =
            RunFaxStep(state, report, FaxStep::Authenticate, timing, send.authenticationList());
        summary.last = step;
        summary.failedStep = FaxStep::Authenticate;
        if (step.ok) {
            summary.failedStep = FaxStep::Transfer;
            const auto transfers = send.transferBatches(step);
            if (transfers == BatchSend::TransferEnd::HostUnavailable && report.isOpen()) {
                summary.last = step;
                if (options.maxHostRetries >= 0 && summary.hostRetries >= options.maxHostRetries) {
                    summary.end = SendEnd::Unreachable;
                } else {
                    ++summary.hostRetries;
                    report.enableClose();
                    waitForService(state, report, timing, summary.hostRetries);
                    if (report.isOpen())
                        continue;
                    summary.end = SendEnd::Stopped;
                }
            }
            if (send.anySent() && transfers == BatchSend::TransferEnd::AllSent) {
                summary.failedStep = FaxStep::Status;
                step = send.poll();
                summary.last = step;
                summary.end = send.allFinished()           ? SendEnd::Finished
                              : step.refused()             ? SendEnd::Refused
                              : !report.isOpen()           ? SendEnd::Stopped
                                                           : SendEnd::Failed;
                break;
            }
            summary.last = step;
            if (transfers != BatchSend::TransferEnd::HostUnavailable)
                summary.end = step.refused()       ? SendEnd::Refused
                              : !report.isOpen()   ? SendEnd::Stopped
                                                   : SendEnd::Failed;
            // A transfer that failed after others went out: those are
            // followed still, so that the user learns what became of them.
            if (send.anySent() && report.isOpen()) {
                const std::int32_t error = state.job.send.errorCode;
                const SendState failed = state.job.send;
                send.poll();
                state.job.send = failed;
                state.job.send.errorCode = error;
            }
            break;
        }
        if (step.numbersRefused) {
            summary.failedStep = FaxStep::Transfer;
        } else if (state.job.send.errorCode == 107) {
            if (!askCredentials(state, prompt)) {
                summary.end = SendEnd::CredentialsCancelled;
                send.end();  // remembered as refused, with its destinations
                return giveUp();
            }
            continue;
        }
        if (step.hostUnavailable() && report.isOpen()) {
            if (options.maxHostRetries >= 0 && summary.hostRetries >= options.maxHostRetries) {
                summary.end = SendEnd::Unreachable;
                break;
            }
            ++summary.hostRetries;
            report.enableClose();
            waitForService(state, report, timing, summary.hostRetries);
            if (!report.isOpen()) {
                summary.end = SendEnd::Stopped;
                break;
            }
            continue;
        }
        summary.end = step.refused()           ? SendEnd::Refused
                      : step.hostUnavailable() ? SendEnd::Unreachable
                      : !report.isOpen()       ? SendEnd::Stopped
                                               : SendEnd::Failed;
        break;
    }
    send.end();

    if (!report.isOpen())
        return summary;
    report.enableClose();
    if (!options.waitForClose)
        return summary;
    if (state.settings.closeWindow) {
        for (int tick = 0; tick < timing.closeTicks; ++tick) {
            timing.wait(timing.closeTickMs, report);
            if (!report.isOpen())
                return summary;
        }
        report.close(1);
        return summary;
    }
    while (report.isOpen())
        timing.wait(timing.closeTickMs, report);
    return summary;
}

int SendWorker(AppState& state, WorkerReport& report, CredentialsPrompt& prompt) {
    RunSend(state, report, prompt);
    return 0;
}

}  // namespace miravo
