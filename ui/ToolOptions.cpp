#include "ui/ToolOptions.h"

#include "app/CommandLine.h"

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
    return "Usage: miravo [JOB_FILE | DOCUMENT] [/config]\n"
           "       miravo -- JOB_FILE | DOCUMENT\n"
           "       miravo --import-contacts FILE.vcf | --export-contacts FILE.vcf\n"
           "       miravo --waiting-jobs | --bus-service | --help | --version\n"
           "\n"
           "Sends a printed document as a fax through the fax service.\n"
           "\n"
           "  JOB_FILE   a job written by the Miravo printer: its pages are converted\n"
           "             and the send dialog opens\n"
           "  DOCUMENT   a PDF, PostScript, PNG, JPEG or TIFF file to send\n"
           "  /config    open only the Options dialog\n"           "  --         ends the options: what follows is a job file or document,\n"
           "             whatever its name\n"
           "  --import-contacts FILE.vcf\n"
           "             add the contacts of a vCard file to the contact book\n"
           "  --export-contacts FILE.vcf\n"
           "             write the contact book as a vCard file\n"
           "  --waiting-jobs\n"
           "             offer the printed jobs that wait (run at login); ends at\n"
           "             once when none waits\n"
           "  --bus-service\n"
           "             the process the session bus starts to open printed jobs\n"
           "  -h, --help show this help and exit\n"
           "  --version  show the version and exit\n"
           "\n"
           "Without arguments the send dialog opens and a document can be chosen there.\n";
}

ToolOptions ParseToolOptions(const std::vector<std::string>& args) {
    ToolOptions result;
    if (args.empty() || !isToolOption(args.front()))
        return result;

    CommandLine line("miravo");
    CLI::App& app = line.app;
    std::string importFile, exportFile;
    CLI::Option* import = app.add_option("--import-contacts", importFile);
    CLI::Option* exportOption = app.add_option("--export-contacts", exportFile);
    import->excludes(exportOption);

    if (!line.parse(args, result.error)) {
        result.kind = ToolOptions::Refused;
        return result;
    }
    if (line.help) {
        result.kind = ToolOptions::Help;
    } else if (line.version) {
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
