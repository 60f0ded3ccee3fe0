#include "contacts/ContactStore.h"

#include <set>

#include <ctime>
#include <new>

#include "app/FileBytes.h"
#include "app/Paths.h"
#include "app/ProfileIni.h"
#include "app/Text.h"

namespace miravo {

namespace {

constexpr char16_t kByteOrderMark = 0xFEFF;
constexpr char16_t kLowCommaMark = 0x201A;
constexpr std::size_t kFieldCount = 8;

void appendField(std::u16string& line, std::u16string_view field) {
    if (ContactFieldIsStorable(field))
        line.append(field);
    else
        line.append(StorableContactField(field));
}

// Copies the file to "<name>.unreadable-<UTC time>" (with "-2", "-3"...
// when that name is taken); the copy's path, or empty when it failed.
std::filesystem::path keepAside(const std::filesystem::path& path) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    const std::string base = path.string() + ".unreadable-" + stamp;
    for (int n = 1; n < 100; ++n) {
        const std::filesystem::path aside = n == 1 ? base : base + "-" + std::to_string(n);
        std::error_code ec;
        if (std::filesystem::copy_file(path, aside, std::filesystem::copy_options::none, ec))
            return aside;
        if (ec != std::errc::file_exists)
            return {};
    }
    return {};
}

}  // namespace

bool IsContactFileSeparator(char16_t c) {
    return c == u',' || c == u'\r' || c == u'\n' || c == kByteOrderMark;
}

bool ContactFieldIsStorable(std::u16string_view text) {
    for (char16_t c : text) {
        if (IsContactFileSeparator(c))
            return false;
    }
    return true;
}

bool ContactIsStorable(const Contact& contact) {
    for (const std::u16string* field : {&contact.id, &contact.name, &contact.number,
                                        &contact.gsmnumber, &contact.groupid, &contact.groupname}) {
        if (!ContactFieldIsStorable(*field))
            return false;
    }
    for (const std::u16string& member : contact.members) {
        if (!ContactFieldIsStorable(member))
            return false;
    }
    return true;
}

std::u16string StorableContactField(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u',') {
            out.push_back(kLowCommaMark);
        } else if (c == u'\r') {
            out.push_back(u' ');
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if (c == u'\n') {
            out.push_back(u' ');
        } else if (c != kByteOrderMark) {
            out.push_back(c);
        }
    }
    return out;
}

std::u16string FormatContactFile(const ContactBook& book) {
    std::u16string text;
    for (const Contact& c : book.contacts) {
        text.append(toU16(c.state));
        text.push_back(u',');
        text.append(toU16(c.kind));
        for (const std::u16string* field :
             {&c.id, &c.name, &c.number, &c.gsmnumber, &c.groupid, &c.groupname}) {
            text.push_back(u',');
            appendField(text, *field);
        }
        // Members follow a group name, and a group's members are written
        // even when its name is empty, so that what loads saves back whole.
        if (!c.groupname.empty() || c.kind == Group) {
            for (const std::u16string& member : c.members) {
                text.push_back(u',');
                appendField(text, member);
            }
        }
        text.append(u"\r\n");
    }
    return text;
}

std::size_t ParseContactFile(std::u16string_view text, ContactBook& book) {
    book.contacts.clear();
    book.groups.clear();

    std::size_t skipped = 0;
    bool lineHasText = false;
    std::vector<std::u16string> fields;
    std::u16string field;
    for (char16_t c : text) {
        if (c == kByteOrderMark || c == u'\r')
            continue;
        if (c != u'\n')
            lineHasText = true;
        if (c == u',') {
            fields.push_back(std::move(field));
            field.clear();
            continue;
        }
        if (c != u'\n') {
            field.push_back(c);
            continue;
        }
        // A complete line.
        fields.push_back(std::move(field));
        field.clear();
        if (fields.size() >= kFieldCount) {
            Contact record =
                Contact::full(std::move(fields[2]), std::move(fields[3]), std::move(fields[4]),
                              std::move(fields[5]), std::move(fields[6]), std::move(fields[7]));
            record.state = static_cast<int>(parseDecimal(fields[0]));
            record.kind = static_cast<int>(parseDecimal(fields[1]));
            if (record.kind == Group) {
                record.members.assign(std::make_move_iterator(fields.begin() + kFieldCount),
                                      std::make_move_iterator(fields.end()));
                book.groups.try_emplace(record.groupname, record.members);
            }
            book.contacts.push_back(std::move(record));
        } else if (lineHasText) {
            ++skipped;
        }
        fields.clear();
        lineHasText = false;
    }
    // Whatever follows the last line feed is an unfinished line: ignored.
    if (lineHasText)
        ++skipped;
    return skipped;
}

std::filesystem::path CardFilePath(const std::filesystem::path& contactFile) {
    std::filesystem::path path = contactFile;
    return path.replace_extension(".cards");
}

