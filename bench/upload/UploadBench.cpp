// Uploads a large document with PostFaxUpload to a loopback HTTPS server
// running in this process, and the same file with `curl --data-binary` to
// the same server, alternately, three rounds each (plus `curl -T`, which
// streams the file, for information). Prints the best
// throughput of each, their ratio, and how far the process's resident
// memory rose above its level before our upload (sampled every
// millisecond, and the kernel's high-water mark where it can be reset).
// Goals: ratio at least 0.80, memory rise at most 16 MiB. Exit status 1
// when a goal is missed.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/AppSettings.h"
#include "app/Text.h"
#include "service/Transport.h"
#include "tests/service/LoopbackServer.h"

namespace {

using namespace miravo;
using Clock = std::chrono::steady_clock;

long long statusField(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::atoll(line.c_str() + prefix.size()) * 1024;
    }
    return -1;
}

long long residentBytes() {
    std::ifstream in("/proc/self/statm");
    long long pages = 0, resident = 0;
    in >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// Resets the kernel's peak-resident figure of this process; false where unsupported.
bool resetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return out.good();
}

void writeDocument(const std::filesystem::path& path, std::uint64_t bytes) {
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint64_t> block(1 << 17);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::uint64_t written = 0; written < bytes;) {
        for (auto& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const auto n = std::min<std::uint64_t>(bytes - written, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
}

// `how` is "--data-binary @" (the goal's comparison; curl reads the whole
// file into memory first) or "-X POST -T " (curl streams the file).
double runCurl(const std::string& url, const std::filesystem::path& ca,
               const std::filesystem::path& file, const std::string& how) {
    const std::string command = "curl -s -S -o /dev/null --noproxy '*' --http1.1 --cacert '" +
                                ca.string() +
                                "' -H 'Content-Type: multipart/form-data; boundary=--AaB03x' "
                                "-H 'Expect:' -A 'Miravo 3.0.1' " +
                                how + "'" + file.string() + "' '" + url + "'";
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (status != 0) {
        std::fprintf(stderr, "curl failed (status %d)\n", status);
        return -1;
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const std::uint64_t size = megabytes * 1000 * 1000;
    test::ClearProxyEnvironment();

    char folderTemplate[] = "/tmp/miravo-upload-bench-XXXXXX";
    if (!::mkdtemp(folderTemplate))
        return 2;
    const std::filesystem::path folder = folderTemplate;
    const auto document = folder / "document.tif";
    const auto ca = folder / "ca.pem";
    writeDocument(document, size);

    const auto certificates = test::TestCertificates::make({"DNS:localhost", "IP:127.0.0.1"});
    std::ofstream(ca) << certificates.caPem;
    test::LoopbackServer server(&certificates);
    server.keepBodies(false);

    AppSettings settings;
    settings.serviceHost = u16("localhost:" + std::to_string(server.port()));
    settings.objectPath = u"api2/proxy.php";
    settings.caFile = fromUtf8(ca.string());
    const std::string url =
        "https://localhost:" + std::to_string(server.port()) + "/api2/proxy.php";

    FaxForm prefix;
    prefix.add("action", "convert_and_transfer");
    prefix.add("username", "bench");
    prefix.add("password", "bench");
    prefix.add("numbers[1]", "123");
    prefix.add("names[1]", "Bench");
    prefix.add("pagecount", "1");
    prefix.add("TXAttachType", "NO");
    prefix.addDocumentHeader();
    const std::uint64_t expectedBody = prefix.bytes().size() + size + 16;

    double bestOurs = 1e99, bestCurl = 1e99, bestStreamed = 1e99;
    long long worstRise = 0, worstPeakRise = -1;
    bool peakResettable = true;
    for (int round = 0; round < 3; ++round) {
        const double curlSeconds = runCurl(url, ca, document, "--data-binary @");
        if (curlSeconds < 0 || server.requests().back().bodyBytes != size)
            return 2;
        bestCurl = std::min(bestCurl, curlSeconds);
        const double streamedSeconds = runCurl(url, ca, document, "-X POST -T ");
        if (streamedSeconds < 0 || server.requests().back().bodyBytes != size)
            return 2;
        bestStreamed = std::min(bestStreamed, streamedSeconds);

        peakResettable = resetPeak() && peakResettable;
        const long long before = residentBytes();
        std::atomic<bool> running{true};
        std::atomic<long long> sampledPeak{before};
        std::thread sampler([&] {
            while (running) {
                sampledPeak = std::max<long long>(sampledPeak, residentBytes());
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        std::uint64_t blocks = 0, steps = 0;
        const auto start = Clock::now();
        const ExchangeResult result =
            PostFaxUpload(settings, prefix, fromUtf8(document.string()),
                          {[&](std::uint64_t n) { blocks = n; }, [&] { ++steps; }});
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        running = false;
        sampler.join();
        if (result.outcome != Outcome::Answer ||
            server.requests().back().bodyBytes != expectedBody || blocks != size / 1024) {
            std::fprintf(stderr, "upload failed: %s\n", result.error.c_str());
            return 2;
        }
        bestOurs = std::min(bestOurs, seconds);
        worstRise = std::max(worstRise, sampledPeak - before);
        if (peakResettable)
            worstPeakRise = std::max(worstPeakRise, statusField("VmHWM") - before);
    }
    std::filesystem::remove_all(folder);

    const double mb = static_cast<double>(size) / 1e6;
    const double ours = mb / bestOurs, theirs = mb / bestCurl;
    const double ratio = ours / theirs;
    const long long rise = std::max(worstRise, worstPeakRise);
    std::printf("document                 %.0f MB, best of 3 rounds each\n", mb);
    std::printf("PostFaxUpload            %8.1f MB/s  (%.3f s)\n", ours, bestOurs);
    std::printf("curl --data-binary       %8.1f MB/s  (%.3f s)\n", theirs, bestCurl);
    std::printf("curl -T (streamed)       %8.1f MB/s  (%.3f s)\n", mb / bestStreamed, bestStreamed);
    std::printf("throughput ratio         %8.2f  (goal >= 0.80 against --data-binary)\n", ratio);
    std::printf("ratio to streamed curl   %8.2f  (for information)\n", ours / (mb / bestStreamed));
    std::printf("resident memory rise     %8.2f MiB (goal <= 16 MiB; %s)\n",
                static_cast<double>(rise) / (1 << 20),
                peakResettable ? "kernel peak and 1 ms samples" : "1 ms samples");
    const bool met = ratio >= 0.80 && rise <= (16ll << 20);
    std::printf("%s\n", met ? "goals met" : "GOAL MISSED");
    return met ? 0 : 1;
}
