#include "journal/JournalRefresh.h"

#include <algorithm>

#include "app/LanguageTable.h"

namespace miravo {

namespace {

// Shows nothing of the requests, but is closed when the progress is: a
// stopped refresh also ends the exchange under way.
class FollowingReport : public SilentWorkerReport {
  public:
    explicit FollowingReport(const WorkerReport& progress) : progress_(progress) {}
    bool isOpen() const override { return progress_.isOpen(); }

  private:
    const WorkerReport& progress_;
};

}  // namespace

std::unique_ptr<AppState> RefreshState(const AppState& from) {
    auto state = std::make_unique<AppState>();
    state->settings = from.settings;
    if (from.language.loaded())
        LoadLanguage(state->language, from.language.filePath(), from.language.code());
    return state;
}

RefreshResult RefreshUnfinished(Journal& journal, AppState& state, WorkerReport& progress,
                                std::int64_t since, const SendTiming& timing) {
    RefreshResult result;
    const std::vector<JournalSend> sends = journal.unfinished(since);
    progress.beginProgress(static_cast<int>(std::min<std::size_t>(sends.size(), 1 << 30)));
    if (sends.empty())
        return result;
    if (state.settings.userName.empty() || state.settings.password.empty()) {
        result.end = RefreshEnd::NoCredentials;
        return result;
    }

    // The pause that ends every status request is taken before the next
    // request instead, so the last answer is not waited for in vain.
    std::uint32_t owed = 0;
    SendTiming deferred = timing;
    deferred.sleep = [&owed](std::uint32_t ms) { owed = ms; };
    // A send in another run may be reading "result.xml" meanwhile.
    deferred.storeAnswer = false;
    FollowingReport quiet(progress);
    for (const JournalSend& before : sends) {
        // Every fax (batch) of the send with a destination still under way.
        // A row without a fax was left by a send that ended (crashed)
        // before its batch went out: there is no fax to ask about.
        std::vector<std::u16string> faxIds;
        for (const JournalDestination& d : before.destinations) {
            if (d.sent && !d.final && !d.faxId.empty() &&
                std::find(faxIds.begin(), faxIds.end(), d.faxId) == faxIds.end())
                faxIds.push_back(d.faxId);
        }
        bool recorded = false;
        for (const std::u16string& faxId : faxIds) {
            if (!progress.isOpen()) {
                result.end = RefreshEnd::Stopped;
                return result;
            }
            if (owed > 0) {
                timing.wait(owed, progress);
                owed = 0;
                if (!progress.isOpen()) {
                    result.end = RefreshEnd::Stopped;
                    return result;
                }
            }
            state.job.send.clear();
            state.job.send.faxId = faxId;
            const StepOutcome step = RunFaxStep(state, quiet, FaxStep::Status, deferred);
            if (step.hostUnavailable()) {
                result.end = RefreshEnd::Unreachable;
                return result;
            }
            if (state.job.send.errorCode == 107) {
                result.end = RefreshEnd::CredentialsRefused;
                return result;
            }
            if (step.aboutThisFax &&
                journal.recordFaxStatus(before.id, faxId, step.destinations, state.language))
                recorded = true;
        }
        ++result.asked;
        if (recorded) {
            if (const auto after = journal.send(before.id)) {
                const std::size_t n =
                    std::min(before.destinations.size(), after->destinations.size());
                for (std::size_t i = 0; i < n; ++i) {
                    const JournalDestination& was = before.destinations[i];
                    const JournalDestination& is = after->destinations[i];
                    if (was.statusCode != is.statusCode)
                        result.changes.push_back(
                            {before.id, is.faxId.empty() ? before.faxId : is.faxId, is.number,
                             is.name, was.statusCode, is.statusCode});
                }
            }
        }
        progress.stepProgress();
    }
    return result;
}

}  // namespace miravo
