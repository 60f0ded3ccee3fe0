// The command line of miravo-send, shown on --help and after a usage error.
#pragma once

#include <cstdio>

namespace miravo::cli {

void PrintUsage(std::FILE* to);

}  // namespace miravo::cli
