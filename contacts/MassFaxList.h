// The rows of the mass-fax list without its dialog: the numbers in order,
// the rules by which typed numbers, contact-book records, clipboard text and
// files add to them, and the conversion into the recipients of a send.
// Duplicates are found ignoring letter case through a hash index, so adding
// n lines costs O(n), not O(n^2).
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/Contact.h"
#include "contacts/CsvImport.h"
#include "contacts/TextDecoding.h"

namespace miravo {

// The longest number a row takes: the number field's width less its
// terminator. Longer candidates are refused whole, never cut, since a cut
// number would dial another destination.
inline constexpr std::size_t kMassFaxNumberLength = 259;

// Shown when a file holds UTF-16 text.
inline constexpr char16_t kUnsupportedFileFormat[] = u"Unsupported file format";

// `text` with letter case folded, for comparisons that ignore it.
std::u16string FoldLetterCase(std::u16string_view text);

// Field `field` (counted from 1) of one line: a double quote toggles
// between inside and outside quotes and is dropped, the delimiter outside
// quotes ends a field. Empty when the line has fewer fields; the whole
// line when `field` is 0.
std::u16string LineField(std::u16string_view line, std::size_t field, char16_t delimiter);

class MassFaxList {
  public:
    const std::vector<std::u16string>& rows() const { return rows_; }
    std::size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }

    // Numbers that were not added because the list held them already
    // (ignoring letter case): merged into the row that was there.
    std::size_t merged() const { return merged_; }

    // Whether a row equals `number`, ignoring letter case.
    bool contains(std::u16string_view number) const;

    // The Add button: appends `number` unless it is empty, longer than
    // kMassFaxNumberLength or already listed (ignoring letter case).
    // Returns whether a row was added.
    bool add(std::u16string_view number);

    // Appends records as the contact book hands them over: a group gives a
    // row for each member, any other record a row with its number. Nothing
    // is checked against the rows already present; only empty numbers,
    // which could never be dialled, give no row. Returns the rows added.
    std::size_t appendRecords(const std::vector<Contact>& records);

    // The line rule: cuts `text` at CR, LF and its end; for each non-empty
    // line takes the whole line (`field` 0) or field `field` (see
    // LineField), and appends it unless it is empty, longer than
    // kMassFaxNumberLength or already listed ignoring letter case. Nothing
    // is trimmed. Returns the rows added.
    std::size_t addLines(std::u16string_view text, std::size_t field = 0,
                         char16_t delimiter = u',');

    // Appends the numbers of a CSV import (see CsvEntries) by the rules of
    // add(), each with its name, which its recipient then carries.
    // Returns the rows added.
    std::size_t addEntries(const std::vector<CsvEntry>& entries);

    // The name that came with a row's number, if any.
    std::u16string nameOf(std::u16string_view number) const;

    // Deletes row `index` (0-based); the rows after it move up. False when
    // there is no such row.
    bool remove(std::size_t index);
    // Deletes every row whose entry in `drop` is non-zero, in one pass.
    // Returns the rows deleted.
    std::size_t removeMarked(const std::vector<char>& drop);
    // Writes every row that reads as a number in its international form
    // (E.164) for `region`; a row that then repeats an earlier one goes.
    // Returns the rows changed.
    std::size_t writeInternational(std::u16string_view region);

    // OK: one recipient per row in order, in entry form with id "0", the
    // name that came with the number (from a CSV file or the contact
    // book; else none), the row's number and no mobile number. Numbers
    // are kept whole.
    std::vector<Recipient> recipients() const;

  private:
    std::size_t merged_ = 0;
    void append(std::u16string number);
    void forget(const std::u16string& number);  // its name, once no row holds it

    std::vector<std::u16string> rows_;
    std::unordered_map<std::u16string, std::size_t> folded_;  // folded number -> rows with it
    std::unordered_map<std::u16string, std::u16string> names_;  // number -> the name it came with
};

// Whether the mass-fax file at `path` is read as a plain list (one number
// a line): its path holds ".txt" in these lower-case letters anywhere.
// Any other file goes through the CSV import.
bool IsPlainListPath(std::u16string_view path);


// A file's 8-bit text as the program reads it: UTF-8 when valid, else
// Windows-1252; a leading UTF-8 byte-order mark is dropped and the text
// ends at a zero character.
std::u16string DecodeMassFaxText(std::string_view bytes);

struct MassFaxFile {
    enum class Kind {
        Unreadable,   // could not be opened or read: nothing happens
        Unsupported,  // UTF-16 text that holds zero characters: show kUnsupportedFileFormat
        PlainList,    // apply the line rule with field 0 to `text`
        Csv,          // run the CSV import on `text`, then CsvDataLines
    };
    Kind kind = Kind::Unreadable;
    std::u16string text;
};

// Reads and classifies a mass-fax file.
MassFaxFile ReadMassFaxFile(const std::filesystem::path& path, std::u16string_view pathText);

// The data lines of a CSV text: everything after its header line, which
// ends at the first CR, LF or CR LF (as the header split reads it). A text
// of a header alone gives nothing.
std::u16string_view CsvDataLines(std::u16string_view text);

// Adds the data lines of a CSV text by the line rule: the text after its
// header line (CsvDataLines), field `field` of each line, split at the
// delimiter of the DELIMITER setting ("," when the setting is empty, as
// the header was split). Without a chosen field (OK with no row ticked)
// nothing is added: whole CSV lines are no fax numbers. Returns the rows
// added.
std::size_t AddCsvData(MassFaxList& list, std::u16string_view text,
                       std::optional<std::size_t> field, std::u16string_view delimiterSetting);

// Adds the data rows of a CSV text read with `delimiter`: every value of
// the number fields, with the name field's text (CsvEntries). Returns the
// rows added.
std::size_t AddCsvRows(MassFaxList& list, std::u16string_view text, char16_t delimiter,
                       const CsvColumns& columns);

// What LAST_DIR_ADD_MASS_FILE becomes after a file was chosen: the path up
// to and including its last '/'. Empty (keep the setting) when the path
// does not fit a path field or holds no '/'.
std::u16string MassFaxFolderOf(std::u16string_view path);

}  // namespace miravo
