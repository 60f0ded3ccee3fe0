#include "contacts/VCard.h"

#include <QByteArray>
#include <QStringDecoder>

#include <algorithm>
#include <cstdint>
#include <list>
#include <map>
#include <set>

#include "app/Text.h"
#include "contacts/AddressBookSync.h"
#include "contacts/ContactStore.h"
#include "contacts/MassFaxList.h"
#include "contacts/TextDecoding.h"

namespace miravo {

namespace {

constexpr std::size_t kFoldWidth = 75;  // octets of a line before it is folded

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Splits at `separator` outside double quotes.
std::vector<std::string_view> splitOutsideQuotes(std::string_view s, char separator) {
    std::vector<std::string_view> parts;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"')
            quoted = !quoted;
        else if (s[i] == separator && !quoted) {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(s.substr(start));
    return parts;
}

std::string unquoted(std::string_view s) {
    s = trimmed(s);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        s = s.substr(1, s.size() - 2);
    return std::string(s);
}

struct Property {
    std::string group;               // lower case: "item1" of "item1.TEL"
    std::string name;                // lower case, group prefix removed
    std::vector<std::string> types;  // TYPE values and 2.1's bare parameters, lower case
    std::string charset;             // lower case
    bool quotedPrintable = false;
    std::string label;               // a LABEL parameter, lower case
    std::string_view value;          // raw, still encoded and escaped
};

// "item1.TEL;TYPE=fax,work;CHARSET=UTF-8:value"; false without a ':'.
bool parseProperty(std::string_view line, Property& p) {
    std::size_t colon = std::string_view::npos;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon == std::string_view::npos)
        return false;
    p.value = line.substr(colon + 1);
    const std::vector<std::string_view> head = splitOutsideQuotes(line.substr(0, colon), ';');
    std::string_view name = trimmed(head.front());
    if (const std::size_t dot = name.rfind('.'); dot != std::string_view::npos) {
        p.group = lower(name.substr(0, dot));
        name.remove_prefix(dot + 1);
    }
    p.name = lower(name);
    for (std::size_t i = 1; i < head.size(); ++i) {
        const std::string_view parameter = head[i];
        const std::size_t equals = parameter.find('=');
        const std::string key =
            equals == std::string_view::npos ? std::string("type")
                                             : lower(trimmed(parameter.substr(0, equals)));
        const std::string value = lower(unquoted(
            equals == std::string_view::npos ? parameter : parameter.substr(equals + 1)));
        if (key == "charset") {
            p.charset = value;
        } else if (key == "encoding" || value == "quoted-printable") {
            p.quotedPrintable = p.quotedPrintable || value == "quoted-printable" || value == "qp";
        } else if (key == "type") {
            // 2.1's bare encoding counts as one wherever it stands in a list.
            for (std::string_view t : splitOutsideQuotes(value, ','))
                if (std::string type = unquoted(t); type == "quoted-printable")
                    p.quotedPrintable = true;
                else
                    p.types.push_back(std::move(type));
        } else if (key == "label" || key == "x-label" || key == "x-ablabel") {
            p.label = value;
        }
    }
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string decodeQuotedPrintable(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '=' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 &&
            hexDigit(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::u16string decodeCharset(const std::string& bytes, const std::string& charset) {
    if (charset.empty())
        return fromLocal8Bit(bytes);
    if (charset == "utf-8" || charset == "utf8")
        return fromUtf8(bytes);
    if (charset == "windows-1252" || charset == "cp1252")
        return fromCp1252(bytes);
    QStringDecoder decoder(charset.c_str());
    if (!decoder.isValid())
        return fromLocal8Bit(bytes);
    const QString text = decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    return text.toStdU16String();
}

constexpr char32_t kNoSeparator = 0x110000;  // no character has this value

// The value's components split at unescaped `separator`s, each unescaped.
std::vector<std::u16string> components(const Property& p, char32_t separator) {
    const std::string bytes =
        p.quotedPrintable ? decodeQuotedPrintable(p.value) : std::string(p.value);
    const std::u16string text = decodeCharset(bytes, p.charset);
    std::vector<std::u16string> parts(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\\' && i + 1 < text.size()) {
            const char16_t next = text[++i];
            parts.back().push_back(next == u'n' || next == u'N' ? u'\n' : next);
        } else if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

std::u16string trimmed16(std::u16string s) {
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; };
    while (!s.empty() && blank(s.back()))
        s.pop_back();
    std::size_t start = 0;
    while (start < s.size() && blank(s[start]))
        ++start;
    return s.substr(start);
}

// A name without what no name holds: line breaks become spaces, control
// characters and byte-order marks go, and so do blanks around it.
std::u16string cleanName(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r' || c == u'\n') {
            out.push_back(u' ');
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if (c >= u' ' && c != 0x7F && c != 0xFEFF) {
            out.push_back(c);
        }
    }
    return trimmed16(std::move(out));
}

std::u16string joinedValue(const Property& p) {
    std::u16string out;
    for (const std::u16string& part : components(p, kNoSeparator))
        out += part;
    // Line breaks become spaces, other control characters go, before the
    // value is looked at (a "tel:" prefix split by one is still a prefix).
    for (char16_t& c : out)
        if (c == u'\n' || c == u'\r' || c == u'\t')
            c = u' ';
    std::erase_if(out, [](char16_t c) { return c < u' ' || c == 0x7F; });
    return trimmed16(out);
}

// 4.0's "tel:" URIs: the number without the URI's parameters (";ext=…").
std::u16string numberOfUri(std::u16string number) {
    bool uri = false;
    while (number.size() >= 4 && equalsIgnoreAsciiCase(number.substr(0, 4), u"tel:")) {
        number = trimmed16(number.substr(4));
        uri = true;
    }
    return uri ? trimmed16(number.substr(0, number.find(u';'))) : number;
}

struct Tel {
    std::u16string number;
    std::vector<std::string> types;  // lower case
    std::string group;               // the property group, for its label
    std::u16string label;            // the label given to the number, if any
    bool fax = false;
    bool cell = false;
};

struct CardFields {
    std::u16string fn, n;
    std::vector<Tel> tels;
    std::vector<std::u16string> groups;
    std::map<std::string, std::u16string> labels;  // property group -> X-ABLabel text
};

// Labels as desktop address books write them: "_$!<WorkFax>!$_" or plain text.
std::u16string labelText(std::u16string label) {
    if (label.starts_with(u"_$!<") && label.ends_with(u">!$_"))
        label = label.substr(4, label.size() - 8);
    return trimmed16(std::move(label));
}

std::u16string lower16(std::u16string_view s) {
    return QString::fromUtf16(s.data(), qsizetype(s.size())).toLower().toStdU16String();
}

// A label that names a fax line, in the languages address books use.
bool labelsFax(std::u16string_view label) {
    const std::u16string l = lower16(label);
    for (std::u16string_view word : {u"fax", u"факс", u"télécopie", u"telecopia"})
        if (l.find(word) != std::u16string::npos)
            return true;
    return false;
}

bool isMobileType(std::string_view type) {
    return type == "cell" || type == "mobile" || type == "pager" || type == "iphone";
}

void take(CardFields& card, const Property& p) {
    if (p.name == "fn") {
        card.fn = joinedValue(p);
    } else if (p.name == "n") {
        std::vector<std::u16string> n = components(p, u';');
        n.resize(5);
        // prefix, given, additional, family, suffix
        std::u16string name;
        for (int i : {3, 1, 2, 0, 4}) {
            const std::u16string part = trimmed16(n[i]);
            if (!part.empty())
                name += (name.empty() ? u"" : u" ") + part;
        }
        card.n = name;
    } else if (p.name == "tel") {
        Tel tel;
        tel.number = joinedValue(p);
        tel.number = numberOfUri(std::move(tel.number));
        tel.types = p.types;
        tel.group = p.group;
        tel.label = labelText(fromUtf8(p.label));
        if (!tel.number.empty())
            card.tels.push_back(std::move(tel));
    } else if (p.name == "x-ablabel" || p.name == "x-label") {
        if (!p.group.empty())
            card.labels[p.group] = labelText(joinedValue(p));
    } else if (p.name == "categories" || p.name == "x-categories") {
        // One desktop client writes "a\,b" for two categories: the book
        // cannot hold a comma in a group name anyway, so every comma splits.
        for (const std::u16string& part : components(p, kNoSeparator)) {
            std::size_t start = 0;
            while (start <= part.size()) {
                std::size_t end = part.find(u',', start);
                if (end == std::u16string::npos)
                    end = part.size();
                std::u16string g = cleanName(part.substr(start, end - start));
                while (g.starts_with(u"* "))  // webmail's own groups
                    g = cleanName(g.substr(2));
                if (!g.empty() && !IsSystemLabel(g) &&
                    std::find(card.groups.begin(), card.groups.end(), g) == card.groups.end())
                    card.groups.push_back(std::move(g));
                start = end + 1;
            }
        }
    }
}

// The kind a fax number is marked with: "work" or "home" from its types,
// else its label without the word fax, else nothing.
std::u16string kindOf(const Tel& t) {
    for (const char* kind : {"work", "home"})
        if (std::find(t.types.begin(), t.types.end(), kind) != t.types.end())
            return fromUtf8(kind);
    const std::u16string l = lower16(t.label);
    if (l.find(u"work") != std::u16string::npos)
        return u"work";
    if (l.find(u"home") != std::u16string::npos)
        return u"home";
    if (!t.label.empty() && !(labelsFax(t.label) && t.label.size() <= 4))
        return t.label;
    return {};
}

// What an export writes as the number's TYPE: a fax number as "fax" with
// its work/home kind, any other number with the types it had.
std::u16string typesOf(const Tel& t) {
    std::u16string out = t.fax ? u"fax" : u"";
    for (const std::string& type : t.types) {
        const bool plain = !type.empty() && std::all_of(type.begin(), type.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        });
        if (!plain || (t.fax && type != "work" && type != "home"))
            continue;
        const std::u16string u = fromUtf8(type);
        if (out.find(u) == std::u16string::npos)
            out += (out.empty() ? u"" : u",") + u;
    }
    return out;
}

void finish(CardFields& card, VCardRead& read) {
    const std::u16string name = !card.fn.empty() ? card.fn : card.n;
    std::vector<const Tel*> faxes;
    std::vector<const Tel*> others;  // neither fax nor mobile
    std::size_t mobiles = 0;
    for (Tel& t : card.tels) {
        if (t.label.empty())
            if (const auto label = card.labels.find(t.group);
                !t.group.empty() && label != card.labels.end())
                t.label = label->second;
        const bool faxType = std::any_of(t.types.begin(), t.types.end(), [](const std::string& x) {
            return x.find("fax") != std::string::npos;
        });
        t.fax = faxType || labelsFax(t.label);
        t.cell = !t.fax && std::any_of(t.types.begin(), t.types.end(), isMobileType);
        if (t.fax)
            faxes.push_back(&t);
        else if (t.cell)
            ++mobiles;
        else
            others.push_back(&t);
    }
    const bool toCheck = faxes.empty();
    if (faxes.empty() && others.size() == 1)
        faxes.push_back(others.front());
    if (faxes.empty()) {
        read.skipped.push_back({name, card.tels.empty()   ? SkipReason::NoNumber
                                      : others.empty()    ? SkipReason::OnlyMobile
                                                          : SkipReason::NoFaxNumber});
        return;
    }
    std::u16string gsm;
    for (const Tel& t : card.tels)
        if (t.cell) {
            gsm = t.number;
            break;
        }
    // With several fax numbers each contact is told apart by its kind; the
    // same kind twice, or none, is counted.
    std::map<std::u16string, int> seen;
    for (const Tel* t : faxes)
        ++seen[kindOf(*t)];
    std::map<std::u16string, int> counted;
    for (const Tel* t : faxes) {
        VCardContact c;
        c.name = name.empty() ? t->number : name;
        c.number = t->number;
        c.numberToCheck = toCheck;
        if (t->number != gsm)
            c.gsmnumber = gsm;
        c.kind = kindOf(*t);
        c.types = typesOf(*t);
        if (faxes.size() > 1) {
            c.marked = true;
            if (c.kind.empty() || seen[c.kind] > 1) {
                const int n = ++counted[c.kind];
                c.kind = (c.kind.empty() ? std::u16string(u"fax") : c.kind) + u" " +
                         toU16(static_cast<long>(n));
            }
        }
        c.groups = card.groups;
        read.contacts.push_back(std::move(c));
    }
}

// Physical lines: any of CR, LF and CR LF ends one (phones write CR CR LF
// too); empty lines carry nothing and are left out, so a fold still
// follows the line it continues.
std::vector<std::string_view> physicalLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        while (line.starts_with("\xEF\xBB\xBF"))  // files joined with their marks
            line.remove_prefix(3);
        if (!line.empty())
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Whether the line's value is quoted-printable, read from its parameters
// as its decoding reads them: only then does a "=" at its end go on on the
// next line. (A type that merely holds the word, such as
// "X-NOT-QUOTED-PRINTABLE", must not swallow the line after it.)
bool isQuotedPrintableLine(std::string_view line) {
    Property p;
    return parseProperty(line, p) && p.quotedPrintable;
}

// ---- writing ---------------------------------------------------------------

std::string escaped(std::u16string_view text) {
    std::string out;
    for (char c : toUtf8(text)) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case ',': out += "\\,"; break;
            case ';': out += "\\;"; break;
            case '\n': out += "\\n"; break;
            case '\r': break;
            default: out.push_back(c);
        }
    }
    return out;
}

// Appends the content line folded at 75 octets, never inside a UTF-8 sequence.
void appendLine(std::string& out, std::string_view line) {
    std::size_t room = kFoldWidth;
    while (line.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        out.append(line.substr(0, cut));
        out += "\r\n ";
        line.remove_prefix(cut);
        room = kFoldWidth - 1;
    }
    out.append(line);
    out += "\r\n";
}

bool exported(const Contact& c) {
    return c.kind == Single && c.state != Deleted;
}

}  // namespace

