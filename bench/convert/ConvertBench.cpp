// convert_bench JOBFILE [RUNS]: converts the job RUNS times (default 3)
// with the conversion worker and prints, for the fastest run, the pages,
// the time, the pages per second and the process's peak memory.
#include <sys/resource.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/Paths.h"
#include "convert/ConversionRun.h"

namespace {}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: convert_bench JOBFILE [RUNS] [dither]\n", stderr);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const bool dither = argc > 3 && std::string(argv[3]) == "dither";
    char folder[] = "/tmp/miravobenchXXXXXX";
    if (!::mkdtemp(folder))
        return 1;
    double best = 1e300;
    int pages = 0;
    for (int run = 0; run < runs; ++run) {
        miravo::AppState state;
        state.settings.dithering = dither;
        state.job.jobFilePath = miravo::FromFsPath(std::filesystem::absolute(argv[1]));
        miravo::ConversionControl control;
        control.documentBase = miravo::FromFsPath(std::filesystem::path(folder) / "doc");
        miravo::SilentWorkerReport report;
        const auto start = std::chrono::steady_clock::now();
        const miravo::ConversionSummary summary = miravo::ConvertJob(state, report, control);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!summary.documentWritten) {
            std::fprintf(stderr, "convert_bench: the job gave no document\n");
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
            return 1;
        }
        pages = summary.writtenPages;
        best = std::min(best, seconds);
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("pages %d seconds %.4f pages_per_second %.2f peak_rss_mib %.1f\n", pages, best,
                pages / best, usage.ru_maxrss / 1024.0);
    return 0;
}
