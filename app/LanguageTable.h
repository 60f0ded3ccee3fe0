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

inline constexpr std::size_t kTextBufferWidth = 4096;  // longest text: 4095 characters
inline constexpr std::size_t kNameFieldWidth = 85;     // code and display name: 84

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
    TextArg(unsigned long long v) : kind(Kind::Integer), integer(static_cast<long long>(v)) {}
    TextArg(std::u16string_view s) : kind(Kind::Text), utf8(toUtf8(s)) {}
    TextArg(const std::u16string& s) : kind(Kind::Text), utf8(toUtf8(s)) {}
    TextArg(const char16_t* s) : kind(Kind::Text), utf8(toUtf8(s ? s : u"")) {}
};

// Formats `format` with printf rules over `args` and cuts the result to
// 4095 characters. Accepted conversions: %d %i %u %o %x %X and %c take an
// integer (%c a Unicode code point); %s takes a text or an integer (shown in
// decimal); "%%" is a percent sign. Flags, widths and precisions up to 4095
// (also given by '*'), the C length modifiers and positional arguments
// ("%2$s") work as in printf. Anything else (%n, %p, floating point, a text
// for an integer conversion, too few arguments, a dangling '%', a huge
// width) makes the whole text come back raw, never formatted wrongly.
// Extra arguments are ignored, as printf does.
std::u16string FormatText(std::u16string_view format, const std::vector<TextArg>& args);

// Whether FormatText formats `format` over `args` rather than giving it back
// raw: the check a language file's texts must pass for the arguments the
// program passes them.
bool FormatAccepts(std::u16string_view format, const std::vector<TextArg>& args);

// The hex form: a value made only of "0123456789ABCDEF" (capital letters;
// empty counts) where each group of four digits is one UTF-16 code unit,
// low byte first ("4100" is "A", "1004" is U+0410); a short trailing group
// is dropped. DecodeHexForm returns a value that is not in hex form as it
// is; a decoded text ends at a 0000 group, as the text would in a C buffer.
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
    friend int ListLanguage(const LanguageTable&, int, std::size_t, std::u16string&,
                            std::u16string*, std::size_t);
    struct Snapshot;
    std::shared_ptr<const Snapshot> current() const;

    // A lookup takes the current snapshot under the lock and reads it
    // without; loading swaps in a new one, so readers never see a half-built
    // table and an old snapshot lives on until its last reader is done.
    mutable std::mutex mutex_;
    std::shared_ptr<const Snapshot> snapshot_;
};

// Loads a language: 1 on success, 0 on failure (the table is then unchanged).
// An empty code means "en". The file is read once; the display name is the
// "lang" value of the code's section, else of section "en", decoded and cut
// to 84 characters. Fails when the file holds no display name for the code
// or the code is longer than 84 characters.
int LoadLanguage(LanguageTable& table, const std::u16string& filePath, std::u16string_view code);

template <typename... Args>
std::u16string GetText(const LanguageTable& table, int id, const Args&... args) {
    if (!table.loaded())
        return {};
    return FormatText(table.rawText(id), std::vector<TextArg>{TextArg(args)...});
}

// Formats into `dest` when it is larger than the text (capacity in
// characters, terminator included); always returns the whole text.
template <typename... Args>
std::u16string GetTextInto(const LanguageTable& table, int id, std::u16string& dest,
                           std::size_t capacity, const Args&... args) {
    std::u16string text = GetText(table, id, args...);
    if (capacity > text.size())
        dest = text;
    return text;
}

// The n-th section (counted from 1) of the loaded language file. When it
// exists and `displayName` is given, the display name is filled with the
// section's decoded "lang" value, cut to `nameCapacity` - 1 characters.
// Returns 1 when the section exists and its name fits `codeCapacity`
// (terminator included), the name then being copied to `code`; 0 otherwise
// (also when no language is loaded).
int ListLanguage(const LanguageTable& table, int n, std::size_t codeCapacity, std::u16string& code,
                 std::u16string* displayName, std::size_t nameCapacity = kNameFieldWidth);

inline std::u16string LanguageCode(const LanguageTable& t) {
    return t.code();
}
inline std::u16string LanguageName(const LanguageTable& t) {
    return t.displayName();
}

}  // namespace miravo