VCardRead ReadVCards(std::string_view bytes) {
    VCardRead read;
    std::string converted;
    if (LooksLikeUtf16(bytes)) {
        converted = toUtf8(DecodeText(bytes));
        bytes = converted;
    }
    const std::vector<std::string_view> lines = physicalLines(bytes);

    CardFields card;
    int depth = 0;  // cards inside a card (2.1's AGENT) are skipped
    std::string logical;
    const auto handle = [&](std::string_view line) {
        Property p;
        if (!parseProperty(line, p))
            return;
        const std::u16string value = fromUtf8(trimmed(p.value));
        if (p.name == "begin" && equalsIgnoreAsciiCase(value, u"vcard")) {
            if (depth++ == 0)
                card = CardFields();
        } else if (p.name == "end" && equalsIgnoreAsciiCase(value, u"vcard")) {
            if (depth > 0 && --depth == 0)
                finish(card, read);
        } else if (depth == 1) {
            take(card, p);
        }
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        logical.assign(lines[i]);
        // Folded lines go on after a space or tab; quoted-printable values
        // go on after a "=" that ends the line.
        for (;;) {
            if (i + 1 < lines.size() && !lines[i + 1].empty() &&
                (lines[i + 1].front() == ' ' || lines[i + 1].front() == '\t')) {
                logical.append(lines[++i].substr(1));
            } else if (i + 1 < lines.size() && !logical.empty() && logical.back() == '=' &&
                       isQuotedPrintableLine(logical)) {
                logical.pop_back();
                logical.append(lines[++i]);
            } else {
                break;
            }
        }
        if (!trimmed(logical).empty())
            handle(logical);
    }
    if (depth > 0)  // a last card without its END
        finish(card, read);
    return read;
}

