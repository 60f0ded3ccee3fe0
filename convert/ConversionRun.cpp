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
#include "convert/OrderedFaxDocument.h"
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
    const std::vector<ConversionUnit> units = PlanConversionUnits(entries, workers);
    std::int64_t documentPages = 0;
    for (const JobEntry& entry : entries)
        documentPages += BandCount(entry.pageCount);
    // The page-number tag holds 16 bits: such a job is converted, to tell
    // which page file fails, but makes no document.
    const bool tooManyPages = documentPages > 65535;
    const std::filesystem::path unfinished = work.path() / "document.tif";
    OrderedFaxDocument document(documentPages, 4 * static_cast<std::size_t>(workers),
                                control.cancel);
    if (!tooManyPages && !document.open(unfinished))
        return fail("the converted pages cannot be written to " + work.path().string() + ": " +
                    document.error() + "; no fax document was made");

    // The pieces are independent: each worker (one per core, at most
    // CONVERSION_WORKERS) takes the next one, a page at a time, and hands
    // its coded pages to the document, which writes them in order; a
    // worker too far ahead waits, so memory stays that of a page file and
    // a few pages per worker. The pieces of a page file of several pages
    // share its pixels, read by whichever worker comes first and freed
    // when its last piece is done. Only this thread talks to the report,
    // one step per page file. The first failed page file stops the rest,
    // since the run can no longer give a whole document.
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
    // Converts a piece; true when it gave all its pages, or when it was
    // stopped for another piece's failure or a cancel (not its fault).
    auto convert = [&](std::size_t u) {
        const ConversionUnit& unit = units[u];
        const JobEntry& entry = entries[unit.entry];
        thread_local PageFileSource own;  // kept from page file to page file
        const PageFileSource* source = &own;
        if (unit.whole) {
            ReadPageFile(ToFsPath(entry.pageFilePath), entry.pageCount, own);
        } else {
            Shared& file = shared[unit.entry];
            const std::lock_guard<std::mutex> lock(file.mutex);
            if (!file.read) {
                file.source = std::make_unique<PageFileSource>();
                ReadPageFile(ToFsPath(entry.pageFilePath), entry.pageCount, *file.source);
                file.read = true;
            }
            source = file.source.get();
        }
        readErrors[u] = source->read.readError;
        if (source->bands == 0)
            return false;
        const std::uint32_t bands = unit.whole ? source->bands : 1;
        std::vector<std::uint8_t> codes;
        bool stopped = false;
        const std::uint32_t handed = ConvertPageBands(
            *source, method, unit.firstBand, bands,
            [&](std::uint32_t band, const ConvertedPage& page) {
                if (!CodesOf(page, codes)) {
                    writeErrors[u] = "the page cannot be coded";
                    return false;
                }
                if (tooManyPages)
                    return true;
                const int width = page.codes ? kFaxWidth : page.bits.width;
                const int height = page.codes ? kFaxHeight : page.bits.height;
                switch (document.put(unit.firstPage + band - unit.firstBand, std::move(codes),
                                     width, height)) {
                    case OrderedFaxDocument::Put::Taken:
                        return true;
                    case OrderedFaxDocument::Put::Refused:
                        stopped = true;
                        return false;
                    case OrderedFaxDocument::Put::Failed:
                        writeErrors[u] = document.error();
                        return false;
                }
                return false;
            },
            control.cancel);
        if (handed == bands)
            pagesMade += bands;
        return handed == bands || stopped || cancelled(control);
    };
    auto convertSome = [&](bool reporting) {
        int reported = 0;
        for (std::size_t u = next++; u < units.size(); u = next++) {
            if (cancelled(control) || failed.load() > 0)
                break;
            const ConversionUnit& unit = units[u];
            const bool unitFails = !convert(u);
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
                document.giveUp();  // the workers waiting for its pages go on
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
    if (tooManyPages)
        return fail("the fax pages cannot be joined: too many pages");
    if (!document.close())
        return fail("the converted pages cannot be written to " + work.path().string() + ": " +
                    document.error() + "; no fax document was made");
    // The document is named after the pages it holds; it was written in the
    // work folder and is renamed, so no part of a document remains when it
    // fails.
    const std::u16string documentName = DocumentName(base, saturatedAdd(0, pagesMade.load()));
    std::error_code ec;
    std::filesystem::rename(unfinished, ToFsPath(documentName), ec);
    if (ec)
        return fail("the fax pages cannot be joined: cannot replace " +
                    ToFsPath(documentName).string());
    summary.documentWritten = true;
    summary.writtenPages = static_cast<int>(pagesMade.load());
    job.documentPath = documentName;
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
