// Splitting a send into batches: the destination cap, the request body and
// the status answer each end a batch, and the planned bodies really fit.
#include "service/SendBatches.h"

#include <gtest/gtest.h>

#include "app/AppState.h"

namespace miravo {
namespace {

std::vector<Destination> destinations(std::size_t n, std::size_t nameLength = 0) {
    std::vector<Destination> out;
    for (std::size_t i = 0; i < n; ++i) {
        const std::string digits = std::to_string(1000000 + i);
        out.push_back({u"+4930" + std::u16string(digits.begin(), digits.end()),
                       std::u16string(nameLength, u'n')});
    }
    return out;
}

std::vector<std::size_t> sizes(const std::vector<Batch>& batches) {
    std::vector<std::size_t> out;
    std::size_t next = 0;
    for (const Batch& b : batches) {
        EXPECT_EQ(b.first, next);  // consecutive, in list order
        next = b.first + b.count;
        out.push_back(b.count);
    }
    return out;
}

TEST(SendBatchesTest, EachLimitEndsABatch) {
    struct Case {
        const char* what;
        std::size_t count, nameLength;
        BatchLimits limits;
        std::vector<std::size_t> expected;  // empty: only checked against the limits
    } cases[] = {
        {"nothing to send still asks the service once", 0, 0, {}, {0}},
        {"the destination cap", 1201, 0, {500}, {500, 500, 201}},
        {"a cap of one", 3, 0, {1}, {1, 1, 1}},
        {"the request body", 9000, 254, {100000, kMaxAnswerBytes, SIZE_MAX}, {}},
        {"the status answer", 3000, 0, {100000, kMaxAnswerBytes, 200000}, {}},
    };
    AppState state;
    std::vector<Destination> none;
    for (const Case& c : cases) {
        const std::vector<Destination> list = destinations(c.count, c.nameLength);
        const std::size_t fixed = TransferForm(state, none).bytes().size();
        const std::vector<Batch> plan = PlanBatches(list, fixed, c.limits);
        const std::vector<std::size_t> got = sizes(plan);
        if (!c.expected.empty()) {
            EXPECT_EQ(got, c.expected) << c.what;
            continue;
        }
        EXPECT_GT(plan.size(), 1u) << c.what;
        for (const Batch& b : plan) {
            const std::vector<Destination> part(list.begin() + b.first,
                                                list.begin() + b.first + b.count);
            const FaxForm form = TransferForm(state, part);
            EXPECT_FALSE(form.tooLarge()) << c.what;
            EXPECT_LE(form.bytes().size(), c.limits.maxBodyBytes) << c.what;
            std::size_t answer = kStatusAnswerEnvelopeBytes;
            for (const Destination& d : part)
                answer += StatusRecordBytes(d);
            EXPECT_LE(answer, c.limits.maxAnswerBytes) << c.what;
            // Full: one more destination would not have fitted.
            if (b.first + b.count < list.size()) {
                std::vector<Destination> more = part;
                more.push_back(list[b.first + b.count]);
                const FaxForm bigger = TransferForm(state, more);
                EXPECT_TRUE(bigger.bytes().size() > c.limits.maxBodyBytes ||
                            answer + StatusRecordBytes(more.back()) > c.limits.maxAnswerBytes ||
                            bigger.tooLarge())
                    << c.what;
            }
        }
    }
}

TEST(SendBatchesTest, HalvingKeepsEveryDestination) {
    for (std::size_t count : {2u, 3u, 500u, 125u}) {
        const auto [front, back] = HalveBatch({10, count});
        EXPECT_EQ(front.first, 10u);
        EXPECT_EQ(back.first, front.first + front.count);
        EXPECT_EQ(front.count + back.count, count);
        EXPECT_GE(front.count, 1u);
    }
}

}  // namespace
}  // namespace miravo