std::size_t VCardCount(const ContactBook& book) {
    return static_cast<std::size_t>(
        std::count_if(book.contacts.begin(), book.contacts.end(), exported));
}

std::string WriteVCards(const ContactBook& book) {
    std::string out;
    for (const Contact& c : book.contacts) {
        if (!exported(c))
            continue;
        const auto origin = book.cards.find(CardKey(c.name, c.number));
        const bool fromCard = origin != book.cards.end();
        out += "BEGIN:VCARD\r\nVERSION:4.0\r\n";
        appendLine(out, "FN:" + escaped(fromCard ? origin->second.name : c.name));
        if (!c.number.empty()) {
            // A number typed here is a fax number; one from a card is
            // what the card said it was.
            const std::u16string types = fromCard ? origin->second.types : u"fax";
            appendLine(out, (types.empty() ? "TEL:" : "TEL;TYPE=" + toUtf8(types) + ":") +
                                escaped(c.number));
        }
        if (!c.gsmnumber.empty())
            appendLine(out, "TEL;TYPE=cell:" + escaped(c.gsmnumber));
        std::string categories;
        for (const auto& [group, members] : book.groups) {
            if (!c.number.empty() &&
                std::find(members.begin(), members.end(), c.number) != members.end())
                categories += (categories.empty() ? "" : ",") + escaped(group);
        }
        if (!categories.empty())
            appendLine(out, "CATEGORIES:" + categories);
        out += "END:VCARD\r\n";
    }
    return out;
}

