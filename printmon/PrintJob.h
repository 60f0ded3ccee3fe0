// What the print monitor delivers for one printed document: the page files
// (rendered by Ghostscript, or the image itself), the job file that lists
// them, and the start of miravo with the job file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/DocumentProblem.h"
#include "printmon/RenderLimits.h"

namespace miravo::print {

struct PrintOptions {
    std::filesystem::path outFolder;  // empty: DefaultSpoolFolder()
    bool launch = true;
    std::vector<std::filesystem::path> inputs;
    // Longest Ghostscript may take per input, before kRenderSecondsPerPage
    // for each page it rendered (RenderLimits.h).
    int renderSeconds = kRenderBaseSeconds;
    // Opens a protected PDF; handed to the renderer only (PasswordHandOver.h).
    std::string password;
    // The method the job will be converted with, when it is known now: the
    // renderer then makes grey pages black and white by it as it renders,
    // and the conversion takes them as they are.
    std::optional<ConversionMethod> method;
    // The pages of each PDF or PostScript input to render (PageListOf,
    // PageRanges.h); empty: all. An image file is refused with it.
    std::string pages;
};

// The user's spool folder (SpoolFolder(): $XDG_RUNTIME_DIR/miravo, else
// a 0700 folder in the program's cache); empty when there is none.
std::filesystem::path DefaultSpoolFolder();

// Why a folder cannot hold page files, or empty when it can: it must be
// absolute and hold no '_' (the page base name holds exactly one). A '.'
// is harmless: every page file holds one page, and a count that reads as 0
// stands for one page.
std::string SpoolFolderProblem(const std::filesystem::path& folder);

struct PrintResult {
    bool ok = false;
    std::filesystem::path jobFile;
    int pages = 0;
    std::vector<std::filesystem::path> files;  // the page files, then the job file
    std::string error;
    DocumentProblem problem = DocumentProblem::None;  // why, when not ok
    std::string details;  // what a library said about the document
    std::filesystem::path failedInput;  // the document it was about
    int failedPage = 0;  // the page of an image that could not be decoded, from 1
};

// Writes the page files and the job file; on any failure removes every
// file it made and says why.
PrintResult WritePrintJob(const PrintOptions& options);

// Removes the files of a job that will not be handed on.
void RemovePrintJob(const PrintResult& result);

// The title a job of `input` is named by: its file name without extension,
// without control characters or '/', cut to 100 bytes; "document" when
// nothing is left.
std::string JobTitle(const std::filesystem::path& input);

// A PDF that needs a password, printed where nobody can be asked for it
// (the print backend): a copy of it kept in `folder` (the spool; made 0700
// when missing, and only a folder of this user) as
// "<title>__ps__pdf_<n>.pdf", mode 0600, for the desktop program to ask
// for the password when it opens it. At most kMaxPageFileBytes, as the page
// files of any job. Empty, with the reason in `error`, when it cannot be kept;
// nothing is left behind then.
std::filesystem::path KeepProtectedDocument(const std::filesystem::path& input,
                                            const std::filesystem::path& folder,
                                            std::string& error);

}  // namespace miravo::print
