// The conversion run: reads the job file, converts every page file it lists
// and joins the results into one fax document whose name carries the page
// count. The same worker runs behind the "Converting" dialog, in the
// headless sender and in the tests; it reports only through WorkerReport.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/AppState.h"
#include "app/WorkerReport.h"

namespace miravo {

// Result the worker closes its window with after a cancel.
inline constexpr int kConversionCancelled = 2;

struct ConversionControl {
    // Set by the window to stop the run between pages: no document is made
    // and documentPath stays empty.
    const std::atomic<bool>* cancel = nullptr;
    // The document base, in a folder the caller owns. Empty: "tosend" in a
    // new private folder of this run (MakeRunFolder), which the exit
    // clean-up removes with the document.
    std::u16string documentBase;
};

struct ConversionSummary {
    bool jobRead = false;  // the job file could be read
    bool refused = false;  // an entry was longer than a path field: nothing converted
    bool cancelled = false;
    int entries = 0;              // page files listed
    std::int32_t totalPages = 0;  // sum of the listed page counts
    int writtenPages = 0;         // pages in the joined document (the name's count)
    int failedFiles = 0;          // page files that did not give all their pages
    bool documentWritten = false;
    std::string error;  // why no document was made (empty when one was)
};

// "%s_res__%d.tif" over the document base and the page count.
std::u16string DocumentName(std::u16string_view documentBase, std::int32_t totalPages);

// The worker: reads the job file jobFilePath names, converts the pages of
// every page file on every worker, writes them in order into the document
// in a fresh private folder and leaves the document's name in documentPath
// (its base in documentBase). Any page file that does not give all its
// pages fails the run: no document is made and documentPath stays empty.
// The private folder is removed whatever happens. Adds the entries to
// pageFileCount, records pageBaseName from the first entry of the first
// run, and ends with report.close(0) (kConversionCancelled after a cancel).
ConversionSummary ConvertJob(AppState& state, WorkerReport& report,
                             const ConversionControl& control = {});
// The thread procedure form of ConvertJob; returns 0.
int ConversionWorker(AppState& state, WorkerReport& report, const ConversionControl& control = {});

// The run without a window of its own: nothing when the state is missing or
// jobFilePath is not a job file; otherwise sets the report's title and
// status text and runs the worker in the calling thread.
ConversionSummary RunConversion(AppPaths& paths, WorkerReport& report,
                                const ConversionControl& control = {});

}  // namespace miravo