bool IsSystemLabel(std::u16string_view category) {
    const std::u16string l = lower16(category);
    for (std::u16string_view label :
         {u"mycontacts", u"starred", u"other contacts", u"othercontacts", u"chats", u"blocked",
          u"frequent", u"frequently contacted", u"imported", u"favorites", u"favourites"})
        if (l == label)
            return true;
    return false;
}

namespace {

// A surrogate without its partner (a decoder's or the cut's) cannot be
// written as UTF-8: it becomes the replacement character already here.
void sound(std::u16string& kept) {
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const bool high = kept[i] >= 0xD800 && kept[i] <= 0xDBFF;
        const bool low = kept[i] >= 0xDC00 && kept[i] <= 0xDFFF;
        if (high && i + 1 < kept.size() && kept[i + 1] >= 0xDC00 && kept[i + 1] <= 0xDFFF)
            ++i;
        else if (high || low)
            kept[i] = 0xFFFD;
    }
}

// A field as contacts.csv keeps it, without control characters, cut to
// `room` and without blanks around it, so that what is exported reads back
// the same.
std::u16string storable(std::u16string_view text, std::size_t room) {
    std::u16string kept = StorableContactField(text);
    std::erase_if(kept, [](char16_t c) { return c < u' ' || c == 0x7F; });
    kept = trimmed16(fitField(kept, room));
    sound(kept);
    return kept;
}

