// Refresh: the sends of the journal that are not final are asked about
// again with the status request of the send (same credentials, same pause
// between requests, same back-off after a 301 answer), and what the
// answers say is written back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/WorkerReport.h"
#include "journal/Journal.h"
#include "service/FaxTransmission.h"

namespace miravo {

// A destination whose status changed.
struct RefreshChange {
    std::int64_t sendId = 0;
    std::u16string faxId;
    std::u16string number;
    std::u16string name;
    std::u16string before;  // status code; empty: under way
    std::u16string after;
};

enum class RefreshEnd { Done, Stopped, NoCredentials, CredentialsRefused, Unreachable };

struct RefreshResult {
    RefreshEnd end = RefreshEnd::Done;
    int asked = 0;  // sends asked about
    std::vector<RefreshChange> changes;
};

// A record of its own for a refresh running beside a send: the settings
// of `from` and the same language.
std::unique_ptr<AppState> RefreshState(const AppState& from);

// Asks about every unfinished send sent at or after `since`, oldest first.
// `progress` gets one step per send (its range first); once its isOpen()
// turns false the refresh stops before the next request.
RefreshResult RefreshUnfinished(Journal& journal, AppState& state, WorkerReport& progress,
                                std::int64_t since, const SendTiming& timing = {});

}  // namespace miravo
