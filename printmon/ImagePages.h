// An image file into page files: every image it holds (the pages of a TIFF)
// in order, each upright and placed on the fax page at its size
// (convert/PagePlacement.h), so that the conversion takes them as pages
// of the fax size.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "app/AppSettings.h"
#include "app/DocumentProblem.h"

namespace miravo::print {

struct ImagePagesOutcome {
    bool ok = false;
    int pages = 0;       // page files written: "<base>_<first>" onwards
    int failedPage = 0;  // the page, from 1, that could not be decoded; 0 none
    std::string error;
    DocumentProblem problem = DocumentProblem::None;  // why, when not ok
};

// Writes one page file per image, "<base>_<first>", "<base>_<first + 1>",
// ... (each made new, for this user only). Stops at the page limit of
// RenderLimits.h, at a page that cannot be decoded, and when the job is
// cancelled; on failure no page file of this image remains. With a
// `method`, pages come as its black and white result (PageFileWriter.h).
ImagePagesOutcome WriteImagePages(const std::filesystem::path& input, const std::string& base,
                                  int first,
                                  std::optional<ConversionMethod> method = std::nullopt);

}  // namespace miravo::print
