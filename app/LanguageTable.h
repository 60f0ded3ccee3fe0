// The loaded language: texts addressed by number in a profile INI file with
// one section per language code. Lookups fall back to section "en", decode
// the hex form, and format the text with type-checked printf-style
// conversions: a text whose conversions do not fit the arguments is shown
// raw, never formatted with the wrong types. Lookups are safe from several
// threads at once; loading replaces the table's content as a whole.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "app/Text.h"

namespace miravo {

class ProfileFile;

inline constexpr std::size_t kTextBufferWidth = 4096;

// One printf argument of a language text: an integer or a text.
struct TextArg {
    enum class Kind { Integer, Text } kind;
    long long integer = 0;
    std::string utf8;

    TextArg(int v) : kind(Kind::Integer), integer(v) {}
    TextArg(long v) : kind(Kind::Integer), integer(v) {}
    TextArg(long long v) : kind(Kind::Integer), integer(v) {}
    TextArg(unsigned v) : kind(Kind::Integer), integer(v) {}
    TextArg(unsigned long v) : kind(Kind::Integer), integer(static_cast<long long>(v)) {}
    TextArg(std::u16string_view s) : kind(Kind::Text), utf8(toUtf8(s)) {}
    TextArg(const std::u16string& s) : kind(Kind::Text), utf8(toUtf8(s)) {}
    TextArg(const char16_t* s) : kind(Kind::Text), utf8(toUtf8(s ? s : u"")) {}
};

// Formats `format` with printf rules over `args`; returns the raw format
// when its conversions do not match the arguments (count or type), and cuts
// the result to 4095 characters.
std::u16string FormatText(std::u16string_view format, const std::vector<TextArg>& args);

// Decodes the hex form: a value made only of "0123456789ABCDEF" (capital
// letters; empty counts) where each group of four digits is one UTF-16 code
// unit, low byte first; a short trailing group is dropped.
bool IsHexForm(std::u16string_view value);
std::u16string DecodeHexForm(std::u16string_view value);

class LanguageTable {
public:
    LanguageTable();
    ~LanguageTable();
    LanguageTable(const LanguageTable&) = delete;
    LanguageTable& operator=(const LanguageTable&) = delete;

    // The raw (unformatted, hex-decoded) text of an id, with the "en" fallback;
    // empty when no language is loaded or the id is missing.
    std::u16string rawText(int id) const;

    std::u16string code() const;
    std::u16string displayName() const;
    std::u16string filePath() const;
    bool loaded() const;

private:
    friend int LoadLanguage(LanguageTable&, const std::u16string&, std::u16string_view);
    struct Snapshot;
    mutable std::mutex mutex_;
    std::shared_ptr<const Snapshot> snapshot_;
};

// Loads a language: 1 on success, 0 on failure (the table is then unchanged).
// An empty code means "en".
int LoadLanguage(LanguageTable& table, const std::u16string& filePath, std::u16string_view code);

template <typename... Args>
std::u16string GetText(const LanguageTable& table, int id, const Args&... args) {
    if (!table.loaded()) return {};
    return FormatText(table.rawText(id), std::vector<TextArg>{TextArg(args)...});
}

// Formats into `dest` when it is larger than the text (capacity in
// characters, terminator included); always returns the whole text.
template <typename... Args>
std::u16string GetTextInto(const LanguageTable& table, int id, std::u16string& dest,
                           std::size_t capacity, const Args&... args) {
    std::u16string text = GetText(table, id, args...);
    if (capacity > text.size()) dest = text;
    return text;
}

// The n-th section (from 1) of the language file: its code and decoded
// display name. Returns false when there is no such section or its name
// does not fit `codeCapacity`.
bool ListLanguage(const std::u16string& filePath, int n, std::size_t codeCapacity,
                  std::u16string& code, std::u16string* displayName);

inline std::u16string LanguageCode(const LanguageTable& t) { return t.code(); }
inline std::u16string LanguageName(const LanguageTable& t) { return t.displayName(); }

}  // namespace miravo
