// fax_pages_bench JOB_FAX JOB_ADDED JOB_ALL [RUNS]: a fax holds the pages of
// JOB_FAX, converted once; JOB_ADDED is added to it. Times, best of RUNS
// (default 3): converting JOB_ADDED and composing the one fax of both,
// against converting JOB_ALL (the same pages as one job) from scratch, as
// a fax that kept no conversions would. Prints both, the pages each
// converted, and their ratio.
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/Paths.h"
#include "bench/BestTime.h"
#include "convert/ConversionRun.h"
#include "convert/FaxPages.h"

namespace {

struct Converted {
    std::filesystem::path document;
    int pages = 0;
};

Converted convert(const char* job, const std::filesystem::path& base) {
    miravo::AppState state;
    state.job.jobFilePath = miravo::FromFsPath(std::filesystem::absolute(job));
    miravo::ConversionControl control;
    control.documentBase = miravo::FromFsPath(base);
    miravo::SilentWorkerReport report;
    const miravo::ConversionSummary summary = miravo::ConvertJob(state, report, control);
    if (!summary.documentWritten) {
        std::fprintf(stderr, "fax_pages_bench: %s gave no document\n", job);
        std::exit(1);
    }
    return {miravo::ToFsPath(state.job.documentPath), summary.writtenPages};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fputs("usage: fax_pages_bench JOB_FAX JOB_ADDED JOB_ALL [RUNS]\n", stderr);
        return 2;
    }
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
    char folder[] = "/tmp/miravofaxpagesXXXXXX";
    if (!::mkdtemp(folder))
        return 1;
    const std::filesystem::path dir(folder);
    // The fax as it stands: its document converted before the user adds one.
    const Converted fax = convert(argv[1], dir / "fax");

    int addedPages = 0, composedPages = 0;
    const double adding = miravo::bench::BestTime(runs, [&] {
        const Converted added = convert(argv[2], dir / "added");
        miravo::FaxPages pages;
        pages.add({u"fax", fax.document, fax.pages});
        pages.add({u"added", added.document, added.pages});
        const miravo::JoinResult made = pages.compose(dir / "composed.tif");
        if (!made.ok) {
            std::fprintf(stderr, "fax_pages_bench: %s\n", made.error.c_str());
            std::exit(1);
        }
        addedPages = added.pages;
        composedPages = made.pages;
    });
    int allPages = 0;
    const double again = miravo::bench::BestTime(runs, [&] {
        allPages = convert(argv[3], dir / "all").pages;
    });
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::printf("added document: %d pages converted, fax of %d pages composed: %.3f s\n",
                addedPages, composedPages, adding);
    std::printf("every page converted again: %d pages: %.3f s\n", allPages, again);
    std::printf("adding takes %.2f of converting everything again\n", adding / again);
    return 0;
}
