// One print job, handled as its user: each of its documents becomes page
// files and a job file in the user's lasting spool (by miravo-print), and
// the job files are handed together to Miravo in the user's session
// through the session bus, as one fax; without a session the job waits
// there and is offered at the next login.
#pragma once

#include <filesystem>
#include <string>

#include "printmon/backend/JobUser.h"

namespace miravo::backend {

// Exit codes the print system understands.
enum BackendExit { kBackendOk = 0, kBackendFailed = 1, kBackendCancelJob = 5 };

struct InstalledPrograms {
    std::filesystem::path print;   // miravo-print
    std::filesystem::path miravo;  // the desktop program, started by the session bus
};

struct UserJobRequest {
    JobUser user;
    int document = -1;  // open for reading: the PDF the print system hands over
    std::string title;  // already made safe for a file name
    InstalledPrograms programs;
    std::string language;  // LANG for the renderer, from the print system
    std::filesystem::path runtimeRoot = "/run/user";  // where session buses live
    std::string pages;  // the pages to render (PageListOf); empty: all
};

// Runs with the user's rights only. Writes status lines for the print
// system ("INFO: ...", "ERROR: ...") to standard error and returns the
// backend's exit code.
int RunUserJob(const UserJobRequest& request);

}  // namespace miravo::backend
