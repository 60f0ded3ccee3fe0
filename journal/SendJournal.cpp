#include "journal/SendJournal.h"

#include "app/DialogTexts.h"
#include "app/Paths.h"
#include "convert/JobFile.h"

namespace miravo {

SendJournal::SendJournal(std::u16string title, std::filesystem::path path)
    : title_(std::move(title)), path_(std::move(path)) {}

SendJournal::~SendJournal() = default;

std::filesystem::path SendJournal::movedAside() const {
    return journal_ ? journal_->movedAside() : std::filesystem::path();
}

std::u16string SendTitle(const FaxJob& job) {
    if (!job.jobFilePath.empty())
        return DocumentName(job.jobFilePath);
    return FromFsPath(ToFsPath(job.documentPath).stem());
}

void SendJournal::transferAnswered(const AppState& state) {
    const SendState& send = state.job.send;
    if (id_ != 0 || send.faxId.empty() || path_.empty())
        return;
    if (!journal_)
        journal_ = std::make_unique<Journal>(path_);
    JournalSend record;
    record.sentAt = JournalNow();
    record.title = title_.empty() ? SendTitle(state.job) : title_;
    record.pages = static_cast<int>(PageCountFromName(state.job.documentPath)) +
                   (state.job.coverPageOn ? 1 : 0);
    record.cover = state.job.coverPageOn;
    const std::string report = TxAttachType(state.settings);
    record.reportOptions.assign(report.begin(), report.end());
    record.faxId = send.faxId;
    record.estimatedCost = DecimalValue(send.prebilling);
    for (const Destination& d : DistinctDestinations(state.job.recipients))
        record.destinations.push_back({d.number, d.name, u"", u"", 0, false, 0});
    id_ = journal_->recordTransfer(record);
}

void SendJournal::statusAnswered(const AppState& state, const StepOutcome& outcome) {
    if (id_ == 0 || !outcome.aboutThisFax)
        return;
    journal_->recordStatus(id_, outcome.destinations, outcome.totalCost, state.language);
}

}  // namespace miravo
