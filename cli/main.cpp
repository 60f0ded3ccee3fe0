// miravo-send: the program's engine without a display.
//
//   miravo-send --convert-only JOBFILE
//       converts a print job into the fax document and prints its path and
//       page count.
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/ConvertOnly.h"

namespace {

void usage(std::FILE* to) {
    std::fputs("usage: miravo-send --convert-only JOBFILE\n", to);
}

// One entry per mode: its option, the number of arguments it takes and
// what runs it.
struct Mode {
    const char* option;
    std::size_t arguments;
    int (*run)(const std::vector<std::string>& arguments);
};

int convertOnly(const std::vector<std::string>& arguments) {
    return miravo::cli::ConvertOnly(arguments.front(), stdout, stderr);
}

constexpr Mode kModes[] = {
    {"--convert-only", 1, convertOnly},
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // image format plug-ins
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args.front() == "--help" || args.front() == "-h")) {
        usage(stdout);
        return 0;
    }
    for (const Mode& mode : kModes) {
        if (!args.empty() && args.front() == mode.option && args.size() == mode.arguments + 1)
            return mode.run(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    usage(stderr);
    return 2;
}
