// Renders a document into page files through miravo-render, a program of
// its own beside this one: Ghostscript cannot be interrupted, and a document
// may draw for ever (PostScript is a programming language) or bring the
// renderer down, so the renderer is ended when the time is up and its end
// never takes the print job with it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "app/AppSettings.h"
#include "app/DocumentProblem.h"

namespace miravo::print {

struct RenderOutcome {
    bool ok = false;
    int pages = 0;  // page files written: "<base>_<first>" onwards
    std::string error;
    DocumentProblem problem = DocumentProblem::None;  // why, when not ok
    std::string details;  // what Ghostscript said, without the document's path
};

// Writes one page file per rendered page, "<base>_<first>", "<base>_<first
// + 1>", ... (each made new, for this user only). The renderer works
// confined, in a folder of its own beside them, and the pages move to
// their places once all are rendered. Rendering may take `seconds` plus
// kRenderSecondsPerPage per page rendered, up to the ceiling, and stops at
// the page, size and memory limits of RenderLimits.h (what it writes into
// its temp folder counts with its pages) or when the job is cancelled
// (StopRequested). On failure nothing of this document remains.
// `password` opens a protected PDF; it is handed over by PasswordPipe.
// With a `method`, grey pages come as that method's black and white result
// (PageFileWriter.h): only for a job that will be converted with it.
// `pages` (PageListOf, PageRanges.h; empty: all) renders only those pages.
RenderOutcome RenderPageFiles(const std::filesystem::path& input, const std::string& base,
                              int first, int seconds, const std::string& password = {},
                              std::optional<ConversionMethod> method = std::nullopt,
                              const std::string& pages = {});

}  // namespace miravo::print
