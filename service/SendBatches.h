// A send whose destinations do not fit one fax is split into batches, each
// its own convert_and_transfer: every batch's request body stays within one
// exchange buffer, the status answer about it within the answer limit, and
// its destination count within MAX_DESTINATIONS_PER_FAX. Batches are
// consecutive runs of the destination list, in list order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "service/FaxTransmission.h"

namespace miravo {

struct BatchLimits {
    std::size_t maxDestinations = 500;
    std::size_t maxBodyBytes = kMaxAnswerBytes;
    std::size_t maxAnswerBytes = kMaxAnswerBytes;
};

// A run of the send's destinations: [first, first + count).
struct Batch {
    std::size_t first = 0;
    std::size_t count = 0;
};

// Room a status answer needs beside its destinations (envelope, result).
inline constexpr std::size_t kStatusAnswerEnvelopeBytes = 4096;

// The bytes the two form parts of destination number k ("numbers[k]",
// "names[k]") take in the transfer body.
std::size_t TransferPartBytes(const Destination& destination, std::size_t k);
// An upper bound of the bytes one destination takes in a status answer:
// its record with fax id, number, name, cost and status, every character
// escaped at the widest.
std::size_t StatusRecordBytes(const Destination& destination);

// Splits the destinations into batches within the limits. `fixedBodyBytes`
// is the transfer body without destinations (credentials, cover page,
// page count, report option, the document's header). Every batch holds at
// least one destination; no destinations give one empty batch, so that the
// service still hears of the send.
std::vector<Batch> PlanBatches(const std::vector<Destination>& destinations,
                               std::size_t fixedBodyBytes, const BatchLimits& limits);

// The first half of `batch` and the rest: a batch the service refused as
// too large (error 112) goes again as two.
std::pair<Batch, Batch> HalveBatch(const Batch& batch);

}  // namespace miravo
