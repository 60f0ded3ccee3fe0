#include "printmon/DocumentConversion.h"

#include "app/DocumentKind.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "convert/FaxTiff.h"
#include "convert/ImageLibrary.h"
#include "convert/LibraryMessages.h"
#include "printmon/PasswordHandOver.h"
#include "printmon/RenderLimits.h"

namespace miravo::print {

static_assert(kMaxPages == kPrintedPageLimit, "the message names the printer's page limit");

DocumentConversion ConvertDocument(AppState& state, const std::filesystem::path& document,
                                   const std::string& password, WorkerReport& report,
                                   const ConversionControl& control,
                                   const std::filesystem::path& spoolFolder) {
    DocumentConversion outcome;
    KeepLibraryMessages();
    // Loading the image library makes its plug-ins say things of their own.
    const DocumentKind kind = SniffDocumentFile(document.c_str());
    const bool image = kind == DocumentKind::Image || kind == DocumentKind::Tiff;
    if (image)
        PrepareImageLibrary();
    TakeLibraryMessages();  // only what this document makes them say

    PrintOptions options;
    options.launch = false;
    options.outFolder = spoolFolder;
    options.inputs = {document};
    options.password = password;
    options.method = MethodOf(state.settings);
    outcome.printed = WritePrintJob(options);
    WipeSecret(options.password);
    if (!outcome.printed.ok) {
        outcome.problem = outcome.printed.problem;
        outcome.details = outcome.printed.details;
        // The page of a TIFF of several pages is named; a file of one
        // picture is told as an image, with more about why it cannot be read.
        const int failedPage = outcome.printed.failedPage;
        if (kind == DocumentKind::Tiff && (failedPage > 1 || CountTiffPages(document) > 1))
            outcome.failedPage = failedPage;
        return outcome;
    }
    state.job.jobFilePath = FromFsPath(outcome.printed.jobFile);
    state.job.jobArgument = state.job.jobFilePath;
    const ConversionSummary summary = ConvertJob(state, report, control);
    if (summary.documentWritten) {
        outcome.pages = summary.writtenPages;
        return outcome;
    }
    // The page files were made, so what fails now is an image the library
    // cannot decode, or (the renderer's pages being sound) our own writing.
    // The conversion's own words name page files in the spool: only the
    // library's go on.
    RemovePrintJob(outcome.printed);
    outcome.printed.ok = false;
    if (summary.cancelled || (control.cancel && *control.cancel)) {
        outcome.problem = DocumentProblem::Cancelled;
        return outcome;
    }
    outcome.details = TakeLibraryMessages();
    outcome.problem = image ? DocumentProblem::ImageUnreadable : DocumentProblem::NotWritten;
    return outcome;
}

}  // namespace miravo::print
