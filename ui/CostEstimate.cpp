#include "ui/CostEstimate.h"

#include <filesystem>

#include "journal/Journal.h"

namespace miravo::ui {

namespace {
constexpr std::size_t kSendsLookedAt = 20;
}

std::optional<double> PricePerPage(const Journal& journal) {
    if (!journal.isOpen())
        return std::nullopt;
    std::vector<std::int64_t> ids = journal.find({});  // newest first
    if (ids.size() > kSendsLookedAt)
        ids.resize(kSendsLookedAt);
    for (const JournalSend& send : journal.sends(ids)) {
        std::size_t numbers = 0;
        for (const JournalDestination& d : send.destinations)
            numbers += d.sent ? 1 : 0;
        if (send.pages > 0 && numbers > 0 && send.estimatedCost > 0)
            return send.estimatedCost / (static_cast<double>(send.pages) * numbers);
    }
    return std::nullopt;
}

std::optional<double> PricePerPageOfTheJournal() {
    const std::filesystem::path path = Journal::DefaultPath();
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    const Journal journal(path);
    return PricePerPage(journal);
}

}  // namespace miravo::ui
