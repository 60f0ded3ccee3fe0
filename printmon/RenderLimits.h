// How much work one printed document may make. A few kilobytes of PDF can
// describe thousands of pages or drawings that take minutes to render;
// the job is stopped at these limits, with a message, and leaves no page
// files behind.
#pragma once

#include <cstdint>

namespace miravo::print {

inline constexpr int kMaxPages = 1000;
inline constexpr std::uint64_t kMaxPageFileBytes = std::uint64_t{1} << 30;  // 1 GiB
// Rendering may take this long, plus kRenderSecondsPerPage for every page
// rendered so far.
inline constexpr int kRenderBaseSeconds = 30;
inline constexpr int kRenderSecondsPerPage = 1;

}  // namespace miravo::print
