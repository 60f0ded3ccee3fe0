// miravo-send --report RECORD OUT.pdf: the transmission report of a
// journal record, in the language of the settings.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace miravo::cli {

bool IsReportCommand(const std::vector<std::string>& args);
// Runs it; the exit status. Makes its own QGuiApplication (offscreen).
int RunReportCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace miravo::cli
