// Renders a PDF or PostScript document with Ghostscript's library, in this
// process, into grey images of the fax page: every printed page is scaled
// to fit 1728 x 2292 at 204 x 196 dpi (aspect kept, centred) and each
// finished page is handed over while the next one is drawn. Rendering in
// process spares writing every page's 4 MB of grey through a file or pipe.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "convert/PageImage.h"

namespace miravo::print {

// Called once per rendered page, in order; the pixels are valid only during
// the call. Returning false refuses the remaining pages too.
using PageSink = std::function<bool(const GreyView& page)>;

// What becomes of Ghostscript's instance once the document is drawn: torn
// down, so that another document can follow, or left to the end of the
// process, which frees its memory at once. Its own tear-down takes about
// as long as drawing a page of text, for nothing when the process ends.
enum class AfterDocument { TearDown, ProcessEnds };

// False with a message when Ghostscript cannot read the document or the
// sink refused a page. It cannot be interrupted: a document may draw for
// ever, so callers that must not wait run it in a process of its own.
// `password` opens a protected PDF (empty: none); when the document needs
// one that was not given, or not this one, `passwordRefused` is set.
// `pages` (a list of PageListOf, PageRanges.h; empty: every page) renders
// only those pages; it is checked again here. After ProcessEnds, this
// process renders no other document.
bool RenderDocument(const std::filesystem::path& input, const PageSink& sink, std::string& error,
                    const std::string& password = {}, bool* passwordRefused = nullptr,
                    const std::string& pages = {}, AfterDocument after = AfterDocument::TearDown);

}  // namespace miravo::print
