// What the benchmarks share: the best of several timings of one piece of
// work, which keeps the noise of a busy machine out of the figures.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>

namespace miravo::bench {

// The best of `runs` timings of `work`, in seconds.
inline double BestTime(int runs, const std::function<void()>& work) {
    double fastest = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        fastest = std::min(
            fastest,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return fastest;
}

}  // namespace miravo::bench
