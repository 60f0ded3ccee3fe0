// job_parse_bench [MIB]: the time to read the entries out of a job file of
// MIB MiB (default 8) of UTF-16 text, in two shapes: one entry per line,
// and every entry on one line (no line feed at all). Each figure is printed
// beside one plain scan of the same text for a line feed and a '/', so the
// ratio says how many passes over the text the parser costs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "convert/JobFile.h"

namespace {

double secondsOf(const auto& work) {
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

std::u16string jobText(std::size_t units, bool oneLine) {
    std::u16string text = u"miravo\n";
    for (long k = 1; text.size() < units; ++k) {
        text += u"/var/spool/miravo/job_4711_";
        for (char c : std::to_string(k))
            text.push_back(static_cast<char16_t>(c));
        text += u"__page_numbers__1";
        if (!oneLine)
            text.push_back(u'\n');
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::max(1, std::atoi(argv[1])) : 8;
    for (const bool oneLine : {false, true}) {
        const std::u16string text = jobText(mib * (1u << 20) / 2, oneLine);
        std::size_t entries = 0;
        const double parse = secondsOf([&] { entries = miravo::ParseJobEntries(text).size(); });
        std::size_t found = 0;
        const double scan = secondsOf([&] {
            found = static_cast<std::size_t>(std::count_if(
                text.begin(), text.end(), [](char16_t c) { return c == u'\n' || c == u'/'; }));
        });
        std::printf(
            "job of %zu MiB, %s: %zu entries in %.4f s, plain scan %.4f s (%zu marks),"
            " ratio %.1fx\n",
            mib, oneLine ? "one line" : "a line each", entries, parse, scan, found, parse / scan);
    }
    return 0;
}
