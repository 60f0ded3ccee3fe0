#include "ui/SendEndView.h"

#include "ui/TextIds.h"
#include "app/ControlIds.h"

namespace miravo::ui {

namespace {

constexpr std::int32_t kCredentialsRefused = 107;

int verdictOf(FaxStep step) {
    switch (step) {
        case FaxStep::Authenticate:
            return controlid::kLabelAuthentication;
        case FaxStep::Transfer:
            return controlid::kLabelTransfer;
        case FaxStep::Status:
            break;
    }
    return 0;
}

}  // namespace

SendEndView DescribeSendEnd(const SendSummary& summary, std::int32_t errorCode) {
    const StepOutcome& last = summary.last;
    // Once the transfer went through the fax is the service's: only its
    // status could not be followed.
    const bool sent = summary.failedStep == FaxStep::Status;
    const int verdict = verdictOf(summary.failedStep);
    switch (summary.end) {
        case SendEnd::Finished:
        case SendEnd::CredentialsCancelled:
        case SendEnd::Stopped:
            return {};
        case SendEnd::Unreachable:
            return {sent ? text::kDeliveryStatusUnreadable : text::kNotSentUnreachable, verdict};
        case SendEnd::Refused:
            return {sent ? text::kDeliveryStatusUnreadable : text::kNotSentValueRefused, verdict};
        case SendEnd::Failed:
            break;
    }
    if (sent)
        return {text::kDeliveryStatusUnreadable, 0};
    if (!last.requested)
        return {text::kNotSentDocumentMissing, verdict};
    // A transfer answer without the authentication verdict that the
    // authentication just gave is no usable answer either.
    if (last.transport != Outcome::Answer || errorCode == text::kNoUsableAnswer ||
        (summary.failedStep == FaxStep::Transfer && errorCode == kCredentialsRefused))
        return {text::kNotSentNoAnswer, verdict};
    if (errorCode != 0 && errorCode != kCredentialsRefused)
        return {text::kNotSentServiceError, verdict};
    return {text::kNotSent, verdict};
}

}  // namespace miravo::ui
