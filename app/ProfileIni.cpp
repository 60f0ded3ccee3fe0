#include "app/ProfileIni.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unordered_set>

#include "app/FileBytes.h"
#include "app/Text.h"

namespace miravo {

namespace {

constexpr std::string_view kUtf16Bom = "\xFF\xFE";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string_view trimBlanks(std::u16string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
    return equalsIgnoreCase(a, b);
}

// What one line of a profile file is.
enum class LineKind { Blank, Comment, Section, Entry };

struct ParsedLine {
    LineKind kind = LineKind::Blank;
    std::u16string_view name;      // section name, or key name of an entry
    bool hasValue = false;         // the entry holds '='
    std::size_t valueStart = 0;    // offset of the raw value (after '=' and blanks)
    std::u16string_view rawValue;  // untrimmed text after '='
};

ParsedLine parseLine(std::u16string_view content) {
    ParsedLine out;
    std::size_t start = 0;
    while (start < content.size() && isBlank(content[start]))
        ++start;
    const std::u16string_view rest = content.substr(start);
    // A line end of "\r\n" is split off already; a lone trailing '\r' counts as blank.
    if (trimBlanks(rest).empty() || rest == u"\r")
        return out;
    if (rest.front() == u';') {
        out.kind = LineKind::Comment;
        return out;
    }
    if (rest.front() == u'[') {
        const std::size_t close = rest.rfind(u']');
        if (close != std::u16string_view::npos && close > 0) {
            out.kind = LineKind::Section;
            out.name = trimBlanks(rest.substr(1, close - 1));
            return out;
        }
        // "[" without "]" is not a section header; it reads as an entry.
    }
    out.kind = LineKind::Entry;
    const std::size_t eq = rest.find(u'=');
    if (eq == std::u16string_view::npos) {
        out.name = trimBlanks(rest);
        return out;
    }
    out.name = trimBlanks(rest.substr(0, eq));
    out.hasValue = true;
    std::size_t v = eq + 1;
    while (v < rest.size() && isBlank(rest[v]))
        ++v;
    out.valueStart = start + v;
    out.rawValue = rest.substr(eq + 1);
    return out;
}

// The value as the profile functions return it: blanks around it removed,
// then one pair of surrounding double quotes.
std::u16string cleanValue(std::u16string_view raw) {
    std::u16string_view v = trimBlanks(raw);
    if (!v.empty() && v.back() == u'\r')
        v = trimBlanks(v.substr(0, v.size() - 1));
    if (v.size() >= 2 && v.front() == u'"' && v.back() == u'"')
        v = v.substr(1, v.size() - 2);
    return std::u16string(v);
}

// The text written for a value so that reading it back gives the value
// again: line breaks would start new lines (and could inject keys), so they
// are dropped; surrounding blanks or quotes would be trimmed on reading, so
// such a value is put in quotes.
std::u16string storedValue(std::u16string_view value) {
    std::u16string v;
    v.reserve(value.size() + 2);
    for (char16_t c : value) {
        if (c != u'\r' && c != u'\n')
            v.push_back(c);
    }
    const bool needsQuotes =
        !v.empty() && (isBlank(v.front()) || isBlank(v.back()) ||
                       (v.size() >= 2 && v.front() == u'"' && v.back() == u'"'));
    if (needsQuotes)
        v = u"\"" + v + u"\"";
    return v;
}

std::u16string withoutLineBreaks(std::u16string_view text) {
    std::u16string out;
    for (char16_t c : text) {
        if (c != u'\r' && c != u'\n')
            out.push_back(c);
    }
    return out;
}

std::string encodeUtf16le(std::u16string_view text) {
    return std::string(kUtf16Bom) + toUtf16le(text);
}

// An 8-bit ("ANSI") text: UTF-8 (without its byte-order mark) when valid,
// Windows-1252 otherwise.
struct Decoded8Bit {
    std::u16string text;
    bool utf8 = false;
    bool bom = false;
};

Decoded8Bit decode8Bit(std::string_view bytes) {
    Decoded8Bit out;
    std::string_view body = bytes;
    const bool bom = body.substr(0, kUtf8Bom.size()) == kUtf8Bom;
    if (bom)
        body.remove_prefix(kUtf8Bom.size());
    if (isValidUtf8(body)) {
        out.text = fromUtf8(body);
        out.utf8 = true;
        out.bom = bom;
    } else {
        out.text = fromCp1252(bytes);
    }
    return out;
}

}  // namespace

ProfileFile ProfileFile::parse(std::u16string_view text, Encoding encoding, const Part* part) {
    ProfileFile file;
    file.encoding_ = encoding;
    file.partial_ = part != nullptr;
    // Counted first: a language file has thousands of lines, each moved
    // again on every growth of the list.
    if (!part)
        file.lines_.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), u'\n')) +
                            1);
    bool wholeSection = false;  // with a part: whether the current section is kept whole
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t nl = text.find(u'\n', pos);
        const std::size_t next = nl == std::u16string_view::npos ? text.size() : nl + 1;
        std::size_t end = nl == std::u16string_view::npos ? text.size() : nl;
        if (nl != std::u16string_view::npos && end > pos && text[end - 1] == u'\r')
            --end;
        const std::u16string_view content = text.substr(pos, end - pos);
        if (part) {
            const ParsedLine parsed = parseLine(content);
            if (parsed.kind == LineKind::Section) {
                wholeSection = std::any_of(
                    part->whole->begin(), part->whole->end(),
                    [&](std::u16string_view name) { return sameName(parsed.name, name); });
            } else if (!wholeSection &&
                       !(parsed.kind == LineKind::Entry && sameName(parsed.name, part->key))) {
                pos = next;
                continue;
            }
        }
        Line line;
        line.content = std::u16string(content);
        line.end = std::u16string(text.substr(end, next - end));
        file.lines_.push_back(std::move(line));
        pos = next;
    }
    return file;
}