std::string FormatCardFile(const ContactBook& book) {
    std::set<std::u16string> kept;
    for (const Contact& c : book.contacts)
        if (c.kind == Single && c.state != Deleted)
            kept.insert(CardKey(c.name, c.number));
    std::string out;
    for (const auto& [key, origin] : book.cards) {
        if (!kept.contains(key))
            continue;  // the contact is gone or no longer as imported
        const std::size_t cut = key.find(u'\n');
        for (std::u16string_view field :
             {std::u16string_view(key).substr(0, cut), std::u16string_view(key).substr(cut + 1),
              std::u16string_view(origin.name), std::u16string_view(origin.types)}) {
            for (char c : toUtf8(field)) {
                switch (c) {
                    case '\\': out += "\\\\"; break;
                    case '\t': out += "\\t"; break;
                    case '\n': out += "\\n"; break;
                    case '\r': out += "\\r"; break;
                    default: out.push_back(c);
                }
            }
            out.push_back('\t');
        }
        out.back() = '\n';
    }
    return out;
}

void ParseCardFile(std::string_view text, ContactBook& book) {
    book.cards.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::vector<std::string> fields(1);
        const std::string_view line = text.substr(start, end - start);
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\t') {
                fields.emplace_back();
            } else if (line[i] == '\\' && i + 1 < line.size()) {
                const char e = line[++i];
                fields.back().push_back(e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e);
            } else {
                fields.back().push_back(line[i]);
            }
        }
        if (fields.size() == 4)
            book.cards[CardKey(fromUtf8(fields[0]), fromUtf8(fields[1]))] = {fromUtf8(fields[2]),
                                                                           fromUtf8(fields[3])};
        start = end + 1;
    }
}

ContactFileRead LoadContactBook(ContactBook& book, const std::filesystem::path& path) {
    book.contacts.clear();
    book.groups.clear();
    book.cards.clear();
    if (path.empty())
        return ContactFileRead::Missing;
    try {
        // What the imported cards gave: without it the book is whole all
        // the same, so a missing or unreadable file is no fault.
        std::string cards;
        if (ReadFileBytes(CardFilePath(path), cards) == FileRead::Read)
            ParseCardFile(cards, book);
    } catch (const std::bad_alloc&) {
        book.cards.clear();
    }
    try {
        std::string bytes;
        const FileRead outcome = ReadFileBytes(path, bytes);
        if (outcome != FileRead::Read)
            return outcome == FileRead::Missing ? ContactFileRead::Missing
                                                : ContactFileRead::Unreadable;
        const std::u16string text = fromUtf16le(bytes);
        // Text that made no record is a skipped line: a file that holds text
        // but no record has skipped lines too.
        return ParseContactFile(text, book) == 0 ? ContactFileRead::Loaded
                                                 : ContactFileRead::Damaged;
    } catch (const std::bad_alloc&) {
        book.contacts.clear();
        book.groups.clear();
        return ContactFileRead::Unreadable;
    }
}

bool SaveContactBook(const ContactBook& book, const std::filesystem::path& path,
                     std::filesystem::path* keptAside) {
    // A file that is there but cannot be read may hold changes the service
    // has not received: it stays until it can be read again.
    if (path.empty() || !MayReplaceFile(path))
        return false;
    try {
        // A file that did not load whole (another encoding, other line
        // ends, damaged lines) is the user's data all the same: it is kept
        // beside the new one before anything is written.
        ContactBook old;
        if (LoadContactBook(old, path) == ContactFileRead::Damaged) {
            const std::filesystem::path aside = keepAside(path);
            if (aside.empty())
                return false;
            if (keptAside)
                *keptAside = aside;
        }
        const std::u16string text = FormatContactFile(book);
        if (!writeFileAtomically(path, "\xFF\xFE" + toUtf16le(text), 0600))
            return false;
        // The book is whole without it; an export then writes the names
        // as the book holds them.
        writeFileAtomically(CardFilePath(path), FormatCardFile(book), 0600);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::filesystem::path ContactFilePath() {
    const std::u16string path = UserDataFilePath(kContactFileName);
    // A folder so long that the path was cut would name another file.
    const std::u16string_view tail = u"/contacts.csv";
    if (path.size() < tail.size() ||
        path.compare(path.size() - tail.size(), tail.size(), tail) != 0)
        return {};
    return ToFsPath(path);
}

void ContactBook::load() {
    LoadContactBook(*this, ContactFilePath());
}

bool ContactBook::save(std::filesystem::path* keptAside) const {
    return SaveContactBook(*this, ContactFilePath(), keptAside);
}

std::u16string ContactFileKeptAsideMessage(const std::filesystem::path& keptAside) {
    return u"The contact book file could not be read completely. It was kept as \"" +
           FromFsPath(keptAside) + u"\", and a new contact book file was written.";
}

}  // namespace miravo
