// Renders a document into page files through miravo-render, a program of
// its own beside this one: Ghostscript cannot be interrupted, and a document
// may draw for ever (PostScript is a programming language) or bring the
// renderer down, so the renderer is ended when the time is up and its end
// never takes the print job with it.
#pragma once

#include <filesystem>
#include <string>

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
RenderOutcome RenderPageFiles(const std::filesystem::path& input, const std::string& base,
                              int first, int seconds, const std::string& password = {});

}  // namespace miravo::print
