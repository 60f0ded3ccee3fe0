// vCard files and the contact book: reading a file into the book, writing
// the book to a file, and the same as a command for scripts and migration
// ("miravo --import-contacts FILE.vcf", "miravo --export-contacts FILE.vcf").
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/AppState.h"
#include "contacts/VCard.h"

namespace miravo {
class LanguageTable;
}

namespace miravo {

struct VCardFileImport {
    bool read = false;  // the file could be read
    VCardImport added;
    std::vector<SkippedCard> withoutNumber;  // cards left out for want of a number
};

// Adds the contacts of a file's bytes to `book` (AddVCardContacts).
VCardFileImport ImportVCards(std::string_view bytes, ContactBook& book);

// Adds the file's contacts to `book` (AddVCardContacts).
VCardFileImport ImportVCardFile(const std::filesystem::path& file, ContactBook& book);

// What the user is told after an import, one paragraph per entry: the
// counts, the contacts whose number is to be checked, every card left out
// with its name and why, every name kept otherwise than the card gave it.
std::vector<std::u16string> ImportSummary(const LanguageTable& language,
                                          const VCardFileImport& imported);

// Writes the book's contacts to `file` in one atomic replacement; false
// when it could not be written. `written` counts the cards.
bool ExportVCardFile(const std::filesystem::path& file, const ContactBook& book,
                     std::size_t& written);

enum class ContactsCommand { Import, Export };
inline constexpr int kContactsCommandFailed = 1;

// Runs the command on the contact book of the application-data folder,
// prints the counts in the language of the settings and returns the exit
// status: 0, or kContactsCommandFailed when a file could not be read or written.
int RunContactsCommand(ContactsCommand command, const std::filesystem::path& file,
                       const LanguageTable& language, std::FILE* out, std::FILE* err);

}  // namespace miravo