ProfileFile ProfileFile::load(const std::filesystem::path& path) {
    return read(path, nullptr);
}

ProfileFile ProfileFile::loadPart(const std::filesystem::path& path,
                                  const std::vector<std::u16string_view>& whole,
                                  std::u16string_view key) {
    const Part part{&whole, key};
    return read(path, &part);
}

ProfileFile ProfileFile::read(const std::filesystem::path& path, const Part* part) {
    std::string bytes;
    switch (ReadFileBytes(path, bytes)) {
        case FileRead::Missing:
            return ProfileFile();
        case FileRead::Failed: {
            ProfileFile failed;
            failed.readFailed_ = true;
            return failed;
        }
        case FileRead::Read:
            break;
    }
    try {
        if (std::string_view(bytes).substr(0, 2) == kUtf16Bom) {
            return parse(fromUtf16le(std::string_view(bytes).substr(2)), Encoding::Utf16le, part);
        }
        Decoded8Bit decoded = decode8Bit(bytes);
        ProfileFile file =
            parse(decoded.text, decoded.utf8 ? Encoding::Utf8 : Encoding::Cp1252, part);
        file.utf8Bom_ = decoded.bom;
        return file;
    } catch (const std::bad_alloc&) {
        ProfileFile failed;
        failed.readFailed_ = true;
        return failed;
    }
}

ProfileFile ProfileFile::fromText(std::u16string text, bool utf16) {
    return parse(text, utf16 ? Encoding::Utf16le : Encoding::Utf8);
}

