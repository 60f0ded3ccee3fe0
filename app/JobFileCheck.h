// Whether a path names a job file of the print monitor. Start-up asks it to
// tell a job from the Options run, the conversion before it reads the job.
#pragma once

#include <string_view>

namespace miravo {

// True when `path` names a regular file that can be opened for reading and
// whose first 12 bytes, read as six UTF-16LE characters, are "miravo" in
// any ASCII letter case.
bool CheckJobFile(std::u16string_view path);

}  // namespace miravo
