#include "cli/ConvertOnly.h"

#include "app/AppState.h"
#include "app/FileBytes.h"
#include "app/Paths.h"
#include "app/SettingsStore.h"
#include "app/Startup.h"
#include "app/Text.h"
#include "app/WorkerReport.h"
#include "convert/ConversionRun.h"
#include "convert/JobFile.h"

namespace miravo::cli {

namespace {

// Shows the run's status texts on the terminal instead of a window.
class ConsoleReport : public WorkerReport {
  public:
    explicit ConsoleReport(std::FILE* err) : err_(err) {}
    void setTitle(const std::u16string&) override {}
    void setLabel(int, const std::u16string& text) override {
        if (!text.empty())
            std::fprintf(err_, "%s\n", toUtf8(text).c_str());
    }
    void beginProgress(int) override {}
    void stepProgress() override {}
    void setPolling(bool) override {}
    void enableClose() override {}
    void close(int) override { open_ = false; }
    bool isOpen() const override { return open_; }

  private:
    std::FILE* err_;
    bool open_ = true;
};

}  // namespace

int ConvertOnly(const std::string& jobFile, std::FILE* out, std::FILE* err) {
    AppState state;
    AppPaths paths;
    LoadStoredSettings(paths, state);  // no number is checked here
    std::error_code ec;
    const std::u16string job = FromFsPath(std::filesystem::absolute(jobFile, ec));
    if (!CheckJobFile(job)) {
        if (const std::string problem = FileReadProblem(ToFsPath(job)); !problem.empty())
            std::fprintf(err, "miravo-send: %s cannot be read: %s\n", jobFile.c_str(),
                         problem.c_str());
        else
            std::fprintf(err, "miravo-send: %s is not a job file\n", jobFile.c_str());
        return 1;
    }
    state.job.jobFilePath = job;
    state.job.jobArgument = job;
    ConsoleReport report(err);
    const ConversionSummary summary = RunConversion(paths, report);
    if (!summary.documentWritten) {
        RemoveRunFolder(state.job.runFolder);  // no document: nothing of the run stays
        std::fprintf(err, "miravo-send: %s: %s\n", jobFile.c_str(), summary.error.c_str());
        return 1;
    }
    std::fprintf(out, "document: %s\npages: %d\n", toUtf8(state.job.documentPath).c_str(),
                 summary.writtenPages);
    // The job is done: its page files and job file go, as at the program's
    // exit; the document stays for the caller.
    AppState done;
    done.job.pageBaseName = state.job.pageBaseName;
    done.job.pageBaseRecorded = state.job.pageBaseRecorded;
    done.job.pageFiles = state.job.pageFiles;
    done.job.pageFileCount = state.job.pageFileCount;
    DeleteTemporaryFiles(done, job);
    return 0;
}

}  // namespace miravo::cli
