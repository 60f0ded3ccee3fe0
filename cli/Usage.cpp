#include "cli/Usage.h"

namespace miravo::cli {

void PrintUsage(std::FILE* to) {
    std::fputs(
        "usage: miravo-send [--settings FILE] --to NUMBER[:NAME] ... [--cover TEXT]\n"
        "                   [--report yes|no|none] [--retries N] [--timeout SECONDS]\n"
        "                   (JOBFILE | FILE.pdf | FILE.tif)\n"
        "       miravo-send [--settings FILE] --journal [--since YYYY-MM-DD] [--csv]\n"
        "       miravo-send [--settings FILE] --refresh [--since YYYY-MM-DD]\n"
        "       miravo-send --convert-only JOBFILE\n"
        "Exit status: 0 every destination OK, 1 document problem, 2 usage,\n"
        "3 credentials missing or refused, 4 service error, 5 some destination failed,\n"
        "6 service unreachable, 130 stopped with Ctrl-C.\n",
        to);
}

}  // namespace miravo::cli
