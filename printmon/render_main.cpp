// miravo-render INPUT BASE FIRST
//
// Run by miravo-print for each PDF or PostScript document: renders it at the
// fax page's size and writes page files BASE_FIRST, BASE_FIRST+1, ...,
// printing a '+' for each page as it is handed to the writer. On success
// prints the number of pages and exits 0; otherwise prints why and exits
// 1, leaving the removal of any page file to the caller. A job stops at
// page kMaxPages (counted from page 1 of the job, not FIRST) and when its
// page files pass kMaxPageFileBytes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "printmon/GhostscriptRenderer.h"
#include "printmon/PageFileWriter.h"
#include "printmon/RenderLimits.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: miravo-render INPUT BASE FIRST\n", stderr);
        return 2;
    }
    const std::string base = argv[2];
    const int first = std::atoi(argv[3]);
    int pages = 0;
    std::string error;
    std::string limit;  // why a limit stopped the document
    miravo::print::PageFileWriter writer;
    bool ok = miravo::print::RenderDocument(
        argv[1],
        [&](const miravo::GreyView& page) {
            using namespace miravo::print;
            if (first + pages > kMaxPages) {
                limit = "the document has more than " + std::to_string(kMaxPages) +
                        " pages: the Miravo printer stops there";
                return false;
            }
            if (writer.bytesWritten() > kMaxPageFileBytes) {
                limit = "the document's pages take more than 1 GiB: the Miravo printer stops there";
                return false;
            }
            std::fputc('+', stdout);
            std::fflush(stdout);
            if (!writer.add(base + "_" + std::to_string(first + pages), page))
                return false;
            ++pages;
            return true;
        },
        error);
    std::string writeError;
    if (!writer.finish(writeError)) {
        ok = false;
        error = writeError;
    }
    if (limit.empty() && writer.bytesWritten() > miravo::print::kMaxPageFileBytes)
        limit = "the document's pages take more than 1 GiB: the Miravo printer stops there";
    if (!limit.empty()) {
        ok = false;
        error = argv[1] + std::string(": ") + limit;
    }
    if (!ok) {
        std::fprintf(stdout, "\n%s\n", error.c_str());
        return 1;
    }
    std::fprintf(stdout, "\n%d\n", pages);
    return 0;
}
