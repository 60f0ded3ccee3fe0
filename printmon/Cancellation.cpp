#include "printmon/Cancellation.h"

#include <signal.h>

namespace miravo::print {

namespace {

volatile sig_atomic_t stopRequested = 0;

void onTerminate(int) {
    stopRequested = 1;
}

}  // namespace

void StopOnTermination() {
    struct sigaction action {};
    action.sa_handler = onTerminate;  // no SA_RESTART: a wait returns early
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() {
    return stopRequested != 0;
}

}  // namespace miravo::print
