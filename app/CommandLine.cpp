#include "app/CommandLine.h"

namespace miravo {

CommandLine::CommandLine(const std::string& program) : app(std::string(), program) {
    app.set_help_flag();  // help is printed by the program, in its own words
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    helpOption_ = app.add_flag("-h,--help", help);
    versionOption_ = app.add_flag("--version", version);
}

bool CommandLine::parse(const std::vector<std::string>& args, std::string& error) {
    // The parser takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        // A parse that stops early has seen the flags but not yet set them.
        help = help || helpOption_->count() > 0;
        version = version || versionOption_->count() > 0;
        if (answered())
            return true;
        error = e.what();
        return false;
    }
    return true;
}

void PrintVersion(std::FILE* to, const char* program) {
    std::fprintf(to, "%s %s\n", program, MIRAVO_VERSION);
}

}  // namespace miravo
