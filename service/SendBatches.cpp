#include "service/SendBatches.h"

#include <algorithm>

namespace miravo {

namespace {

std::size_t digits(std::size_t k) {
    std::size_t n = 1;
    while (k >= 10) {
        k /= 10;
        ++n;
    }
    return n;
}

// The wire bytes of a number or name: one per UTF-16 unit up to a NUL.
std::size_t lowByteLength(const std::u16string& text) {
    const std::size_t nul = text.find(u'\0');
    return nul == std::u16string::npos ? text.size() : nul;
}

}  // namespace

std::size_t TransferPartBytes(const Destination& destination, std::size_t k) {
    // "numbers[" k "]" and "names[" k "]"
    return FaxFormPartBytes(9 + digits(k), lowByteLength(destination.number)) +
           FaxFormPartBytes(7 + digits(k), lowByteLength(destination.name));
}

std::size_t StatusRecordBytes(const Destination& destination) {
    // Tags and indentation of FAX, FAX_ID, RECIPIENT, NAME, COST and STATUS
    // with room for a long fax id, cost and status; each byte of the number
    // and the name comes back as at most six (UTF-8 takes two for a byte
    // above 127, an escaped quote six).
    constexpr std::size_t kRecordBytes = 256;
    return kRecordBytes + 6 * (lowByteLength(destination.number) + lowByteLength(destination.name));
}

std::vector<Batch> PlanBatches(const std::vector<Destination>& destinations,
                               std::size_t fixedBodyBytes, const BatchLimits& limits) {
    std::vector<Batch> batches;
    const std::size_t most = std::max<std::size_t>(limits.maxDestinations, 1);
    Batch current;
    std::size_t body = fixedBodyBytes;
    std::size_t answer = kStatusAnswerEnvelopeBytes;
    for (std::size_t i = 0; i < destinations.size(); ++i) {
        const Destination& d = destinations[i];
        const std::size_t record = StatusRecordBytes(d);
        std::size_t part = TransferPartBytes(d, current.count + 1);
        const bool full = current.count >= most || body + part > limits.maxBodyBytes ||
                          answer + record > limits.maxAnswerBytes;
        if (full && current.count > 0) {
            batches.push_back(current);
            current = Batch{i, 0};
            body = fixedBodyBytes;
            answer = kStatusAnswerEnvelopeBytes;
            part = TransferPartBytes(d, 1);
        }
        // A destination too large even alone still gets its own batch: the
        // transport then refuses that request and the send says so.
        ++current.count;
        body += part;
        answer += record;
    }
    if (current.count > 0 || batches.empty())
        batches.push_back(current);
    return batches;
}

std::pair<Batch, Batch> HalveBatch(const Batch& batch) {
    const std::size_t half = batch.count / 2;
    return {Batch{batch.first, half}, Batch{batch.first + half, batch.count - half}};
}

}  // namespace miravo
