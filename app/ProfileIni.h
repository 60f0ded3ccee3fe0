// Profile INI files (settings and language files) with the semantics of the
// Windows profile-string functions: sections and keys match ignoring case,
// values are trimmed of surrounding blanks and one pair of surrounding
// double quotes, a write replaces the key's value in place (or appends the
// key or section) and keeps every other line. A file that begins with the
// UTF-16LE byte-order mark stays UTF-16LE; any other file is read as
// local 8-bit text (UTF-8 when valid, else Windows-1252).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/FileBytes.h"

namespace miravo {

class ProfileFile {
  public:
    // Reads the file; a missing or unreadable file gives an empty profile.
    static ProfileFile load(const std::filesystem::path& path);
    static ProfileFile fromText(std::u16string text, bool utf16 = true);
    // Reads only what lookups in some sections need, for a large file read
    // often (the language file): every line of the sections `whole` names,
    // and of each other section its header and its `key` entries. Lookups
    // there and sections() give what they give on the whole file; such a
    // profile is never saved.
    static ProfileFile loadPart(const std::filesystem::path& path,
                                const std::vector<std::u16string_view>& whole,
                                std::u16string_view key);

    // The trimmed value, or nothing when the section or key is absent.
    std::optional<std::u16string> value(std::u16string_view section, std::u16string_view key) const;
    // GetPrivateProfileString: the value (or the default when absent),
    // cut to capacity - 1 characters.
    std::u16string getString(std::u16string_view section, std::u16string_view key,
                             std::u16string_view fallback, std::size_t capacity) const;
    // GetPrivateProfileInt: leading decimal digits of the value; the default
    // when absent; a negative value gives 0.
    unsigned getInt(std::u16string_view section, std::u16string_view key, unsigned fallback) const;
    // Section names in file order (first spelling of each).
    std::vector<std::u16string> sections() const;

    // Replaces the value in place, or appends the key to its section, or
    // appends the section; every other line stays as it was.
    void set(std::u16string_view section, std::u16string_view key, std::u16string_view value);

    // Whether the text came from (or will be written as) UTF-16LE with BOM.
    bool isUtf16() const { return encoding_ == Encoding::Utf16le; }
    std::u16string text() const;
    // True when the file exists but could not be read; save() then refuses
    // to replace it, so the unread content is never lost.
    bool readFailed() const { return readFailed_; }

    // Writes through a temporary file in the same folder and a rename, so a
    // crash leaves either the old or the new file whole. `mode` is applied
    // to the new file (0600 for settings). Returns false on any failure,
    // leaving the old file untouched.
    bool save(const std::filesystem::path& path, unsigned mode = 0644) const;

  private:
    // How the bytes of the file are written back. An 8-bit file read as
    // Windows-1252 stays Windows-1252 while every character fits, and
    // becomes UTF-8 otherwise (which reads back the same).
    enum class Encoding { Utf16le, Utf8, Cp1252 };
    struct Line {
        std::u16string content;  // without the line end
        std::u16string end;      // "\r\n", "\n" or empty (last line)
    };
    // The part to keep, for loadPart.
    struct Part {
        const std::vector<std::u16string_view>* whole;
        std::u16string_view key;
    };
    static ProfileFile parse(std::u16string_view text, Encoding encoding,
                             const Part* part = nullptr);
    static ProfileFile read(const std::filesystem::path& path, const Part* part);
    std::optional<std::size_t> findSection(std::u16string_view section) const;
    std::optional<std::size_t> findKey(std::size_t sectionLine, std::u16string_view key) const;
    std::u16string newLineEnd() const;
    std::string encode() const;

    std::vector<Line> lines_;
    Encoding encoding_ = Encoding::Utf16le;
    bool utf8Bom_ = false;  // an 8-bit file that began with EF BB BF keeps it
    bool readFailed_ = false;
    bool partial_ = false;  // read by loadPart: saving it would lose the rest
};

// Ensures the file is UTF-16LE with BOM: a missing file is created holding
// only FF FE; a file starting with FF FE is left untouched byte for byte
// (returns true); any other file is rewritten as FF FE + its text converted
// from local 8-bit text. Returns true only when the file already began
// with FF FE.
bool EnsureUnicodeFile(const std::filesystem::path& path);

}  // namespace miravo
