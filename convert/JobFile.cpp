#include "convert/JobFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "app/FileBytes.h"
#include "app/Paths.h"
#include "app/Text.h"

namespace miravo {

namespace {

// Opens a regular job or page file without blocking on a FIFO or device.
int openRegularFile(std::u16string_view path, struct stat& info) {
    return path.empty() ? -1 : OpenRegularFile(ToFsPath(path), info);
}

bool readAll(int fd, char* data, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::u16string decodeUtf16le(const char* bytes, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                        (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return text;
}

}  // namespace

bool CheckJobFile(std::u16string_view path) {
    struct stat info {};
    const int fd = openRegularFile(path, info);
    if (fd < 0)
        return false;
    char head[12];
    std::size_t got = 0;
    const bool read = readAll(fd, head, sizeof head, got);
    ::close(fd);
    if (!read || got < sizeof head)
        return false;
    return equalsIgnoreAsciiCase(decodeUtf16le(head, sizeof head), u"miravo");
}

std::optional<std::u16string> ReadJobFileText(std::u16string_view path) {
    struct stat info {};
    const int fd = openRegularFile(path, info);
    if (fd < 0)
        return std::nullopt;
    if (static_cast<std::uintmax_t>(info.st_size) > kMaxJobFileBytes) {
        ::close(fd);
        return std::nullopt;
    }
    // One byte more than its size tells a file that grew meanwhile.
    std::string bytes(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t got = 0;
    const bool read = readAll(fd, bytes.data(), bytes.size(), got);
    ::close(fd);
    if (!read || got > static_cast<std::size_t>(info.st_size))
        return std::nullopt;
    return decodeUtf16le(bytes.data(), got);
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
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

}  // namespace miravo
