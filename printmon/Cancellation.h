// A print job cancelled from outside: the print system's backend passes
// its cancel on as SIGTERM. Rendering stops at once and every file made
// for the job is removed on the way out, instead of the process dying
// with page files half written.
#pragma once

namespace miravo::print {

// From now on SIGTERM only asks to stop (and interrupts waiting).
void StopOnTermination();
bool StopRequested();

}  // namespace miravo::print
