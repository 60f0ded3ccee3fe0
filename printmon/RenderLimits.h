// How much work one printed document may make. A few kilobytes of PDF can
// describe thousands of pages or drawings that take minutes to render, and
// PostScript is a programming language: it may write into Ghostscript's
// temp folder or allocate without end. The job is stopped at these limits,
// with a message, and leaves nothing behind.
#pragma once

#include <cstdint>
#include <string>

namespace miravo::print {

inline constexpr int kMaxPages = 1000;
// The page files and everything Ghostscript writes into its temp folder,
// together.
inline constexpr std::uint64_t kMaxPageFileBytes = std::uint64_t{1} << 30;  // 1 GiB
// Rendering may take this long, plus kRenderSecondsPerPage for every page
// rendered so far, but never more than kRenderMaxSeconds in all.
inline constexpr int kRenderBaseSeconds = 30;
inline constexpr int kRenderSecondsPerPage = 1;
inline constexpr int kRenderMaxSeconds = 300;
// The renderer's address space.
inline constexpr std::uint64_t kMaxRenderMemory = std::uint64_t{1} << 30;  // 1 GiB

// The limits one rendering runs under. MIRAVO_RENDER_LIMITS, a list such
// as "bytes=1000000,memory=300000000,seconds=5", may lower them (never
// raise them): the renderer and the process that watches it read the same
// variable.
struct RenderLimits {
    std::uint64_t maxBytes = kMaxPageFileBytes;
    std::uint64_t maxMemory = kMaxRenderMemory;
    int maxSeconds = kRenderMaxSeconds;
};
RenderLimits CurrentRenderLimits();

// "1 GiB", "300 MiB", "5000 bytes": a limit as the messages name it.
std::string SizeText(std::uint64_t bytes);

}  // namespace miravo::print
