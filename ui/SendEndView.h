// How the sending status window words the end of a send: which status line
// it shows and which step's verdict it marks as failed, so that no failure
// is left looking like success or like work still under way.
#pragma once

#include <cstdint>

#include "service/SendWorker.h"

namespace miravo::ui {

struct SendEndView {
    int statusLineText = 0;  // language text for the status line; 0: the send did not fail
    int failedVerdict = 0;   // control id of the failed step's verdict; 0: none
};

// `errorCode` is the service error the last step read.
SendEndView DescribeSendEnd(const SendSummary& summary, std::int32_t errorCode);

}  // namespace miravo::ui