std::optional<std::size_t> ProfileFile::findSection(std::u16string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const ParsedLine parsed = parseLine(lines_[i].content);
        if (parsed.kind == LineKind::Section && sameName(parsed.name, section))
            return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> ProfileFile::findKey(std::size_t sectionLine,
                                                std::u16string_view key) const {
    for (std::size_t i = sectionLine + 1; i < lines_.size(); ++i) {
        const ParsedLine parsed = parseLine(lines_[i].content);
        if (parsed.kind == LineKind::Section)
            break;
        if (parsed.kind == LineKind::Entry && parsed.hasValue && !parsed.name.empty() &&
            sameName(parsed.name, key)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::u16string> ProfileFile::value(std::u16string_view section,
                                                 std::u16string_view key) const {
    // Only the first section of a name is searched, as the profile functions do.
    const auto sectionLine = findSection(section);
    if (!sectionLine)
        return std::nullopt;
    const auto keyLine = findKey(*sectionLine, key);
    if (!keyLine)
        return std::nullopt;
    return cleanValue(parseLine(lines_[*keyLine].content).rawValue);
}

std::u16string ProfileFile::getString(std::u16string_view section, std::u16string_view key,
                                      std::u16string_view fallback, std::size_t capacity) const {
    const auto found = value(section, key);
    return fitField(found ? std::u16string_view(*found) : fallback, capacity);
}

unsigned ProfileFile::getInt(std::u16string_view section, std::u16string_view key,
                             unsigned fallback) const {
    const auto found = value(section, key);
    if (!found || found->empty())
        return fallback;
    std::u16string_view v = *found;
    std::size_t i = 0;
    while (i < v.size() && (v[i] == u' ' || (v[i] >= u'\t' && v[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == u'+' || v[i] == u'-')) {
        negative = v[i] == u'-';
        ++i;
    }
    unsigned long long n = 0;
    bool anyDigit = false;
    for (; i < v.size() && v[i] >= u'0' && v[i] <= u'9'; ++i) {
        anyDigit = true;
        n = n * 10 + static_cast<unsigned>(v[i] - u'0');
        if (n > 0xFFFFFFFFull)
            n = 0xFFFFFFFFull + 1;  // saturate, keep reading digits
    }
    if (!anyDigit || negative)
        return 0;
    return n > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<unsigned>(n);
}

std::vector<std::u16string> ProfileFile::sections() const {
    std::vector<std::u16string> names;
    std::unordered_set<std::u16string> seen;
    for (const Line& line : lines_) {
        const ParsedLine parsed = parseLine(line.content);
        if (parsed.kind != LineKind::Section)
            continue;
        // Case-folded names, so that a file of many sections stays fast.
        if (!seen.insert(foldCase(parsed.name)).second)
            continue;
        names.emplace_back(parsed.name);
    }
    return names;
}

std::u16string ProfileFile::newLineEnd() const {
    for (const Line& line : lines_) {
        if (!line.end.empty())
            return line.end;
    }
    return u"\r\n";
}

void ProfileFile::set(std::u16string_view section, std::u16string_view key,
                      std::u16string_view value) {
    const std::u16string stored = storedValue(value);
    const std::u16string end = newLineEnd();
    const auto sectionLine = findSection(section);
    if (sectionLine) {
        if (const auto keyLine = findKey(*sectionLine, key)) {
            // Keep the key's spelling and the blanks around '='; replace the value.
            Line& line = lines_[*keyLine];
            const ParsedLine parsed = parseLine(line.content);
            line.content = line.content.substr(0, parsed.valueStart) + stored;
            return;
        }
        // After the section's last entry, before the blank lines and comments
        // that separate it from the next section.
        std::size_t insertAfter = *sectionLine;
        for (std::size_t i = *sectionLine + 1; i < lines_.size(); ++i) {
            const ParsedLine parsed = parseLine(lines_[i].content);
            if (parsed.kind == LineKind::Section)
                break;
            if (parsed.kind == LineKind::Entry)
                insertAfter = i;
        }
        if (lines_[insertAfter].end.empty())
            lines_[insertAfter].end = end;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1,
                      Line{withoutLineBreaks(key) + u"=" + stored, end});
        return;
    }
    if (!lines_.empty() && lines_.back().end.empty())
        lines_.back().end = end;
    lines_.push_back(Line{u"[" + withoutLineBreaks(section) + u"]", end});
    lines_.push_back(Line{withoutLineBreaks(key) + u"=" + stored, end});
}

std::u16string ProfileFile::text() const {
    std::u16string out;
    for (const Line& line : lines_) {
        out += line.content;
        out += line.end;
    }
    return out;
}

std::string ProfileFile::encode() const {
    const std::u16string all = text();
    switch (encoding_) {
        case Encoding::Utf16le:
            return encodeUtf16le(all);
        case Encoding::Cp1252: {
            std::string bytes = toCp1252(all);
            if (fromCp1252(bytes) == all)
                return bytes;
            // A character outside Windows-1252 was written: UTF-8 keeps it.
            return toUtf8(all);
        }
        case Encoding::Utf8:
            break;
    }
    return (utf8Bom_ ? std::string(kUtf8Bom) : std::string()) + toUtf8(all);
}

bool ProfileFile::save(const std::filesystem::path& path, unsigned mode) const {
    if (readFailed_ || partial_)
        return false;
    try {
        return writeFileAtomically(path, encode(), mode);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool EnsureUnicodeFile(const std::filesystem::path& path) {
    struct stat info {};
    const int fd = OpenRegularFile(path, info);
    if (fd < 0) {
        if (errno == ENOENT) {
            // Only the byte-order mark; the file may later hold a password.
            const int created = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (created >= 0) {
                WriteAll(created, kUtf16Bom.data(), kUtf16Bom.size());
                ::close(created);
            }
        }
        return false;
    }
    std::string bytes;
    const bool read = ReadAllBytes(fd, bytes);
    ::close(fd);
    // Unreadable files are left alone: rewriting what was not read would lose it.
    if (!read)
        return false;
    if (std::string_view(bytes).substr(0, 2) == kUtf16Bom)
        return true;

    try {
        std::u16string text = decode8Bit(bytes).text;
        std::string unicode = encodeUtf16le(text);
        writeFileAtomically(path, unicode, info.st_mode & 07777);
        // The former content may hold a password.
        explicit_bzero(bytes.data(), bytes.size());
        explicit_bzero(unicode.data(), unicode.size());
        explicit_bzero(text.data(), text.size() * sizeof(char16_t));
    } catch (const std::bad_alloc&) {
    }
    return false;
}

}  // namespace miravo
