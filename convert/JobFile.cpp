#include "convert/JobFile.h"

#include <sys/stat.h>

#include <algorithm>

#include "app/FileBytes.h"
#include "app/Paths.h"
#include "app/Text.h"

namespace miravo {

std::optional<std::u16string> ReadJobFileText(std::u16string_view path) {
    if (path.empty())
        return std::nullopt;
    struct stat info {};
    const UniqueFd fd(OpenRegularFile(ToFsPath(path), info));
    if (!fd || static_cast<std::uintmax_t>(info.st_size) > kMaxJobFileBytes)
        return std::nullopt;
    // One byte more than its size tells a file that grew meanwhile.
    std::string bytes(static_cast<std::size_t>(info.st_size) + 1, '\0');
    const std::ptrdiff_t got = ReadFully(fd.get(), bytes.data(), bytes.size());
    if (got < 0 || got > info.st_size)
        return std::nullopt;
    return fromUtf16le(std::string_view(bytes.data(), static_cast<std::size_t>(got)));
}

long PageCountFromName(std::u16string_view name) {
    const std::size_t underscore = name.rfind(u'_');
    if (underscore == std::u16string_view::npos)
        return 0;
    const std::size_t dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos)
        return parseDecimal(name.substr(underscore + 1));
    if (dot > underscore)
        return parseDecimal(name.substr(underscore + 1, dot - underscore - 1));
    return 0;
}

namespace {

// The line an entry runs in, with what the page count rule needs from it,
// found once however many entries share the line. An entry's text runs to
// the line's end, so its last '_' and '.' are the line's when they lie at
// or after the entry's start.
struct JobLine {
    std::size_t end = 0;  // the line feed or the end of the text
    std::size_t lastUnderscore = std::u16string_view::npos;
    std::size_t lastDot = std::u16string_view::npos;
    long countAfterUnderscore = 0;  // the count when no '.' follows the last '_'
    long countBeforeDot = 0;        // the count between the last '_' and a later last '.'

    JobLine(std::u16string_view text, std::size_t start) {
        end = text.find(u'\n', start);
        if (end == std::u16string_view::npos)
            end = text.size();
        const std::u16string_view line = text.substr(start, end - start);
        if (const std::size_t u = line.rfind(u'_'); u != std::u16string_view::npos)
            lastUnderscore = start + u;
        if (const std::size_t d = line.rfind(u'.'); d != std::u16string_view::npos)
            lastDot = start + d;
        if (lastUnderscore != std::u16string_view::npos) {
            countAfterUnderscore =
                parseDecimal(text.substr(lastUnderscore + 1, end - lastUnderscore - 1));
            if (lastDot != std::u16string_view::npos && lastDot > lastUnderscore)
                countBeforeDot =
                    parseDecimal(text.substr(lastUnderscore + 1, lastDot - lastUnderscore - 1));
        }
    }

    // PageCountFromName of the text from `start` to the line's end.
    long countFrom(std::size_t start) const {
        const bool underscore =
            lastUnderscore != std::u16string_view::npos && lastUnderscore >= start;
        if (!underscore)
            return 0;
        const bool dot = lastDot != std::u16string_view::npos && lastDot >= start;
        if (!dot)
            return countAfterUnderscore;
        return lastDot > lastUnderscore ? countBeforeDot : 0;
    }
};

}  // namespace

// Linear in the text's size: each line is scanned once for its end and its
// last '_' and '.', and each search for a marker or the next entry starts
// where the previous one stopped.
std::vector<JobEntry> ParseJobEntries(std::u16string_view text) {
    std::vector<JobEntry> entries;
    const std::u16string_view marker = kPageNumbersMarker;
    std::optional<JobLine> line;
    std::size_t start = text.find(u'/');
    while (start != std::u16string_view::npos) {
        if (!line || start >= line->end)
            line.emplace(text, start);
        const std::size_t markerAt = text.substr(start, line->end - start).find(marker);
        if (markerAt == std::u16string_view::npos) {
            // A line without the marker names no page file.
            if (line->end >= text.size())
                break;
            start = text.find(u'/', line->end);
            continue;
        }
        JobEntry item;
        item.pageFilePath = std::u16string(text.substr(start, markerAt));
        const long count = line->countFrom(start);
        item.pageCount = count > 0 ? static_cast<std::uint32_t>(count) : 0;
        item.tooLong = line->end - start > kMaxJobEntryLength;
        entries.push_back(std::move(item));
        start = text.find(u'/', start + markerAt);
    }
    return entries;
}

std::u16string PageBaseName(std::u16string_view pageFilePath) {
    const std::size_t slash = pageFilePath.rfind(u'/');
    const std::size_t nameStart = slash == std::u16string_view::npos ? 0 : slash + 1;
    const std::size_t first = pageFilePath.find(u'_');
    if (first == std::u16string_view::npos || first < nameStart)
        return {};
    const std::size_t second = pageFilePath.find(u'_', first + 1);
    if (second == std::u16string_view::npos)
        return {};
    return std::u16string(pageFilePath.substr(0, second));
}

std::string JobFileBytes(const std::vector<JobPage>& pages) {
    std::u16string text = u"miravo\n";
    for (const JobPage& page : pages)
        text += page.path + kPageNumbersMarker + toU16(static_cast<long>(page.count)) + u"\n";
    return toUtf16le(text);
}

}  // namespace miravo
