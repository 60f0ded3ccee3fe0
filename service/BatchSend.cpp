#include "service/BatchSend.h"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <utility>

#include "app/ControlIds.h"
#include "app/LanguageTable.h"
#include "app/Text.h"
#include "app/TextIds.h"
#include "convert/JobFile.h"
#include "service/SendOutcome.h"
#include "service/ServiceTexts.h"

namespace miravo {

namespace {

// The service's answer to a fax with more destinations than it takes.
constexpr std::int32_t kTooManyDestinations = 112;

// Passes everything on to the window but the labels the send of several
// batches writes itself (the sum of all batches); those are kept, so that
// a failure that ends the send can still be shown as the step wrote it.
class BatchReport : public WorkerReport {
  public:
    BatchReport(WorkerReport& window, std::set<int> held)
        : window_(window), held_(std::move(held)) {}

    void setTitle(const std::u16string& text) override { window_.setTitle(text); }
    void setLabel(int id, const std::u16string& text) override {
        if (held_.count(id))
            kept_.emplace_back(id, text);
        else
            window_.setLabel(id, text);
    }
    void beginProgress(int maximum) override { window_.beginProgress(maximum); }
    void stepProgress() override { window_.stepProgress(); }
    void setPolling(bool on) override {
        if (passPolling_)
            window_.setPolling(on);
    }
    void enableClose() override { window_.enableClose(); }
    void close(int result) override { window_.close(result); }
    bool isOpen() const override { return window_.isOpen(); }

    void passPolling(bool on) { passPolling_ = on; }
    void forget() { kept_.clear(); }
    // Shows what was held back.
    void release() {
        for (const auto& [id, text] : kept_) {
            if (window_.isOpen())
                window_.setLabel(id, text);
        }
        kept_.clear();
    }

