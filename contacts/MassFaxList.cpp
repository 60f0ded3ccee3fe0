#include "contacts/MassFaxList.h"

#include "app/NumberCheck.h"

#include <QString>
#include <new>

#include "app/AppSettings.h"
#include "app/FileBytes.h"
#include "app/Text.h"
#include "contacts/CsvImport.h"

namespace miravo {

namespace {

bool isLineEnd(char16_t c) {
    return c == u'\r' || c == u'\n';
}

}  // namespace

std::u16string FoldLetterCase(std::u16string_view text) {
    std::u16string folded(text);
    bool ascii = true;
    for (char16_t& c : folded) {
        if (c >= 0x80) {
            ascii = false;
            break;
        }
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + (u'a' - u'A'));
    }
    if (ascii)
        return folded;
    const QString q = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
    return q.toCaseFolded().toStdU16String();
}

std::u16string LineField(std::u16string_view line, std::size_t field, char16_t delimiter) {
    if (field == 0)
        return std::u16string(line);
    std::u16string out;
    std::size_t current = 1;
    bool quoted = false;
    for (char16_t c : line) {
        if (c == u'"') {
            quoted = !quoted;
        } else if (c == delimiter && !quoted) {
            if (++current > field)
                break;
        } else if (current == field) {
            out.push_back(c);
        }
    }
    return out;
}

bool MassFaxList::contains(std::u16string_view number) const {
    return folded_.count(FoldLetterCase(number)) != 0;
}

void MassFaxList::append(std::u16string number) {
    ++folded_[FoldLetterCase(number)];
    rows_.push_back(std::move(number));
}

bool MassFaxList::add(std::u16string_view number) {
    if (number.empty() || number.size() > kMassFaxNumberLength)
        return false;
    std::u16string key = FoldLetterCase(number);
    if (folded_.count(key) != 0) {
        ++merged_;
        return false;
    }
    folded_.emplace(std::move(key), 1);
    rows_.emplace_back(number);
    return true;
}

std::size_t MassFaxList::appendRecords(const std::vector<Contact>& records) {
    const std::size_t before = rows_.size();
    for (const Contact& record : records) {
        if (record.kind == Group) {
            for (const std::u16string& member : record.members) {
                if (!member.empty())
                    append(member);
            }
        } else if (!record.number.empty()) {
            if (!record.name.empty())
                names_[record.number] = record.name;
            append(record.number);
        }
    }
    return rows_.size() - before;
}

std::size_t MassFaxList::addEntries(const std::vector<CsvEntry>& entries) {
    const std::size_t before = rows_.size();
    for (const CsvEntry& entry : entries)
        if (add(entry.number) && !entry.name.empty())
            names_[entry.number] = entry.name;
    return rows_.size() - before;
}

std::u16string MassFaxList::nameOf(std::u16string_view number) const {
    const auto it = names_.find(std::u16string(number));
    return it == names_.end() ? std::u16string() : it->second;
}

void MassFaxList::forget(const std::u16string& number) {
    if (!names_.empty() && !contains(number))
        names_.erase(number);
}

std::size_t MassFaxList::addLines(std::u16string_view text, std::size_t field, char16_t delimiter) {
    const std::size_t before = rows_.size();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && !isLineEnd(text[end]))
            ++end;
        if (end > start)
            add(LineField(text.substr(start, end - start), field, delimiter));
        start = end + 1;
    }
    return rows_.size() - before;
}

bool MassFaxList::remove(std::size_t index) {
    if (index >= rows_.size())
        return false;
    const auto it = folded_.find(FoldLetterCase(rows_[index]));
    if (it != folded_.end() && --it->second == 0)
        folded_.erase(it);
    const std::u16string number = std::move(rows_[index]);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
    forget(number);
    return true;
}

std::size_t MassFaxList::removeMarked(const std::vector<char>& drop) {
    std::vector<std::u16string> kept;
    kept.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (i >= drop.size() || !drop[i])
            kept.push_back(std::move(rows_[i]));
    }
    const std::size_t removed = rows_.size() - kept.size();
    rows_.clear();
    folded_.clear();
    for (std::u16string& number : kept)
        append(std::move(number));
    std::erase_if(names_, [&](const auto& entry) { return !contains(entry.first); });
    return removed;
}

std::size_t MassFaxList::writeInternational(std::u16string_view region) {
    const NumberChecker checker(region);
    std::vector<std::u16string> rows = std::move(rows_);
    rows_.clear();
    folded_.clear();
    std::size_t changed = 0;
    for (std::u16string& number : rows) {
        const NumberVerdict verdict = checker.check(number);
        if (!verdict.international.empty() && verdict.international != number) {
            if (const auto name = names_.find(number); name != names_.end()) {
                names_.try_emplace(verdict.international, name->second);
            }
            number = verdict.international;
            ++changed;
        }
        if (folded_.count(FoldLetterCase(number)) == 0)
            append(std::move(number));
    }
    std::erase_if(names_, [&](const auto& entry) { return !contains(entry.first); });
    return changed;
}

std::vector<Recipient> MassFaxList::recipients() const {
    std::vector<Recipient> out;
    out.reserve(rows_.size());
    const Contact blank = Contact::entry(std::u16string(u"0"), {}, {}, {});
    for (const std::u16string& number : rows_) {
        out.push_back(blank);
        out.back().number = number;
        out.back().name = nameOf(number);
    }
    return out;
}

bool IsPlainListPath(std::u16string_view path) {
    return path.find(u".txt") != std::u16string_view::npos;
}

std::u16string DecodeMassFaxText(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    return fromLocal8Bit(bytes);
}

MassFaxFile ReadMassFaxFile(const std::filesystem::path& path, std::u16string_view pathText) {
    MassFaxFile file;
    try {
        std::string bytes;
        if (ReadFileBytes(path, bytes) != FileRead::Read)
            return file;
        if (LooksLikeUtf16(bytes)) {
            file.text = DecodeText(bytes);
            if (file.text.find(u'\0') != std::u16string::npos) {  // no text file
                file = MassFaxFile{};
                file.kind = MassFaxFile::Kind::Unsupported;
                return file;
            }
        } else {
            file.text = DecodeMassFaxText(bytes);
        }
        file.kind =
            IsPlainListPath(pathText) ? MassFaxFile::Kind::PlainList : MassFaxFile::Kind::Csv;
    } catch (const std::bad_alloc&) {
        file = MassFaxFile{};
    }
    return file;
}

std::u16string_view CsvDataLines(std::u16string_view text) {
    const std::size_t end = text.find_first_of(u"\r\n");
    if (end == std::u16string_view::npos)
        return {};
    std::size_t start = end + 1;
    if (text[end] == u'\r' && start < text.size() && text[start] == u'\n')
        ++start;
    return text.substr(start);
}

std::size_t AddCsvData(MassFaxList& list, std::u16string_view text,
                       std::optional<std::size_t> field, std::u16string_view delimiterSetting) {
    if (!field)
        return 0;
    return list.addLines(CsvDataLines(text), *field, DelimiterOf(delimiterSetting));
}

std::size_t AddCsvRows(MassFaxList& list, std::u16string_view text, char16_t delimiter,
                       const CsvColumns& columns) {
    return list.addEntries(CsvEntries(ParseCsv(text, delimiter), columns));
}

std::u16string MassFaxFolderOf(std::u16string_view path) {
    if (path.size() >= kPathWidth)
        return {};
    const std::size_t slash = path.rfind(u'/');
    if (slash == std::u16string_view::npos)
        return {};
    return std::u16string(path.substr(0, slash + 1));
}

}  // namespace miravo
