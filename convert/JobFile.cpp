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

std::vector<JobEntry> ParseJobEntries(std::u16string_view text) {
    std::vector<JobEntry> entries;
    const std::u16string_view marker = kPageNumbersMarker;
    std::size_t start = text.find(u'/');
    while (start != std::u16string_view::npos) {
        const std::size_t lineEnd = text.find(u'\n', start);
        const std::u16string_view entry = text.substr(
            start, lineEnd == std::u16string_view::npos ? text.size() - start : lineEnd - start);
        const std::size_t markerAt = entry.find(marker);
        if (markerAt == std::u16string_view::npos) {
            // A line without the marker names no page file.
            if (lineEnd == std::u16string_view::npos)
                break;
            start = text.find(u'/', lineEnd);
            continue;
        }
        JobEntry item;
        item.pageFilePath = std::u16string(entry.substr(0, markerAt));
        const long count = PageCountFromName(entry);
        item.pageCount = count > 0 ? static_cast<std::uint32_t>(count) : 0;
        item.tooLong = entry.size() > kMaxJobEntryLength;
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
