// miravo-send [OPTIONS] --resend RECORD [--failed]: the kept document of a
// journal record sent again, with its cover text and report option, to all
// its destinations or (--failed) to those whose final status is not "OK".
// --to or --list given beside it replace the record's destinations (a
// corrected number); the other send options apply as for any send. The
// new send's record names the one it repeats.
#pragma once

#include <string>
#include <vector>

#include "cli/Send.h"

namespace miravo::cli {

bool IsResendCommand(const std::vector<std::string>& args);
// The arguments of the ordinary send that does it; false with a message.
bool ResendArguments(const std::vector<std::string>& args, SendArguments& out, std::string& error);

}  // namespace miravo::cli
