// The reading of a status answer: per destination its recipient, cost and
// status, shown in the first three rows of the status window, the total
// cost, and whether any destination is still under way.
#pragma once

#include "app/AppState.h"
#include "app/WorkerReport.h"
#include "service/FaxTransmission.h"
#include "service/ResultReader.h"

namespace miravo {

// Reads a status answer (its ERROR was 0) into `outcome` and the window.
// The destinations are the FAX records with a FAX_ID, as many as there are
// FAX_ID elements. Sets the error code to -1 while any destination is
// pending, else 0; returns whether the fax is finished (or the answer is
// about another fax). An answer that names no destination is not a
// verdict: it sets outcome.namesNoDestination, shows text 999 and returns
// false.
bool ReadStatusAnswer(AppState& state, WorkerReport& report, const ApiAnswer* answer,
                      StepOutcome& outcome);

}  // namespace miravo
