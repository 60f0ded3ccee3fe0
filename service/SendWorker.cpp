#include "service/SendWorker.h"

#include "app/Text.h"

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

}  // namespace

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
                for (;;) {
                    step = RunFaxStep(state, report, FaxStep::Status, timing);
                    summary.last = step;
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
