// The exit clean-up of a run: the job's temporary files, and only those.
#pragma once

#include <string>

#include "app/AppState.h"

namespace miravo {

// Deletes the job's files at exit: the cover-page document, the private
// folder of the conversion run with the document in it, and when the
// conversion recorded a page base name, the print monitor's page files
// (regular files of this user in the job file's folder that the job listed,
// or "<base>_1" to "<base>_<count>" when the job names its files so), the
// joined document, the cover-page document again and the job file. Empty
// names delete nothing; no folder but the run's own is deleted.
void DeleteTemporaryFiles(const AppState& state, const std::u16string& jobFileArgument);

}  // namespace miravo
