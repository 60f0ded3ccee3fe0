// miravo-render INPUT BASE FIRST
//
// Run by miravo-print for each PDF or PostScript document: renders it at the
// fax page's size and writes page files BASE_FIRST, BASE_FIRST+1, ... On
// success prints the number of pages and exits 0; otherwise prints why and
// exits 1, leaving the removal of any page file to the caller.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "printmon/GhostscriptRenderer.h"
#include "printmon/PageFileWriter.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: miravo-render INPUT BASE FIRST\n", stderr);
        return 2;
    }
    const std::string base = argv[2];
    const int first = std::atoi(argv[3]);
    int pages = 0;
    std::string error;
    miravo::print::PageFileWriter writer;
    bool ok = miravo::print::RenderDocument(
        argv[1],
        [&](const miravo::GreyView& page) {
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
    if (!ok) {
        std::fprintf(stdout, "%s\n", error.c_str());
        return 1;
    }
    std::fprintf(stdout, "%d\n", pages);
    return 0;
}
