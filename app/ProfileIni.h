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

namespace miravo {

class ProfileFile {
public:
    // Reads the file; a missing or unreadable file gives an empty profile.
    static ProfileFile load(const std::filesystem::path& path);
    static ProfileFile fromText(std::u16string text, bool utf16 = true);

    // The trimmed value, or nothing when the section or key is absent.
    std::optional<std::u16string> value(std::u16string_view section,
                                        std::u16string_view key) const;
    // GetPrivateProfileString: the value (or the default when absent),
    // cut to capacity - 1 characters.
    std::u16string getString(std::u16string_view section, std::u16string_view key,
                             std::u16string_view fallback, std::size_t capacity) const;
    // GetPrivateProfileInt: leading decimal digits of the value; the default
    // when absent; a negative value gives 0.
    unsigned getInt(std::u16string_view section, std::u16string_view key,
                    unsigned fallback) const;
    // Section names in file order (first spelling of each).
    std::vector<std::u16string> sections() const;

    // Replaces the value in place, or appends the key to its section, or
    // appends the section; every other line stays as it was.
    void set(std::u16string_view section, std::u16string_view key, std::u16string_view value);

    // Whether the text came from (or will be written as) UTF-16LE with BOM.
    bool isUtf16() const { return utf16_; }
    std::u16string text() const;

    // Writes through a temporary file in the same folder and a rename, so a
    // crash leaves either the old or the new file whole. `mode` is applied
    // to the new file (0600 for settings). Returns false on any failure,
    // leaving the old file untouched.
    bool save(const std::filesystem::path& path, unsigned mode = 0644) const;

private:
    std::vector<std::u16string> lines_;
    bool utf16_ = true;
    bool endsWithNewline_ = true;
};

// Writes `data` to `path` atomically (temporary file + fsync + rename) with
// the given mode. Shared by every file the program replaces as a whole.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view data,
                         unsigned mode = 0644);

// Ensures the file is UTF-16LE with BOM: a missing file is created holding
// only FF FE; a file starting with FF FE is left untouched byte for byte
// (returns true); any other file is rewritten as FF FE + its text converted
// from local 8-bit text. Returns true only when the file already began
// with FF FE.
bool EnsureUnicodeFile(const std::filesystem::path& path);

}  // namespace miravo
