// The contact book file "contacts.csv": UTF-16LE with byte-order mark, one
// line per record ended by CR LF, no header. A line is state, kind, id,
// name, number, gsmnumber, groupid and groupname separated by ",", followed
// by ",<member>" for every member when the group name is not empty (or
// the record is a group).
//
// The format has no quoting, so a field may hold neither "," nor a line
// break. The dialogs refuse such input where it is typed
// (ContactFieldIsStorable); whatever still reaches the save (names received
// from the service, for instance) is written neutralised
// (StorableContactField), never as a line that reads back as other records.
// Lines have no length limit: a group with very many members is written and
// read whole.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "app/Contact.h"

namespace miravo {

inline constexpr char16_t kContactFileName[] = u"contacts.csv";

// What a character does to a record that holds it: "," splits fields,
// CR and LF end the line, and U+FEFF is dropped by the loader.
bool IsContactFileSeparator(char16_t c);

// True when `text` survives a save and load unchanged as one field: it
// holds no ",", no CR, no LF and no U+FEFF. The dialogs use it to refuse
// such input with a message.
bool ContactFieldIsStorable(std::u16string_view text);

// True when every text field and every member of `contact` is storable.
bool ContactIsStorable(const Contact& contact);

// `text` as the file keeps it: "," becomes U+201A (a low comma-like mark),
// each line break (CR LF, CR or LF) becomes one space, U+FEFF is dropped.
// Storable text comes back unchanged.
std::u16string StorableContactField(std::u16string_view text);

// The file's text for `book` (without the byte-order mark): one CR LF
// ended line per record of `contacts`, in order.
std::u16string FormatContactFile(const ContactBook& book);

// Replaces `contacts` and `groups` with the records of the file's text:
// U+FEFF and CR are dropped anywhere, LF ends a line, text after the last
// LF is ignored, lines of fewer than 8 fields are skipped, state and kind
// are read as decimal numbers, groups take fields 9 onwards as members and
// the first group of a name is the one `groups` keeps. `modified` is left
// as it is. Returns the number of lines with text that were skipped (the
// unfinished line after the last LF included).
std::size_t ParseContactFile(std::u16string_view text, ContactBook& book);

enum class ContactFileRead {
    Loaded,      // the file was read (it may have held no records)
    Missing,     // there is no file (or no path): the book is empty
    Unreadable,  // the file exists but could not be read: the book is empty
    Damaged,     // read, but lines had to be skipped, or it holds text and no record
};

// Reads the file at `path` into `book` (see ParseContactFile); a missing or
// unreadable file gives an empty book. A file in another encoding (UTF-8,
// UTF-16BE) or with CR-only line ends reads as Damaged. The bytes are taken in pairs, low
// byte first; a last single byte is ignored.
ContactFileRead LoadContactBook(ContactBook& book, const std::filesystem::path& path);

// Writes the whole book to `path` with the byte-order mark, through a
// temporary file and a rename, readable by the user only: a failure or a
// crash leaves the old file whole. Something at `path` that is not a
// regular file this process can read is never replaced (an unreadable
// book may hold changes the service has not received). Returns whether
// the file was written. A file there that reads as Damaged is first copied
// to "contacts.csv.unreadable-<UTC time>" (its path into `keptAside`);
// when that copy fails nothing is written.
bool SaveContactBook(const ContactBook& book, const std::filesystem::path& path,
                     std::filesystem::path* keptAside = nullptr);

// Beside the book file ("contacts.cards"): what the imported cards gave
// (ContactBook::cards), one UTF-8 line per contact the book still holds as
// imported: name, number, the card's name and the number's types, tab
// separated, with backslash, tab and line breaks escaped. LoadContactBook
// reads it, SaveContactBook writes it after the book.
std::filesystem::path CardFilePath(const std::filesystem::path& contactFile);
std::string FormatCardFile(const ContactBook& book);
void ParseCardFile(std::string_view text, ContactBook& book);

// What the user is told once a damaged contact book file was kept aside.
std::u16string ContactFileKeptAsideMessage(const std::filesystem::path& keptAside);

// Where the book lives: "contacts.csv" in the application-data folder;
// empty when that folder is not available.
std::filesystem::path ContactFilePath();

}  // namespace miravo
