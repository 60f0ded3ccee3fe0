// Load check: N clients (default 50), each on its own kept-alive HTTPS
// connection, poll the status of a fax for S seconds (default 10) against a
// freshly started miravo-server. Every request must get a well-formed status
// answer. Beside it, for comparison, the same clients open a new connection
// (a full TLS handshake) for every request for a third of the time.
// Exit status 0 only when no request failed.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "tests/server/ServerHarness.h"

using namespace miravo::server::test;

namespace {

struct Run {
    long ok = 0;
    long failed = 0;
    double seconds = 0;
};

Run poll(ServerProcess& server, const std::string& faxId, int clients, double seconds,
         bool keepAlive) {
    const std::string body = form({{"action", "get_fax_status"},
                                   {"username", kDemoLogin},
                                   {"password", kDemoPassword},
                                   {"pagescount", "1"},
                                   {"faxId", faxId}});
    std::atomic<long> ok{0}, failed{0};
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&] {
            std::unique_ptr<HttpsClient> client;
            while (std::chrono::steady_clock::now() < end) {
                if (!client || !keepAlive)
                    client = std::make_unique<HttpsClient>(server.caFile());
                const RawReply r = client->post(server.url(), body);
                if (r.code == CURLE_OK && r.status == 200 &&
                    xmlValue(r.body, "API_RESULT/GET_FAX_STATUS/RESULT") == "0" &&
                    xmlValue(r.body, "API_RESULT/GET_FAX_STATUS/FAX/FAX_ID") == faxId) {
                    ++ok;
                } else {
                    if (failed++ < 5)
                        std::fprintf(stderr, "failed request: curl %d, HTTP %ld, %.200s\n",
                                     static_cast<int>(r.code), r.status, r.body.c_str());
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    Run run;
    run.ok = ok;
    run.failed = failed;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int clients = argc > 2 ? std::atoi(argv[2]) : 50;
    if (seconds <= 0 || clients <= 0) {
        std::fprintf(stderr, "usage: server_status_bench [seconds] [clients]\n");
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    ServerProcess server({"--min-poll-interval", "0", "--delivery-time", "3600000", "--quiet",
                          "--threads", std::to_string(clients + 16)});
    if (!server.start()) {
        std::fprintf(stderr, "miravo-server did not start:\n%s\n", server.output().c_str());
        return 1;
    }
    HttpsClient client(server.caFile());
    const RawReply sent = client.post(server.url(), upload({{"action", "convert_and_transfer"},
                                                         {"username", kDemoLogin},
                                                         {"password", kDemoPassword},
                                                         {"numbers[1]", "0301234567"},
                                                         {"numbers[2]", "0301234500"}},
                                                        faxDocument()));
    const std::string faxId = xmlValue(sent.body, "API_RESULT/TRANSFER/FAX_ID");
    if (faxId.empty()) {
        std::fprintf(stderr, "transfer failed: %s\n", sent.body.c_str());
        return 1;
    }

    const Run kept = poll(server, faxId, clients, seconds, true);
    const Run fresh = poll(server, faxId, clients, seconds / 3, false);
    const int stopped = server.stop();

    std::printf("status polling, %d clients, HTTPS\n", clients);
    std::printf(
        "  kept-alive connections:   %8ld requests in %5.1f s = %8.0f requests/s, %ld failed\n",
        kept.ok, kept.seconds, kept.ok / kept.seconds, kept.failed);
    std::printf(
        "  new connection each time: %8ld requests in %5.1f s = %8.0f requests/s, %ld failed\n",
        fresh.ok, fresh.seconds, fresh.ok / fresh.seconds, fresh.failed);
    std::printf("  server stopped with status %d\n", stopped);
    curl_global_cleanup();
    return kept.failed == 0 && fresh.failed == 0 && stopped == 0 && kept.ok > 0 ? 0 : 1;
}
