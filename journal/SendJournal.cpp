#include "journal/SendJournal.h"

#include "app/DialogTexts.h"
#include "app/Paths.h"
#include "app/LanguageTable.h"
#include "app/Text.h"
#include "app/TextIds.h"
#include "convert/JobFile.h"
#include "journal/SentDocuments.h"
#include "service/BatchSend.h"
#include "service/ServiceTexts.h"

#include <atomic>
#include <utility>

namespace miravo {

SendJournal::SendJournal(std::u16string title, std::filesystem::path path)
    : title_(std::move(title)), path_(std::move(path)) {}

SendJournal::~SendJournal() = default;

std::filesystem::path SendJournal::movedAside() const {
    return journal_ ? journal_->movedAside() : std::filesystem::path();
}

namespace {

// Why nothing of the send went out: stopped on this side, else the
// service's error, else the service was never reached.
std::u16string attemptReason(const AppState& state, const SendProgress& progress) {
    const LanguageTable& language = state.language;
    switch (progress.heldBack) {
        case SendProgress::HeldBack::RefusedValue:
            return GetText(language, text::kValueRefusedBeforeSending);
        case SendProgress::HeldBack::NoCredentials:
            return GetText(language, text::kNoCredentialsGiven);
        case SendProgress::HeldBack::InvalidNumbers:
            return GetText(language, text::kInvalidNumbersRefused);
        case SendProgress::HeldBack::No:
            break;
    }
    if (!progress.localFailure.empty())
        return GetText(language, text::kNotSentBecause, fromUtf8(progress.localFailure));
    const std::int32_t code = state.job.send.errorCode;
    return code > 0 ? u"#" + toU16(static_cast<long>(code)) + u" " + ErrorText(language, code)
                    : GetText(language, text::kServiceUnreachable);
}

}  // namespace

void SendJournal::recordNotStarted(const AppState& state, SendProgress::HeldBack why) {
    SendProgress unsent = UnsentProgress(state);
    unsent.heldBack = why;
    recordAttempt(state, unsent);
}

void SendJournal::recordAttempt(const AppState& state, const SendProgress& progress) {
    // Nothing went out: the attempt is remembered with why, for every
    // destination it was meant for, so that it can be sent again.
    if (path_.empty() || progress.destinations.empty() || state.job.documentPath.empty())
        return;
    if (!journal_)
        journal_ = std::make_unique<Journal>(path_);
    const std::u16string reason = attemptReason(state, progress);
    JournalSend record = newRecord(state, progress);
    for (JournalDestination& d : record.destinations) {
        d.sent = false;
        d.final = true;
        d.statusText = reason;
        d.faxId.clear();
    }
    id_ = journal_->recordTransfer(record);
    keepDocument(state, reason);
}

std::u16string SendTitle(const FaxJob& job) {
    if (job.repeatedRecord() != 0 && !job.repeatsTitle.empty())
        return job.repeatsTitle;
    if (!job.jobFilePath.empty())
        return DocumentName(job.jobFilePath);
    return FromFsPath(ToFsPath(job.documentPath).stem());
}

void SendJournal::batchSent(const AppState& state, const SendProgress& progress,
                            std::size_t index) {
    const SentBatch& batch = progress.batches[index];
    if (path_.empty())
        return;
    if (id_ != 0) {
        journal_->recordBatch(id_, batch.range.first, batch.range.count, batch.faxId,
                              batch.prebilling);
        return;
    }
    if (!journal_)
        journal_ = std::make_unique<Journal>(path_);
    JournalSend record = newRecord(state, progress);
    record.faxId = batch.faxId;
    record.estimatedCost = batch.prebilling;
    id_ = journal_->recordTransfer(record);
    keepDocument(state, {});
}

JournalSend SendJournal::newRecord(const AppState& state, const SendProgress& progress) const {
    JournalSend record;
    record.sentAt = JournalNow();
    record.title = title_.empty() ? SendTitle(state.job) : title_;
    record.pages = static_cast<int>(PageCountFromName(state.job.documentPath)) +
                   (state.job.coverPageOn ? 1 : 0);
    record.cover = state.job.coverPageOn;
    const std::string report = TxAttachType(state.settings);
    record.reportOptions.assign(report.begin(), report.end());
    record.destinations.reserve(progress.destinations.size());
    for (const DestinationStatus& d : progress.destinations)
        record.destinations.push_back({d.recipient, d.name, u"", u"", 0, false, 0, d.faxId, true});
    return record;
}

void SendJournal::keepDocument(const AppState& state, const std::u16string& reason) {
    if (id_ == 0)
        return;
    JournalKeeping keeping;
    keeping.reason = reason;
    keeping.repeats = repeats_ != 0 ? repeats_ : state.job.repeatedRecord();
    journal_->recordKeeping(id_, keeping);
    const KeepResult kept =
        keeper_(*journal_, id_, ToFsPath(state.job.documentPath),
                state.job.coverPageOn ? state.job.coverText : std::u16string());
    // A full disk is told once per run; any other failure only shows in the record.
    static std::atomic<bool> toldFull{false};
    if (kept.diskFull && !toldFull.exchange(true))
        keepWarning_ = kept.error;
    ApplyRetention(*journal_, state.settings.keepSentDays, state.settings.keepSentMb, JournalNow());
}

std::string SendJournal::takeKeepWarning() {
    return std::exchange(keepWarning_, {});
}

void SendJournal::statusAnswered(const AppState& state, const SendProgress& progress,
                                 std::size_t index) {
    if (id_ == 0)
        return;
    const SentBatch& batch = progress.batches[index];
    std::vector<DestinationStatus> statuses(
        progress.destinations.begin() + static_cast<std::ptrdiff_t>(batch.range.first),
        progress.destinations.begin() +
            static_cast<std::ptrdiff_t>(batch.range.first + batch.range.count));
    // Written only when something changed since the last answer.
    std::vector<std::u16string> shape;
    shape.reserve(statuses.size() * 2);
    for (const DestinationStatus& d : statuses) {
        shape.push_back(d.status);
        shape.push_back(d.cost);
    }
    if (written_.size() <= index)
        written_.resize(index + 1);
    if (written_[index] == shape)
        return;
    if (journal_->recordFaxStatus(id_, batch.faxId, statuses, state.language))
        written_[index] = std::move(shape);
}

void SendJournal::sendEnded(const AppState& state, const SendProgress& progress) {
    if (id_ == 0) {
        recordAttempt(state, progress);
        return;
    }
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < progress.destinations.size(); ++i) {
        if (progress.destinations[i].notSent)
            positions.push_back(i);
    }
    if (!positions.empty())
        journal_->recordNotSent(id_, positions, state.language);
}

}  // namespace miravo
