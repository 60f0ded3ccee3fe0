// A fax service that misbehaves on purpose: for one action of the send it
// answers with a fault (deep nesting, a drip, an endless body, junk around
// the document, a redirect, an error status, empty records, a dropped
// upload); every other action gets a plain good answer (authentication
// accepted, fax 77 transferred, its one destination "OK").
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tests/service/LoopbackServer.h"

namespace miravo::test {

struct HostileCase {
    enum class Kind {
        Answer,   // `answer` is the whole HTTP answer
        Drip,     // a good-looking start, then a byte every 400 ms
        Endless,  // status 200 and chunks without end
        Drop,     // the connection closes in the middle of the upload
    };
    const char* name;
    const char* action;  // "authentication", "convert_and_transfer", "get_fax_status"
    Kind kind;
    std::string answer;
};

// The faults every client of the service must survive.
std::vector<HostileCase> HostileCases();

// Makes `server` answer as `hostile` says (its streamer; a Drop case also
// closes uploads after a few body bytes).
void ServeHostile(LoopbackServer& server, const HostileCase& hostile);

}  // namespace miravo::test
