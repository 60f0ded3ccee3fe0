// The reading of one status answer of a large mass fax: 10,000 FAX records
// (just under the 1 MiB answer cap) parsed and applied to the send state,
// against a plain pugixml parse of the same bytes in the same process.
// Goal: at most 20 ms. Usage: status_bench [records] (default 10000).
#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/AppState.h"
#include "app/WorkerReport.h"
#include "bench/BestTime.h"
#include "service/ResultReader.h"
#include "service/StatusPolling.h"

using namespace miravo;

namespace {

// Every tenth destination still under way, the others final.
std::string statusAnswer(int records) {
    std::string xml = "<?xml version=\"1.0\"?><API_RESULT><GET_FAX_STATUS><RESULT>0</RESULT>";
    for (int i = 0; i < records; ++i) {
        xml += "<FAX><FAX_ID>77</FAX_ID><RECIPIENT>+49" + std::to_string(100000 + i) +
               "</RECIPIENT><COST>0.30</COST><STATUS>" + (i % 10 == 9 ? "" : "OK") +
               "</STATUS></FAX>";
    }
    xml += "</GET_FAX_STATUS></API_RESULT>";
    return xml;
}

}  // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const std::string answer = statusAnswer(records);
    std::printf("status answer: %d records, %zu bytes (cap %zu)\n", records, answer.size(),
                kMaxAnswerBytes);

    std::size_t destinations = 0;
    const double applied = bench::BestTime(20, [&] {
        AppState state;
        state.job.send.faxId = u"77";
        SilentWorkerReport report;
        StepOutcome outcome;
        const auto parsed = ApiAnswer::parse(answer);
        ReadStatusAnswer(state, report, parsed.get(), outcome);
        destinations = outcome.destinations.size();
    });
    const double plain = bench::BestTime(20, [&] {
        pugi::xml_document document;
        document.load_buffer(answer.data(), answer.size());
    });
    if (destinations != static_cast<std::size_t>(records)) {
        std::printf("read %zu destinations, expected %d\n", destinations, records);
        return 1;
    }
    std::printf("parsed and applied: %.2f ms (goal 20 ms: %s)\n", applied * 1e3,
                applied <= 0.020 ? "met" : "MISSED");
    std::printf("plain pugixml parse of the same bytes: %.2f ms; ratio %.1f\n", plain * 1e3,
                applied / plain);
    return 0;
}
