// miravo-send --convert-only JOBFILE: the conversion run without a window.
#pragma once

#include <cstdio>
#include <string>

namespace miravo::cli {

// Converts the job file with the saved settings and prints the joined
// document's path and page count to `out`; problems go to `err`. Returns
// the exit status: 0 when every page of the job is in the document.
int ConvertOnly(const std::string& jobFile, std::FILE* out, std::FILE* err);

}  // namespace miravo::cli