// The mark of a contact of a card with several fax numbers: " (work)".
std::u16string markOf(const VCardContact& card) {
    return card.marked ? u" (" + trimmed16(fitField(cleanName(card.kind), kAnswerNameRoom / 2)) + u")"
                       : std::u16string();
}

// The name as the book keeps it: storable, marked with the number's kind
// when the card has several fax numbers, and when too long cut and ended
// with "…" (the mark kept whole).
std::u16string storedName(const VCardContact& card, ChangedName& change) {
    const std::u16string clean = cleanName(card.name);
    if (clean.empty())  // no name at all: the caller names the contact by its number
        return {};
    std::u16string name = StorableContactField(clean);
    change.replaced = name != clean;
    const std::u16string mark = StorableContactField(markOf(card));
    const std::size_t room = kAnswerNameRoom - 1 - mark.size();
    if (name.size() > room) {
        name = trimmed16(name.substr(0, room - 1));
        name += u"\u2026";
        change.cut = true;
    }
    name += mark;
    sound(name);
    return name;
}

}  // namespace

VCardImport AddVCardContacts(ContactBook& book, const std::vector<VCardContact>& contacts) {
    VCardImport result;
    std::set<std::u16string> known;
    // Looked up once per group, not once per member: a file of thousands
    // of cards in one group stays linear.
    std::map<std::u16string, std::set<std::u16string>> memberSets;
    std::map<std::u16string, std::list<Contact>::iterator> groupRecords;
    for (const Contact& c : book.contacts)
        if (exported(c))
            known.insert(c.name + u'\n' + c.number);
    for (const VCardContact& card : contacts) {
        // No fax number is that long; a cut one would dial someone else.
        const std::u16string number = numberOfUri(storable(card.number, SIZE_MAX));
        // The name as the card gave it, with the mark an export keeps.
        const std::u16string cardName = cleanName(card.name) + markOf(card);
        if (number.empty())
            continue;
        if (number.size() >= kAnswerNumberRoom) {
            result.skipped.push_back({cardName, SkipReason::NumberTooLong});
            continue;
        }
        ChangedName change;
        std::u16string name = storedName(card, change);
        if (name.empty()) {
            name = number;
            change = {};
        }
        std::u16string gsm = numberOfUri(storable(card.gsmnumber, SIZE_MAX));
        if (gsm.size() >= kAnswerNumberRoom || gsm == number)
            gsm.clear();
        if (!known.insert(name + u'\n' + number).second) {
            ++result.alreadyThere;
            result.skipped.push_back({cardName, SkipReason::AlreadyThere});
            continue;
        }
        if (change.replaced || change.cut) {
            change.card = cardName;
            change.stored = name;
            result.changed.push_back(std::move(change));
        }
        // A marked name cut to fit is what an export writes: the card's
        // whole name with the mark would read back cut elsewhere.
        std::u16string types = card.types;
        if (!card.numberToCheck && types.find(u"fax") == std::u16string::npos)
            types = types.empty() ? u"fax" : u"fax," + types;
        book.cards[CardKey(name, number)] = {
            name == number || (card.marked && change.cut) ? name : cardName, std::move(types)};
        Contact contact = Contact::entry(u"0", name, number, gsm);
        contact.kind = Single;
        contact.state = New;
        book.contacts.push_back(std::move(contact));
        ++result.added;
        if (card.numberToCheck)
            result.toCheck.push_back(name);
        for (const std::u16string& rawGroup : card.groups) {
            const std::u16string group = storable(rawGroup, kAnswerNameRoom);
            if (group.empty())
                continue;
            auto [members, first] = memberSets.try_emplace(group);
            if (first) {  // the group as the book has it so far
                const auto& known = book.groups[group];
                members->second.insert(known.begin(), known.end());
            }
            if (!members->second.insert(number).second)
                continue;
            book.groups[group].push_back(number);
            auto [record, unseen] = groupRecords.try_emplace(group, book.contacts.end());
            if (unseen) {
                record->second = std::find_if(
                    book.contacts.begin(), book.contacts.end(),
                    [&](const Contact& c) { return c.kind == Group && c.groupname == group; });
            }
            if (record->second != book.contacts.end()) {
                record->second->members.push_back(number);
                // Members added here: kept through synchronisation.
                record->second->state = New;
            } else {
                Contact g = Contact::full(u"", u"", u"", u"", u"", group);
                g.kind = Group;
                g.state = New;
                g.members = {number};
                book.contacts.push_front(std::move(g));
                record->second = book.contacts.begin();
            }
        }
    }
    if (result.added > 0)
        book.modified = true;
    return result;
}

}  // namespace miravo
