// miravo-render --check-sandbox: shows that the renderer's box holds. A
// child enters the same box as a rendering does, then tries what a
// hostile document would: read a file of the user's home, write beside
// its own folder, connect a TCP socket to a loopback port that listens,
// and start a program. One line per attempt.
#pragma once

#include <cstdio>

namespace miravo::print {

// 0 when every attempt was refused and the box's own folder stays
// writable; 1 otherwise (or when the check cannot be made).
int CheckSandbox(std::FILE* out);

}  // namespace miravo::print