  private:
    WorkerReport& window_;
    std::set<int> held_;
    std::vector<std::pair<int, std::u16string>> kept_;
    bool passPolling_ = true;
};

// The fax ids of the label: all of them while few, else the first and the last.
std::u16string faxIdsText(const std::vector<SentBatch>& batches) {
    std::u16string text;
    if (batches.size() > 3)
        return batches.front().faxId + u" \u2026 " + batches.back().faxId + u" (" +
               toU16(static_cast<long>(batches.size())) + u")";
    for (const SentBatch& b : batches)
        text += (text.empty() ? u"" : u", ") + b.faxId;
    return text;
}

std::vector<DestinationStatus> statusesOf(const std::vector<Destination>& destinations) {
    std::vector<DestinationStatus> statuses;
    statuses.reserve(destinations.size());
    for (const Destination& d : destinations) {
        DestinationStatus status;
        status.recipient = d.number;
        status.name = d.name;
        statuses.push_back(std::move(status));
    }
    return statuses;
}

}  // namespace

SendProgress UnsentProgress(const AppState& state) {
    SendProgress progress;
    progress.destinations =
        statusesOf(DistinctDestinations(state.job.recipients, state.settings.defaultRegion));
    for (DestinationStatus& d : progress.destinations)
        d.notSent = true;
    progress.count();
    return progress;
}

void SilenceWatch::polled(const AppState& state, WorkerReport& report, const StepOutcome& step) {
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

BatchSend::BatchSend(AppState& state, WorkerReport& report, const SendOptions& options,
                     SendSummary& summary)
    : state_(state), report_(report), options_(options), summary_(summary) {
    destinations_ = DistinctDestinations(state.job.recipients, state.settings.defaultRegion);
    progress_.destinations = statusesOf(destinations_);
    std::vector<Destination> none;
    BatchLimits limits;
    limits.maxDestinations = state.settings.maxDestinationsPerFax;
    const std::size_t fixed = TransferForm(state, none).bytes().size();
    const std::vector<Batch> plan = PlanBatches(destinations_, fixed, limits);
    waiting_.assign(plan.begin(), plan.end());
    batched_ = plan.size() > 1;
    if (destinations_.size() > 1)
        state.job.massFaxOn = true;
}

const std::vector<Destination>* BatchSend::authenticationList() {
    if (!batched_ || waiting_.empty())
        return nullptr;
    const Batch& first = waiting_.front();
    authList_.assign(destinations_.begin() + static_cast<std::ptrdiff_t>(first.first),
                     destinations_.begin() + static_cast<std::ptrdiff_t>(first.first + first.count));
    return &authList_;
}

BatchSend::TransferEnd BatchSend::transferBatches(StepOutcome& last) {
    BatchReport view(report_, {controlid::kLabelTransfer, controlid::kLabelFaxId,
                               controlid::kLabelPages, controlid::kLabelPrebilling,
                               controlid::kLabelAuthentication});
    view.passPolling(!anySent());
    while (!waiting_.empty()) {
        if (!report_.isOpen())
            return TransferEnd::Stopped;
        const Batch batch = waiting_.front();
        const std::vector<Destination> part(
            destinations_.begin() + static_cast<std::ptrdiff_t>(batch.first),
            destinations_.begin() + static_cast<std::ptrdiff_t>(batch.first + batch.count));
        state_.job.send.clear();
        view.forget();
        last = RunFaxStep(state_, view, FaxStep::Transfer, options_.timing, &part);
        if (last.ok) {
            waiting_.pop_front();
            // A send of one fax shows its transfer as the step wrote it.
            if (!batched_)
                view.release();
            batchSent(batch);
            view.passPolling(false);
            continue;
        }
        // Nothing was sent: the service takes fewer destinations per fax
        // than the setting allows. The batch goes again as two halves.
        if (state_.job.send.errorCode == kTooManyDestinations && batch.count > 1) {
            waiting_.pop_front();
            const auto [front, back] = HalveBatch(batch);
            waiting_.push_front(back);
            waiting_.push_front(front);
            // From now on the window shows the sum of several faxes.
            batched_ = true;
            continue;
        }
        if (last.hostUnavailable())
            return TransferEnd::HostUnavailable;
        if (!report_.isOpen())
            return TransferEnd::Stopped;
        view.release();
        return TransferEnd::Failed;
    }
    return TransferEnd::AllSent;
}

StepOutcome BatchSend::poll() {
    StepOutcome last;
    if (progress_.batches.empty())
        return last;
    int unusablePolls = 0;
    std::uint32_t owed = 0;
    SendTiming deferred = options_.timing;
    deferred.sleep = [&owed](std::uint32_t ms) { owed = ms; };
    BatchReport quiet(report_, {controlid::kLabelRecipient, controlid::kLabelRecipient + 1,
                                controlid::kLabelRecipient + 2, controlid::kLabelStatus,
                                controlid::kLabelStatus + 1, controlid::kLabelStatus + 2,
                                controlid::kLabelTotalCost, controlid::kStatusLine});
    quiet.passPolling(false);
    for (;;) {
        const std::uint32_t timeoutBefore = state_.settings.timeoutMs;
        bool unusable = false;
        bool stop = false;
        for (std::size_t i = 0; i < progress_.batches.size() && !stop; ++i) {
            SentBatch& batch = progress_.batches[i];
            if (batch.finished || batch.abandoned)
                continue;
            if (!report_.isOpen())
                break;
            state_.job.send.faxId = batch.faxId;
            last = batched_ ? RunFaxStep(state_, quiet, FaxStep::Status, deferred)
                            : RunFaxStep(state_, report_, FaxStep::Status, options_.timing);
            silence_.polled(state_, report_, last);
            if (last.aboutThisFax)
                readAnswer(i, last);
            if (options_.recorder)
                options_.recorder->statusAnswered(state_, progress_, i);
            unusable = unusable || last.unusable;
            if (last.ok)
                batch.finished = true;
            else if (last.namesNoDestination)
                batch.abandoned = true;
            if (last.refused())
                stop = true;
        }
        // One back-off per round, however many batches answered 301.
        if (state_.settings.timeoutMs > timeoutBefore)
            state_.settings.timeoutMs = DoubledTimeout(timeoutBefore);
        if (batched_)
            owed = std::max(owed, state_.settings.timeoutMs);
        // More destinations than rows: the counts tell how all of them fare
        // (unless the line tells that the service has fallen silent).
        if ((batched_ || progress_.destinations.size() > static_cast<std::size_t>(kStatusRows)) &&
            !silence_.silent())
            showTotals();
        unusablePolls = unusable ? unusablePolls + 1 : 0;
        const bool givenUp =
            options_.maxUnusablePolls >= 0 && unusablePolls > options_.maxUnusablePolls;
        const bool finished = unfinishedBatches() == 0;
        if (batched_ && owed > 0) {
            options_.timing.wait(owed, report_);
            owed = 0;
        }
        if (finished || stop || givenUp || !report_.isOpen())
            break;
        options_.timing.wait(options_.timing.pollPauseMs, report_);
    }
    if (batched_ && unfinishedBatches() == 0 && report_.isOpen())
        report_.setPolling(false);
    return last;
}

std::size_t BatchSend::unfinishedBatches() const {
    std::size_t n = 0;
    for (const SentBatch& b : progress_.batches)
        n += b.finished || b.abandoned ? 0 : 1;
    return n;
}

bool BatchSend::allFinished() const {
    for (const SentBatch& b : progress_.batches) {
        if (!b.finished)
            return false;
    }
    return true;
}

void BatchSend::end() {
    for (const Batch& batch : waiting_) {
        for (std::size_t i = batch.first; i < batch.first + batch.count; ++i)
            progress_.destinations[i].notSent = true;
    }
    waiting_.clear();
    progress_.count();
    // A request refused before it went out (a value carrying the form's
    // delimiter): nothing of it reached the service.
    if (summary_.end == SendEnd::Refused)
        progress_.heldBack = SendProgress::HeldBack::RefusedValue;
    progress_.localFailure = LocalFailure(summary_.last);
    if (options_.recorder)
        options_.recorder->sendEnded(state_, progress_);
    summary_.destinations = progress_.destinations;
    summary_.totalCost = progress_.totalCost;
    summary_.notSent = progress_.notSent;
    summary_.faxIds.clear();
    for (const SentBatch& b : progress_.batches)
        summary_.faxIds.push_back(b.faxId);
    if ((batched_ || progress_.destinations.size() > static_cast<std::size_t>(kStatusRows)) &&
        !progress_.batches.empty() && report_.isOpen())
        showTotals();
}

void BatchSend::batchSent(const Batch& batch) {
    const SendState& send = state_.job.send;
    progress_.batches.push_back({batch, send.faxId, DecimalValue(send.prebilling)});
    for (std::size_t i = batch.first; i < batch.first + batch.count; ++i)
        progress_.destinations[i].faxId = send.faxId;
    if (options_.recorder)
        options_.recorder->batchSent(state_, progress_, progress_.batches.size() - 1);
    if (progress_.batches.size() == 1 && report_.isOpen())
        report_.enableClose();
    if (!batched_ || !report_.isOpen())
        return;
    // The labels speak of all batches sent so far.
    const LanguageTable& language = state_.language;
    std::size_t sent = 0;
    double prebilling = 0;
    for (const SentBatch& b : progress_.batches) {
        sent += b.range.count;
        prebilling += b.prebilling;
    }
    const long pages =
        PageCountFromName(state_.job.documentPath) + (state_.job.coverPageOn ? 1 : 0);
    report_.setLabel(controlid::kLabelTransfer, GetText(language, text::kOk));
    report_.setLabel(controlid::kLabelFaxId, faxIdsText(progress_.batches));
    report_.setLabel(controlid::kLabelPages,
                     FaxPagesText(language, pages, static_cast<long>(sent)));
    report_.setLabel(controlid::kLabelPrebilling,
                     MoneyText(prebilling, GetText(language, text::kCurrency)));
}

void BatchSend::readAnswer(std::size_t index, const StepOutcome& outcome) {
    const Batch& range = progress_.batches[index].range;
    std::unordered_map<std::u16string, std::size_t> byNumber;
    for (std::size_t i = 0; i < outcome.destinations.size(); ++i) {
        const DestinationStatus& answer = outcome.destinations[i];
        std::size_t at = range.count;
        if (i < range.count && progress_.destinations[range.first + i].recipient == answer.recipient) {
            at = i;
        } else {
            if (byNumber.empty()) {
                for (std::size_t k = 0; k < range.count; ++k)
                    byNumber.emplace(progress_.destinations[range.first + k].recipient, k);
            }
            const auto found = byNumber.find(answer.recipient);
            if (found != byNumber.end())
                at = found->second;
            else if (i < range.count)
                at = i;
        }
        if (at == range.count)
            continue;
        DestinationStatus& d = progress_.destinations[range.first + at];
        d.cost = answer.cost;
        d.status = answer.status;
    }
}

void BatchSend::showTotals() {
    if (!report_.isOpen())
        return;
    progress_.count();
    const LanguageTable& language = state_.language;
    report_.setLabel(controlid::kLabelRecipient, GetText(language, text::kMassFax));
    // The summary row counts the list as it goes, and says its outcome at the end.
    report_.setLabel(controlid::kLabelStatus,
                     OutcomeText(language, CountOutcome(progress_.destinations)));
    report_.setLabel(controlid::kLabelTotalCost,
                     MoneyText(progress_.totalCost, GetText(language, text::kCurrency)));
    std::u16string counts =
        GetText(language, text::kDestinationsDone, static_cast<int>(progress_.done),
                    static_cast<int>(progress_.destinations.size()),
                    static_cast<int>(progress_.ok), static_cast<int>(progress_.failed));
    if (progress_.notSent > 0)
        counts += u", " + GetText(language, text::kNotSentCount,
                                      static_cast<int>(progress_.notSent));
    report_.setLabel(controlid::kStatusLine, counts);
}

}  // namespace miravo
