// miravo-render INPUT BASE FIRST [METHOD|- [PAGES]]
// miravo-render --check-sandbox
//
// A protected PDF's password comes on standard input, when that is a pipe.
//
// Run by miravo-print for each PDF or PostScript document: renders it at the
// fax page's size and writes page files BASE_FIRST, BASE_FIRST+1, ...,
// printing a '+' for each page as it is handed to the writer. On success
// prints the number of pages and exits 0; otherwise prints why and exits
// 1 (or a status of RenderStatus.h: kRenderUnprotected when its box cannot
// be set up, before the document is opened), leaving the removal of any page file
// to the caller. A job stops at page kMaxPages (counted from page 1 of the
// job, not FIRST) and when its page files pass kMaxPageFileBytes. It reads
// the document inside its box (Sandbox.h): it writes only in BASE's
// folder, which holds its temp folder too, and runs under the memory, file
// size and time limits.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "printmon/GhostscriptRenderer.h"
#include "printmon/PageFileWriter.h"
#include "printmon/PasswordHandOver.h"
#include "printmon/RenderLimits.h"
#include "printmon/RenderStatus.h"
#include "printmon/Sandbox.h"
#include "printmon/SandboxCheck.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--check-sandbox")
        return miravo::print::CheckSandbox(stdout);
    // METHOD (threshold, dithering, automatic): the conversion method the
    // job will be converted with; grey pages are then written as its black
    // and white result (PageFileWriter.h).
    // "-" for none. PAGES: the pages to render (PageRanges.h), all without.
    const bool noMethod = argc >= 5 && std::string(argv[4]) == "-";
    const std::optional<miravo::ConversionMethod> method =
        argc >= 5 && !noMethod ? miravo::print::MethodFromArgument(argv[4]) : std::nullopt;
    if (argc < 4 || argc > 6 || (argc >= 5 && !noMethod && !method)) {
        std::fputs(
            "usage: miravo-render INPUT BASE FIRST [threshold|dithering|automatic|- [PAGES]]\n",
            stderr);
        return 2;
    }
    const std::string pageList = argc == 6 ? argv[5] : "";
    const std::string base = argv[2];
    const int first = std::atoi(argv[3]);
    int pages = 0;
    std::string error;
    std::string limit;  // why a limit stopped the document
    int status = miravo::print::kRenderFailed;
    // Read before the box closes: it travels on a pipe made before we started.
    std::string password = miravo::print::ReadHandedPassword(STDIN_FILENO);
    bool passwordRefused = false;
    const miravo::print::RenderLimits limits = miravo::print::CurrentRenderLimits();
    miravo::print::SandboxPlan plan;
    plan.document = argv[1];
    plan.folder = std::filesystem::absolute(base).parent_path();
    plan.maxFileBytes = limits.maxBytes;
    plan.maxMemory = limits.maxMemory;
    plan.maxCpuSeconds = 2 * limits.maxSeconds;  // the watcher ends it long before
    if (!miravo::print::EnterSandbox(plan, error)) {
        // Not the document's fault: it was never opened.
        miravo::print::WipeSecret(password);
        std::fprintf(stdout,
                     "\n%s: the system's protection of the renderer could not be set up, so the "
                     "document was not opened: %s\n",
                     argv[1], error.c_str());
        return miravo::print::kRenderUnprotected;
    }
    miravo::print::PageFileWriter writer(method);
    bool ok = miravo::print::RenderDocument(
        argv[1],
        [&](const miravo::GreyView& page) {
            using namespace miravo::print;
            if (first + pages > kMaxPages) {
                limit = "the document has more than " + std::to_string(kMaxPages) +
                        " pages: the Miravo printer stops there";
                status = kRenderTooManyPages;
                return false;
            }
            if (writer.bytesWritten() > kMaxPageFileBytes) {
                limit = "the document's pages take more than 1 GiB: the Miravo printer stops there";
                status = kRenderTooLarge;
                return false;
            }
            std::fputc('+', stdout);
            std::fflush(stdout);
            if (!writer.add(base + "_" + std::to_string(first + pages), page))
                return false;
            ++pages;
            return true;
        },
        error, password, &passwordRefused, pageList, miravo::print::AfterDocument::ProcessEnds);
    miravo::print::WipeSecret(password);
    if (passwordRefused)
        status = miravo::print::kRenderNeedsPassword;
    std::string writeError;
    if (!writer.finish(writeError)) {
        ok = false;
        error = writeError;
    }
    if (limit.empty() && writer.bytesWritten() > miravo::print::kMaxPageFileBytes) {
        limit = "the document's pages take more than 1 GiB: the Miravo printer stops there";
        status = miravo::print::kRenderTooLarge;
    }
    // Ghostscript names a failed allocation a VMerror; others fail as they may.
    if (!ok && limit.empty() &&
        (error.find("VMerror") != std::string::npos || miravo::print::NearMemoryLimit())) {
        limit = "rendering needs more than " + miravo::print::SizeText(limits.maxMemory) +
                " of memory: the Miravo printer stops there";
        status = miravo::print::kRenderTooLarge;
    }
    if (!limit.empty()) {
        ok = false;
        error = argv[1] + std::string(": ") + limit;
    }
    if (!ok) {
        std::fprintf(stdout, "\n%s\n", error.c_str());
        return status;
    }
    std::fprintf(stdout, "\n%d\n", pages);
    return 0;
}
