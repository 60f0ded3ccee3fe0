// One send of 25,000 destinations against a freshly started miravo-server
// that takes 500 per fax: 50 batches, each uploaded, then every batch
// polled until all destinations are final. Measures the CPU time of this
// process (forms, TLS, parsing all status answers, the journal) against
// the wall time, and beside it, in the same run, the CPU time of parsing
// the same number of status answers alone. Goal: under 10 s of client CPU.
// Usage: batch_send_bench [destinations]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/Paths.h"
#include "app/Text.h"
#include "bench/BestTime.h"
#include "journal/SendJournal.h"
#include "service/ResultReader.h"
#include "service/SendWorker.h"
#include "tests/server/ServerHarness.h"

using namespace miravo;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class NoPrompt : public CredentialsPrompt {
  public:
    bool ask(AppState&) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 25000;
    miravo::test::TempDir dir;
    server::test::ServerProcess server({"--quiet", "--version-port", "-1",
                                        "--min-poll-interval", "0", "--delivery-time", "500",
                                        "--max-destinations", "500"});
    if (!server.start()) {
        std::fprintf(stderr, "miravo-server did not start\n");
        return 2;
    }
    server.command({"user", "add", "bench@miravo.test", "bench", "--credit", "1000000"});
    OverrideApplicationDataFolder(fromUtf8((dir.path() / "appdata").string()));

    AppState state;
    const std::filesystem::path document = dir.path() / "fax_res__1.tif";
    {
        const std::string bytes = server::test::faxDocument();
        std::FILE* f = std::fopen(document.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    state.job.documentPath = fromUtf8(document.string());
    state.settings.serviceHost = u16("127.0.0.1:" + std::to_string(server.port()));
    state.settings.caFile = fromUtf8(server.caFile().string());
    state.settings.objectPath = u"api2/proxy.php";
    state.settings.userName = u"bench@miravo.test";
    state.settings.password = u"bench";
    state.settings.timeoutMs = 200;
    state.settings.defaultRegion = u"DE";
    for (int i = 0; i < count; ++i)
        state.job.recipients.push_back(
            Recipient::entry(u"0", u"", u16("+4930" + std::to_string(20000000 + i)), u""));

    SilentWorkerReport report;
    NoPrompt prompt;
    SendOptions options;
    options.timing.stepPauseMs = 0;
    options.timing.pollPauseMs = 100;
    options.waitForClose = false;
    SendJournal journal(u"bench", dir.path() / "journal.sqlite");
    options.recorder = &journal;

    const double cpuBefore = cpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    const SendSummary summary = RunSend(state, report, prompt, options);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double cpu = cpuSeconds() - cpuBefore;

    std::size_t final = 0;
    for (const DestinationStatus& d : summary.destinations)
        final += d.status.empty() ? 0 : 1;
    std::printf("%d destinations, %zu faxes, %zu final, end %d\n", count, summary.faxIds.size(),
                final, static_cast<int>(summary.end));
    std::printf("whole send: %.2f s client CPU (goal < 10 s), %.2f s wall\n", cpu, wall);

    // Comparison: parsing as many status answers of 500 records alone.
    std::string answer = "<?xml version=\"1.0\"?><API_RESULT><GET_FAX_STATUS><RESULT>0</RESULT>";
    for (int i = 0; i < 500; ++i)
        answer += "<FAX><FAX_ID>7</FAX_ID><RECIPIENT>+4930" + std::to_string(20000000 + i) +
                  "</RECIPIENT><NAME></NAME><COST>0.10</COST><STATUS>OK</STATUS></FAX>";
    answer += "</GET_FAX_STATUS></API_RESULT>";
    const std::size_t answers = (static_cast<std::size_t>(count) + 499) / 500 * 2;
    const double parseCpuBefore = cpuSeconds();
    for (std::size_t i = 0; i < answers; ++i)
        ApiAnswer::parse(answer);
    const double parseCpu = cpuSeconds() - parseCpuBefore;
    std::printf("parsing %zu status answers alone: %.2f s CPU; ratio %.1f\n", answers, parseCpu,
                parseCpu > 0 ? cpu / parseCpu : 0.0);
    OverrideApplicationDataFolder(std::nullopt);
    server.stop();
    return summary.end == SendEnd::Finished && cpu < 10.0 ? 0 : 1;
}
