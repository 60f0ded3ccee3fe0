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

// Control ids of the "Converting" dialog and its language texts.
inline constexpr int kConvertingStatusControl = 1051;
inline constexpr int kConvertingTitleText = 57;
inline constexpr int kConvertingStatusText = 58;
// Result the worker closes its window with after a cancel.
inline constexpr int kConversionCancelled = 2;

struct ConversionControl {
    // Set by the window to stop the run between pages: no document is made
    // and documentPath stays the bare base path, which names no TIFF.
    const std::atomic<bool>* cancel = nullptr;
    // The document base; empty: the profile folder followed by "/tosend".
    std::u16string documentBase;
};

struct ConversionSummary {
    bool jobRead = false;  // the job file could be read
    bool refused = false;  // an entry was longer than a path field: nothing converted
    bool cancelled = false;
    int entries = 0;              // page files listed
    std::int32_t totalPages = 0;  // sum of the listed page counts (the name's count)
    int writtenPages = 0;         // pages in the joined document
    int failedFiles = 0;          // page files that gave no page
    bool documentWritten = false;
};

// "%s/tosend" over the profile folder.
std::u16string DefaultDocumentBase();
// "%s_res__%d.tif" over the document base and the total page count.
std::u16string DocumentName(std::u16string_view documentBase, std::int32_t totalPages);

// The worker: copies documentPath (the job file) into jobFilePath, converts,
// leaves the joined document's name in documentPath, adds the entries to
// pageFileCount, records pageBaseName from the first entry of the first
// run, and ends with report.close(0) (kConversionCancelled after a cancel).
ConversionSummary ConvertJob(AppState& state, WorkerReport& report,
                             const ConversionControl& control = {});
// The thread procedure form of ConvertJob; returns 0.
int ConversionWorker(AppState& state, WorkerReport& report, const ConversionControl& control = {});

// The run without a window of its own: nothing when the state is missing or
// documentPath is not a job file; otherwise sets the report's title and
// status text and runs the worker in the calling thread.
ConversionSummary RunConversion(AppPaths& paths, WorkerReport& report,
                                const ConversionControl& control = {});

}  // namespace miravo
