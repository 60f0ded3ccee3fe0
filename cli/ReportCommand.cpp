#include "cli/ReportCommand.h"

#include <QGuiApplication>

#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/Paths.h"
#include "cli/RecordArgument.h"
#include "cli/Send.h"
#include "journal/SentDocuments.h"
#include "journal/TransmissionReport.h"

namespace miravo::cli {

bool IsReportCommand(const std::vector<std::string>& args) {
    // "--report yes|no|none" belongs to a send.
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--report" && args[i + 1] != "yes" && args[i + 1] != "no" &&
            args[i + 1] != "none")
            return true;
    }
    return false;
}

int RunReportCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    CommandLine line("miravo-send");
    std::string settingsFile;
    std::vector<std::string> report;
    line.app.add_option("--settings", settingsFile);
    line.app.add_option("--report", report)->expected(2)->allow_extra_args(false);
    std::string error;
    if (!line.parse(args, error) || report.size() != 2) {
        std::fprintf(err, "miravo-send: --report takes RECORD OUT.pdf%s%s\n",
                     error.empty() ? "" : ": ", error.c_str());
        return kExitUsage;
    }
    const std::string& record = report[0];
    const std::string& pdf = report[1];
    Journal journal;
    if (!journal.isOpen()) {
        std::fprintf(err, "miravo-send: the sent-fax journal %s cannot be opened\n",
                     journal.path().c_str());
        return kExitDocument;
    }
    const std::int64_t id = ResolveRecord(journal, record, error);
    if (id == 0) {
        std::fprintf(err, "miravo-send: %s\n", error.c_str());
        return kExitUsage;
    }
    AppState state;
    AppPaths paths;
    LoadSettingsFrom(settingsFile, paths, state);

    // Text is laid out with QtGui's fonts, which need an application; no
    // display is needed or used.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "miravo-send";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);

    const JournalKeeping keeping = journal.keeping(id);
    const std::filesystem::path document =
        keeping.document == KeptDocument::Kept ? KeptDocumentPath(journal, id)
                                               : std::filesystem::path();
    if (!WriteTransmissionReport(*journal.send(id), keeping, document, state.language, pdf,
                                 error)) {
        std::fprintf(err, "miravo-send: %s\n", error.c_str());
        return kExitDocument;
    }
    std::fprintf(out, "report of record %lld: %s\n", static_cast<long long>(id), pdf.c_str());
    return kExitOk;
}

}  // namespace miravo::cli
