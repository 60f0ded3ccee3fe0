// A document from anywhere (chosen, dropped, named on the command line)
// into the fax document: rendered into page files and a job file as
// printing it does, then converted. The desktop program and miravo-send
// both come here, and both word a failure from its DocumentProblem.
#pragma once

#include <filesystem>
#include <string>

#include "app/AppState.h"
#include "app/DocumentProblem.h"
#include "app/WorkerReport.h"
#include "convert/ConversionRun.h"
#include "printmon/PrintJob.h"

namespace miravo::print {

struct DocumentConversion {
    PrintResult printed;  // the page files and job file made (printed.ok)
    int pages = 0;        // pages in the fax document; 0 when none was made
    DocumentProblem problem = DocumentProblem::None;
    // What a library said (Ghostscript, libtiff): for a details line only.
    // Never holds a path of ours.
    std::string details;
    // The page, from 1, of a TIFF of several pages that cannot be decoded;
    // 0 when none.
    int failedPage = 0;
};

// Renders `document` (opened with `password` when it is a protected PDF)
// and converts the job; on success the job's fields and documentPath of
// `state` name the results. On failure the job's files are removed again
// and documentPath stays empty. The page files go to `spoolFolder` (empty:
// the user's spool folder).
DocumentConversion ConvertDocument(AppState& state, const std::filesystem::path& document,
                                   const std::string& password, WorkerReport& report,
                                   const ConversionControl& control = {},
                                   const std::filesystem::path& spoolFolder = {});

}  // namespace miravo::print
