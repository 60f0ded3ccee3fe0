// What every program's command line has in common: one parser (CLI11),
// "-h, --help" and "--version" read like the other options, and both win
// over everything else on the line, a line that could not be used
// otherwise included. Repeating an option keeps its last value unless the
// option says otherwise.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace miravo {

class CommandLine {
  public:
    explicit CommandLine(const std::string& program);

    // The program's own options and arguments go here.
    CLI::App app;
    bool help = false;
    bool version = false;

    // Reads `args` (without the program name) in order. False with the
    // parser's message when the line cannot be used and asks for neither
    // help nor the version.
    bool parse(const std::vector<std::string>& args, std::string& error);
    // Help or the version was asked for: the program prints it and ends.
    bool answered() const { return help || version; }

  private:
    CLI::Option* helpOption_;
    CLI::Option* versionOption_;
};

// "miravo-send 3.0.1": what --version prints.
void PrintVersion(std::FILE* to, const char* program);

}  // namespace miravo
