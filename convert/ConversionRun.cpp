#include "convert/ConversionRun.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <thread>
#include <vector>

#include "app/Paths.h"
#include "app/Text.h"
#include "convert/FaxTiff.h"
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

std::u16string DefaultDocumentBase() {
    return ProfileFolder() + u"/tosend";
}

std::u16string DocumentName(std::u16string_view documentBase, std::int32_t totalPages) {
    return std::u16string(documentBase) + u"_res__" + toU16(totalPages) + u".tif";
}

ConversionSummary ConvertJob(AppState& state, WorkerReport& report,
                             const ConversionControl& control) {
    ConversionSummary summary;
    FaxJob& job = state.job;
    const bool dithering = state.settings.dithering;
    job.jobFilePath = job.documentPath;
    const std::u16string base =
        control.documentBase.empty() ? DefaultDocumentBase() : control.documentBase;
    job.documentPath = base;

    auto finish = [&](int result) {
        report.close(result);
        return summary;
    };

    const std::optional<std::u16string> text = ReadJobFileText(job.jobFilePath);
    if (!text)
        return finish(0);
    summary.jobRead = true;
    const std::vector<JobEntry> entries = ParseJobEntries(*text);
    summary.entries = static_cast<int>(entries.size());

    // Every entry counts for the exit clean-up, converted or not.
    for (const JobEntry& entry : entries) {
        job.pageFileCount = saturatedAdd(job.pageFileCount, 1);
        summary.totalPages = saturatedAdd(summary.totalPages, entry.pageCount);
    }
    if (!entries.empty() && !job.pageBaseRecorded) {
        job.pageBaseRecorded = true;
        job.pageBaseName = PageBaseName(entries.front().pageFilePath);
    }
    // An entry longer than a path field cannot be taken as it stands, and
    // a fax without that entry's pages would go out incomplete.
    if (std::any_of(entries.begin(), entries.end(), [](const JobEntry& e) { return e.tooLong; })) {
        summary.refused = true;
        return finish(0);
    }

    if (report.isOpen())
        report.beginProgress(static_cast<int>(entries.size()));
    std::vector<std::filesystem::path> results;
    results.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        results.push_back(ToFsPath(PageFileResultName(base, static_cast<std::uint32_t>(i + 1))));

    // Page files are independent: each core takes the next one (a page at
    // a time per core, so memory stays that of a few pages). Only this
    // thread talks to the report.
    std::atomic<std::size_t> next{0};
    std::atomic<int> done{0};
    std::atomic<int> failed{0};
    auto convertSome = [&](bool reporting) {
        int reported = 0;
        for (std::size_t i = next++; i < entries.size(); i = next++) {
            if (cancelled(control))
                break;
            const PageFileResult converted =
                ConvertPageFile(dithering, base, static_cast<std::uint32_t>(i + 1),
                                entries[i].pageFilePath, entries[i].pageCount, control.cancel);
            if (converted.pages == 0)
                ++failed;
            ++done;
            for (; reporting && reported < done.load() && report.isOpen(); ++reported)
                report.stepProgress();
        }
        return reported;
    };
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t helpers = entries.empty() ? 0 : std::min(cores, entries.size()) - 1;
    PrepareImageDecoding();
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < helpers; ++t)
        threads.emplace_back(convertSome, false);
    int reported = convertSome(true);
    for (std::thread& thread : threads)
        thread.join();
    for (; reported < done.load() && report.isOpen(); ++reported)
        report.stepProgress();
    summary.failedFiles = failed.load();

    const std::u16string document = DocumentName(base, summary.totalPages);
    if (cancelled(control)) {
        summary.cancelled = true;
        for (const auto& result : results) {
            std::error_code ec;
            std::filesystem::remove(result, ec);
        }
        return finish(kConversionCancelled);
    }
    const JoinResult joined = JoinFaxTiffs(results, ToFsPath(document), MissingInput::Skip);
    for (const auto& result : results) {
        std::error_code ec;
        std::filesystem::remove(result, ec);
    }
    if (joined.ok) {
        summary.documentWritten = true;
        summary.writtenPages = joined.pages;
    } else {
        // A document of an earlier run under the same name is not this one.
        removeFile(document);
    }
    job.documentPath = document;
    return finish(0);
}

int ConversionWorker(AppState& state, WorkerReport& report, const ConversionControl& control) {
    ConvertJob(state, report, control);
    return 0;
}

ConversionSummary RunConversion(AppPaths& paths, WorkerReport& report,
                                const ConversionControl& control) {
    if (!paths.state || !CheckJobFile(paths.state->job.documentPath))
        return {};
    AppState& state = *paths.state;
    report.setTitle(GetText(state.language, kConvertingTitleText));
    report.setLabel(kConvertingStatusControl, GetText(state.language, kConvertingStatusText));
    return ConvertJob(state, report, control);
}

}  // namespace miravo
