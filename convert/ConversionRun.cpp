#include "convert/ConversionRun.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/ControlIds.h"
#include "app/FileBytes.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "app/TextIds.h"
#include "convert/ConversionUnits.h"
#include "convert/FaxTiff.h"
#include "convert/ImageLibrary.h"
#include "convert/JobFile.h"
#include "convert/PageConverter.h"

namespace miravo {

namespace {

bool cancelled(const ConversionControl& control) {
    return control.cancel && control.cancel->load(std::memory_order_relaxed);
}

std::int32_t saturatedAdd(std::int32_t a, std::int64_t b) {
    const std::int64_t sum = static_cast<std::int64_t>(a) + b;
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(sum, std::numeric_limits<std::int32_t>::max()));
}

void removeFile(const std::u16string& name) {
    std::error_code ec;
    std::filesystem::remove(ToFsPath(name), ec);
}

}  // namespace

std::u16string DocumentName(std::u16string_view documentBase, std::int32_t totalPages) {
    return std::u16string(documentBase) + u"_res__" + toU16(totalPages) + u".tif";
}

ConversionSummary ConvertJob(AppState& state, WorkerReport& report,
                             const ConversionControl& control) {
    ConversionSummary summary;
    FaxJob& job = state.job;
    const ConversionMethod method = MethodOf(state.settings);
    std::u16string base = control.documentBase;
    if (base.empty()) {
        // The document of an earlier run of this job is replaced by this one.
        if (!job.runFolder.empty())
            RemoveRunFolder(job.runFolder);
        job.runFolder = MakeRunFolder();
        base = job.runFolder.empty() ? std::u16string() : job.runFolder + u"/tosend";
    }
    job.documentBase = base;
    job.documentPath.clear();

    auto finish = [&](int result) {
        report.close(result);
        return summary;
    };
    auto fail = [&](std::string why) {
        summary.error = std::move(why);
        return finish(0);
    };
    if (base.empty())
        return fail("no private folder for the fax document could be made in the cache folder");

    const std::optional<std::u16string> text = ReadJobFileText(job.jobFilePath);
    if (!text)
        return fail("the job file cannot be read");
    summary.jobRead = true;
    const std::vector<JobEntry> entries = ParseJobEntries(*text);
    summary.entries = static_cast<int>(entries.size());
    // A NUL ends a name at the file system: the page file would be another
    // file, and the clean-up would delete that one. The job is not taken.
    if (std::any_of(entries.begin(), entries.end(), [](const JobEntry& e) {
            return e.pageFilePath.find(u'\0') != std::u16string::npos;
        })) {
        summary.refused = true;
        return fail("a page file name in the job file holds a NUL character; the job is refused");
    }

    // Every entry counts for the exit clean-up, converted or not.
    for (const JobEntry& entry : entries) {
        job.pageFileCount = saturatedAdd(job.pageFileCount, 1);
        summary.totalPages = saturatedAdd(summary.totalPages, entry.pageCount);
    }
    if (!entries.empty() && !job.pageBaseRecorded) {
        job.pageBaseRecorded = true;
        job.pageBaseName = PageBaseName(entries.front().pageFilePath);
        job.pageFiles.clear();
        for (const JobEntry& entry : entries)
            job.pageFiles.push_back(entry.pageFilePath);
    }
    // An entry longer than a path field cannot be taken as it stands, and
    // a fax without that entry's pages would go out incomplete.
    if (std::any_of(entries.begin(), entries.end(), [](const JobEntry& e) { return e.tooLong; })) {
        summary.refused = true;
        return fail("a page file name in the job file is too long");
    }
    if (entries.empty())
        return fail("the job file lists no page file");

    const std::filesystem::path documentFolder = ToFsPath(base).parent_path();
    // The run's intermediates, beside the document: removed when the run
    // ends, however it ends.
    const PrivateFolder work(documentFolder, "work");
    if (work.path().empty())
        return fail("no private work folder could be made in " + documentFolder.string());
    const std::u16string workBase = FromFsPath(work.path() / ToFsPath(base).filename());

    if (report.isOpen())
        report.beginProgress(static_cast<int>(entries.size()));
    const unsigned workers = ConversionWorkerCount(state.settings);
    const std::vector<ConversionUnit> units = PlanConversionUnits(entries, workers, workBase);
    std::vector<std::filesystem::path> results;
    results.reserve(units.size());
    for (const ConversionUnit& unit : units)
        results.push_back(ToFsPath(unit.resultName));

    // The pieces are independent: each worker (one per core, at most
    // CONVERSION_WORKERS) takes the next one, a page at a time, so memory
    // stays that of a page file per worker. The pieces of a page file of
    // several pages share its pixels, read by whichever worker comes
    // first, and freed when its last piece is done. Only this thread talks
    // to the report, one step per page file. The first failed page file
    // stops the rest, since the run can no longer give a whole document.
    struct Shared {
        std::mutex mutex;
        std::unique_ptr<PageFileSource> source;
        bool read = false;
        int piecesLeft = 0;
        bool failed = false;
    };
    std::vector<Shared> shared(entries.size());
    for (const ConversionUnit& unit : units)
        ++shared[unit.entry].piecesLeft;
    std::atomic<std::size_t> next{0};
    std::atomic<int> done{0};
    std::atomic<int> failed{0};
    std::atomic<std::int64_t> pagesMade{0};
    std::atomic<std::size_t> firstFailed{entries.size()};
    std::vector<std::string> writeErrors(units.size());  // each written by its one thread
    std::vector<char> readErrors(units.size(), 0);       // likewise
    std::vector<char> unitFailed(units.size(), 0);       // likewise
    auto convert = [&](const ConversionUnit& unit) {
        const JobEntry& entry = entries[unit.entry];
        if (unit.whole)
            return ConvertPageFile(method, workBase, static_cast<std::uint32_t>(unit.entry + 1),
                                   entry.pageFilePath, entry.pageCount, control.cancel);
        Shared& file = shared[unit.entry];
        const PageFileSource* source;
        {
            const std::lock_guard<std::mutex> lock(file.mutex);
            if (!file.read) {
                file.source = std::make_unique<PageFileSource>();
                ReadPageFile(ToFsPath(entry.pageFilePath), entry.pageCount, *file.source);
                file.read = true;
            }
            source = file.source.get();
        }
        return ConvertPageBands(*source, method, ToFsPath(unit.resultName), unit.firstBand,
                                unit.bands, control.cancel);
    };
    auto convertSome = [&](bool reporting) {
        int reported = 0;
        for (std::size_t u = next++; u < units.size(); u = next++) {
            if (cancelled(control) || failed.load() > 0)
                break;
            const ConversionUnit& unit = units[u];
            const PageFileResult converted = convert(unit);
            pagesMade += converted.pages;
            writeErrors[u] = converted.writeError;
            readErrors[u] = converted.readError;
            const bool unitFails = converted.pages == 0 && !cancelled(control);
            unitFailed[u] = unitFails;
            bool fileDone;
            bool fileFails = false;
            {
                Shared& file = shared[unit.entry];
                const std::lock_guard<std::mutex> lock(file.mutex);
                fileDone = --file.piecesLeft == 0;
                if (fileDone)
                    file.source.reset();
                fileFails = unitFails && !file.failed;
                file.failed = file.failed || unitFails;
            }
            if (fileFails) {
                ++failed;
                const std::size_t i = unit.entry;
                std::size_t seen = firstFailed.load();
                while (i < seen && !firstFailed.compare_exchange_weak(seen, i)) {
                }
            }
            if (fileDone)
                ++done;
            for (; reporting && reported < done.load() && report.isOpen(); ++reported)
                report.stepProgress();
        }
        return reported;
    };
    const std::size_t helpers = std::min<std::size_t>(workers, units.size()) - 1;
    // The image library and its format plug-ins are loaded here, before the
    // threads, but only when a page file needs them: loading them costs
    // more than converting a short job of the renderer's own page files.
    std::string noImages;
    if (!std::all_of(
            entries.begin(), entries.end(),
            [](const JobEntry& e) { return IsRendererPageFile(ToFsPath(e.pageFilePath)); }) &&
        !PrepareImageLibrary(&noImages))
        return fail("images cannot be read: " + noImages + "; no fax document was made");
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < helpers; ++t)
        threads.emplace_back(convertSome, false);
    int reported = convertSome(true);
    for (std::thread& thread : threads)
        thread.join();
    for (; reported < done.load() && report.isOpen(); ++reported)
        report.stepProgress();
    summary.failedFiles = failed.load();

    if (cancelled(control)) {
        summary.cancelled = true;
        summary.error = "the conversion was cancelled";
        return finish(kConversionCancelled);
    }
    if (summary.failedFiles > 0) {
        removeFile(DocumentName(base, summary.totalPages));  // an earlier run's, not this one
        const std::size_t first = firstFailed.load();
        const std::u16string& failedFile = entries[first].pageFilePath;
        // The page file's first piece that failed tells why.
        std::size_t piece = 0;
        while (units[piece].entry != first || !unitFailed[piece])
            ++piece;
        if (!writeErrors[piece].empty())
            return fail("the converted pages cannot be written to " +
                        ToFsPath(workBase).parent_path().string() + ": " + writeErrors[piece] +
                        "; no fax document was made");
        // Named by the document's page, as the user counts them.
        std::int64_t page = 1;
        for (std::size_t i = 0; i < first; ++i)
            page += BandCount(entries[i].pageCount);
        // A read that failed once may succeed when tried again: the failure
        // seen is what is told.
        std::string problem = FileReadProblem(ToFsPath(failedFile));
        if (problem.empty() && readErrors[piece])
            problem = "a read of the file failed";
        return fail("the page file " + toUtf8(failedFile) +
                    (problem.empty() ? " cannot be converted" : " cannot be read: " + problem) +
                    " (page " + std::to_string(page) + "); no fax document was made");
    }
    // The document is named after the pages it holds; the join writes it
    // beside its name and renames it, so no part of a document remains
    // when it fails.
    const std::u16string document = DocumentName(base, saturatedAdd(0, pagesMade.load()));
    const JoinResult joined = JoinFaxTiffs(results, ToFsPath(document));
    if (!joined.ok)
        return fail("the fax pages cannot be joined: " + joined.error);
    summary.documentWritten = true;
    summary.writtenPages = joined.pages;
    job.documentPath = document;
    return finish(0);
}

int ConversionWorker(AppState& state, WorkerReport& report, const ConversionControl& control) {
    ConvertJob(state, report, control);
    return 0;
}

ConversionSummary RunConversion(AppPaths& paths, WorkerReport& report,
                                const ConversionControl& control) {
    if (!paths.state || !CheckJobFile(paths.state->job.jobFilePath))
        return {};
    AppState& state = *paths.state;
    report.setTitle(GetText(state.language, text::kConvertingTitle));
    report.setLabel(controlid::kStatusLine, GetText(state.language, text::kConvertingStatus));
    return ConvertJob(state, report, control);
}

}  // namespace miravo
