// The engine of one send: its destinations in list order (each number
// once), the batches still waiting, the transfer of each in turn (a batch
// the service finds too large goes again as two halves), the polling of
// every batch that went out, and what the window shows of them together.
// RunSend (SendWorker) runs the sequence around it: credentials,
// authentication, restarts while the service cannot be reached.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <vector>

#include "app/AppState.h"
#include "app/WorkerReport.h"
#include "service/FaxTransmission.h"
#include "service/SendBatches.h"
#include "service/SendWorker.h"

namespace miravo {

// Tells, during the polling, how long the service has been silent and when
// it answers again; the polling itself goes on either way.
class SilenceWatch {
  public:
    void polled(const AppState& state, WorkerReport& report, const StepOutcome& step);
    bool silent() const { return silent_; }

  private:
    std::chrono::steady_clock::time_point lastAnswer_ = std::chrono::steady_clock::now();
    bool silent_ = false;
};

// The job's destinations as a send lists them (each number once, in list
// order), none of them sent yet.
SendProgress UnsentProgress(const AppState& state);

class BatchSend {
  public:
    // Plans the batches of the job's destinations; a list of more than one
    // destination makes the job a mass fax.
    BatchSend(AppState& state, WorkerReport& report, const SendOptions& options,
              SendSummary& summary);

    bool batched() const { return batched_; }
    bool allSent() const { return waiting_.empty(); }
    bool anySent() const { return !progress_.batches.empty(); }

    // What the authentication lists: the whole list when it is one batch,
    // else the first batch.
    const std::vector<Destination>* authenticationList();

    enum class TransferEnd { AllSent, Stopped, HostUnavailable, Failed };

    // Sends the batches still waiting, in order, until one fails.
    TransferEnd transferBatches(StepOutcome& last);

    // Follows every batch that went out until each is finished, the window
    // closes, or a status request cannot be sent at all.
    StepOutcome poll();

    std::size_t unfinishedBatches() const;
    bool allFinished() const;

    // The destinations whose batches never went out are marked so; the
    // recorder and the summary are told how the send ended (summary.end
    // already set).
    void end();

  private:
    void batchSent(const Batch& batch);
    // A status answer about batch `index`: each record updates the
    // destination of its number within the batch (else the one in its place).
    void readAnswer(std::size_t index, const StepOutcome& outcome);
    // The window's rows, total cost and counts for the whole send.
    void showTotals();

    AppState& state_;
    WorkerReport& report_;
    const SendOptions& options_;
    SendSummary& summary_;
    std::vector<Destination> destinations_;
    std::vector<Destination> authList_;
    std::deque<Batch> waiting_;
    SendProgress progress_;
    SilenceWatch silence_;
    bool batched_ = false;
};

}  // namespace miravo
