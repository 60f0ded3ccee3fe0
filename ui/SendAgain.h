// Sending a journal record again from the "Sent faxes" window: the send
// dialog opens with the kept document, its cover text, its report options
// and the destinations (all, or those whose final status is not "OK"; a
// mass-fax list when more than three), and sends through the usual status
// window. The new record names the one it repeats. The job and report
// settings the dialog was opened over are given back afterwards.
#pragma once

#include <cstdint>
#include <vector>

#include "journal/Journal.h"

class QWidget;

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

// The destinations of `send` to send again: every one, or only the failed.
std::vector<JournalDestination> DestinationsToSendAgain(const JournalSend& send, bool failedOnly);

// Opens the send dialog for record `id` over `owner`; false (with a
// message) when its document is no longer kept or nothing is left to send.
bool SendAgain(AppPaths& paths, Journal& journal, std::int64_t id, bool failedOnly,
               QWidget* owner);

}  // namespace miravo::ui
