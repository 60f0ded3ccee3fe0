#include "service/SendWorker.h"

#include "app/Text.h"

#include <algorithm>
#include <chrono>

#include "app/ControlIds.h"
#include "app/LanguageTable.h"
#include "app/TextIds.h"

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

// Tells, during the polling, how long the service has been silent and when
// it answers again; the polling itself goes on either way.
class SilenceWatch {
  public:
    void polled(const AppState& state, WorkerReport& report, const StepOutcome& step) {
        const auto now = std::chrono::steady_clock::now();
        const bool answered = step.transport == Outcome::Answer || step.transport == Outcome::HttpStatus;
        if (answered) {
            if (silent_ && report.isOpen())
                report.setLabel(controlid::kStatusLine, GetText(state.language, text::kServiceBack));
            silent_ = false;
            lastAnswer_ = now;
            return;
        }
        if (step.cancelled() || !step.requested)
            return;
        silent_ = true;
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(now - lastAnswer_).count();
        if (report.isOpen())
            report.setLabel(controlid::kStatusLine, GetText(state.language, text::kServiceSilent,
                                                            static_cast<long long>(seconds)));
    }

  private:
    std::chrono::steady_clock::time_point lastAnswer_ = std::chrono::steady_clock::now();
    bool silent_ = false;
};

}  // namespace

std::uint32_t HostRetryPauseMs(int attempt) {
    constexpr std::uint32_t kFirstMs = 1000, kLongestMs = 60000;
    std::uint32_t pause = kFirstMs;
    for (int i = 1; i < attempt && pause < kLongestMs; ++i)
        pause *= 2;
    return std::min(pause, kLongestMs);
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
        if (!askCredentials(state, prompt))
            return giveUp();
    }

    for (;;) {
        state.job.send.clear();
        StepOutcome step = RunFaxStep(state, report, FaxStep::Authenticate, timing);
        summary.last = step;
        summary.failedStep = FaxStep::Authenticate;
        if (step.ok) {
            state.job.send.clear();
            step = RunFaxStep(state, report, FaxStep::Transfer, timing);
            summary.last = step;
            if (options.recorder && step.requested)
                options.recorder->transferAnswered(state);
            summary.failedStep = FaxStep::Transfer;
            if (step.ok) {
                if (report.isOpen())
                    report.enableClose();
                summary.failedStep = FaxStep::Status;
                int unusablePolls = 0;
                SilenceWatch silence;
                for (;;) {
                    step = RunFaxStep(state, report, FaxStep::Status, timing);
                    summary.last = step;
                    silence.polled(state, report, step);
                    if (options.recorder)
                        options.recorder->statusAnswered(state, step);
                    if (step.aboutThisFax) {
                        summary.destinations = step.destinations;
                        summary.totalCost = step.totalCost;
                    }
                    unusablePolls = step.unusable ? unusablePolls + 1 : 0;
                    const bool givenUp = options.maxUnusablePolls >= 0 &&
                                         unusablePolls > options.maxUnusablePolls;
                    // A poll that cannot be sent never will be; an answer
                    // naming no destination will not name one next time.
                    if (step.ok || step.refused() || step.namesNoDestination || givenUp ||
                        !report.isOpen())
                        break;
                    timing.wait(timing.pollPauseMs, report);
                }
                summary.end = step.ok          ? SendEnd::Finished
                              : step.refused() ? SendEnd::Refused
                              : !report.isOpen() ? SendEnd::Stopped
                                                 : SendEnd::Failed;
                break;
            }
        } else if (step.numbersRefused) {
            summary.failedStep = FaxStep::Transfer;
        } else if (state.job.send.errorCode == 107) {
            if (!askCredentials(state, prompt))
                return giveUp();
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
