// The cover page of the preview: the service renders the cover text for the
// destinations ("convert"), the answer's TIFF is joined in front of the fax
// document into "coverpage_and_fax.tiff" in the home folder, and that file
// becomes coverDocumentPath. Runs as a worker-dialog task.
#pragma once

#include <string>

#include "app/AppState.h"
#include "app/WorkerReport.h"
#include "service/MultipartForm.h"

namespace miravo {

// "coverpage.tiff" and "coverpage_and_fax.tiff" in the profile folder.
std::u16string CoverPageFilePath();
std::u16string CoverDocumentFilePath();

// The "convert" request: every destination as it is listed (no duplicate
// removal), group members with the group's groupname.
MultipartForm CoverPageForm(const AppState& state);

// The task: on success it closes the worker dialog itself (result 0); on
// failure the dialog's status line shows the service's error text. Always
// returns 0.
int CoverPageTask(AppPaths& paths, WorkerReport& report);

}  // namespace miravo
