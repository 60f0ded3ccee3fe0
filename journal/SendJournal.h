// Writes one send into the journal as it goes: the record and its
// destinations once the service has taken the fax, then each status answer
// about it. Runs on the send's worker thread; every failure is silent
// (the send never depends on the journal).
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/AppState.h"
#include "journal/Journal.h"
#include "journal/SentDocuments.h"
#include "service/SendWorker.h"

namespace miravo {

class SendJournal : public SendRecorder {
  public:
    // The journal file is opened at the first transfer answer. `title`:
    // what the send is remembered by; empty: SendTitle() of the job.
    explicit SendJournal(std::u16string title = {},
                         std::filesystem::path path = Journal::DefaultPath());
    ~SendJournal() override;

    // The first batch the service took records the send with all its
    // destinations; each further batch adds its fax id.
    void batchSent(const AppState& state, const SendProgress& progress,
                   std::size_t index) override;
    // After a status answer about one of the send's faxes.
    void statusAnswered(const AppState& state, const SendProgress& progress,
                        std::size_t index) override;
    // The destinations never sent are recorded "not sent".
    void sendEnded(const AppState& state, const SendProgress& progress) override;

    // A send that never started, stopped on this side for `why` (such as
    // numbers refused as invalid): recorded with every destination of the
    // job, never sent, and its document kept, like any failed attempt.
    void recordNotStarted(const AppState& state, SendProgress::HeldBack why);

    // How the sent document is kept: KeepSentDocument unless another keeper
    // is given (such as one that meets a full disk).
    using Keeper = std::function<KeepResult(Journal&, std::int64_t id,
                                            const std::filesystem::path& document,
                                            const std::u16string& coverText)>;
    void setKeeper(Keeper keeper) { keeper_ = std::move(keeper); }

    // The record this send repeats (send again); named in its own record.
    void setRepeats(std::int64_t id) { repeats_ = id; }
    // Why the document could not be kept, once per program run for a full
    // disk (the send goes on regardless); empty otherwise.
    std::string takeKeepWarning();

    // The recorded send's id; 0 before (or without) a record.
    std::int64_t sendId() const { return id_; }
    // Where an unreadable journal was moved at opening; empty: nothing moved.
    std::filesystem::path movedAside() const;

  private:
    void recordAttempt(const AppState& state, const SendProgress& progress);
    JournalSend newRecord(const AppState& state, const SendProgress& progress) const;
    // Keeps the document of record id_ and applies the retention.
    void keepDocument(const AppState& state, const std::u16string& reason);

    std::u16string title_;
    std::filesystem::path path_;
    std::unique_ptr<Journal> journal_;
    std::int64_t id_ = 0;
    std::int64_t repeats_ = 0;
    Keeper keeper_ = KeepSentDocument;
    std::string keepWarning_;
    // The status answer last recorded per batch, so that an answer that
    // changes nothing is not written again.
    std::vector<std::vector<std::u16string>> written_;
};

// The title a send is remembered by: the printed document's name as the
// send dialog shows it, else the document file's name without extension.
std::u16string SendTitle(const FaxJob& job);

}  // namespace miravo
