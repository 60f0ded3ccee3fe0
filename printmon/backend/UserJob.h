// One print job, handled as its user: the document becomes page files and
// a job file in the user's spool (by miravo-print), and miravo is started
// with the job file on the user's desktop, or the job waits there for the
// next start of miravo when nobody is logged in graphically.
#pragma once

#include <filesystem>
#include <string>

#include "printmon/backend/JobUser.h"

namespace miravo::backend {

// Exit codes the print system understands.
enum BackendExit { kBackendOk = 0, kBackendFailed = 1, kBackendCancelJob = 5 };

struct InstalledPrograms {
    std::filesystem::path print;   // miravo-print
    std::filesystem::path miravo;  // the desktop program
};

struct UserJobRequest {
    JobUser user;
    int document = -1;  // open for reading: the PDF the print system hands over
    std::string title;  // already made safe for a file name
    InstalledPrograms programs;
    std::filesystem::path procRoot = "/proc";
};

// Runs with the user's rights only. Writes status lines for the print
// system ("INFO: ...", "ERROR: ...") to standard error and returns the
// backend's exit code.
int RunUserJob(const UserJobRequest& request);

}  // namespace miravo::backend
