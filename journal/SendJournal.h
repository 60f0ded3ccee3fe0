// Writes one send into the journal as it goes: the record and its
// destinations once the service has taken the fax, then each status answer
// about it. Runs on the send's worker thread; every failure is silent
// (the send never depends on the journal).
#pragma once

#include <filesystem>
#include <memory>

#include "app/AppState.h"
#include "journal/Journal.h"
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

    // The recorded send's id; 0 before (or without) a record.
    std::int64_t sendId() const { return id_; }
    // Where an unreadable journal was moved at opening; empty: nothing moved.
    std::filesystem::path movedAside() const;

  private:
    std::u16string title_;
    std::filesystem::path path_;
    std::unique_ptr<Journal> journal_;
    std::int64_t id_ = 0;
    // The status answer last recorded per batch, so that an answer that
    // changes nothing is not written again.
    std::vector<std::vector<std::u16string>> written_;
};

// The title a send is remembered by: the printed document's name as the
// send dialog shows it, else the document file's name without extension.
std::u16string SendTitle(const FaxJob& job);

}  // namespace miravo
