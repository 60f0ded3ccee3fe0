#include "ui/ToolOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace miravo::ui {

namespace {

// Only a first argument that is one of these options is read here: a job
// file or document path is never taken for an option.
bool isToolOption(const std::string& arg) {
    for (const char* option : {"--import-contacts", "--export-contacts"})
        if (arg == option || arg.rfind(std::string(option) + "=", 0) == 0)
            return true;
    return arg == "-h" || arg == "--help" || arg == "--version";
}

}  // namespace

const char* MiravoUsage() {
    return "usage:\n"
           "  miravo [JOBFILE | DOCUMENT] [/config]\n"
           "  miravo --import-contacts FILE.vcf\n"
           "  miravo --export-contacts FILE.vcf\n"
           "  miravo --help | --version\n";
}

ToolOptions ParseToolOptions(const std::vector<std::string>& args) {
    ToolOptions result;
    if (args.empty() || !isToolOption(args.front()))
        return result;

    CLI::App app("miravo");
    app.set_help_flag();  // --help and --version are read like the others, then win
    bool help = false, version = false;
    std::string importFile, exportFile;
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    CLI::Option* import = app.add_option("--import-contacts", importFile);
    CLI::Option* exportOption = app.add_option("--export-contacts", exportFile);
    import->excludes(exportOption);

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        if (!help && !version) {
            result.kind = ToolOptions::Refused;
            result.error = e.what();
            return result;
        }
    }
    if (help) {
        result.kind = ToolOptions::Help;
    } else if (version) {
        result.kind = ToolOptions::Version;
    } else if (import->count() > 0) {
        result.kind = ToolOptions::ImportContacts;
        result.file = importFile;
    } else {
        result.kind = ToolOptions::ExportContacts;
        result.file = exportFile;
    }
    return result;
}

}  // namespace miravo::ui
