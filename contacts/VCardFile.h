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

struct VCardFileImport {
    bool read = false;  // the file could be read
    VCardImport added;
    std::vector<std::u16string> withoutNumber;  // names of cards left out
};

// Adds the file's contacts to `book` (AddVCardContacts).
VCardFileImport ImportVCardFile(const std::filesystem::path& file, ContactBook& book);

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
