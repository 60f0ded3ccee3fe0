#include "contacts/VCardFile.h"

#include "app/FileBytes.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "app/TextIds.h"
#include "contacts/ContactStore.h"

namespace miravo {

namespace {

// A vCard file of contact names and numbers: read by the user alone.
constexpr unsigned kVCardFileMode = 0600;

void print(std::FILE* to, const std::u16string& text) {
    std::fprintf(to, "%s\n", toUtf8(text).c_str());
}

std::u16string joined(const std::vector<std::u16string>& names) {
    std::u16string out;
    for (const std::u16string& name : names)
        out += (out.empty() ? u"" : u", ") + name;
    return out;
}

}  // namespace

VCardFileImport ImportVCardFile(const std::filesystem::path& file, ContactBook& book) {
    VCardFileImport result;
    std::string bytes;
    if (ReadFileBytes(file, bytes) != FileRead::Read)
        return result;
    result.read = true;
    VCardRead cards = ReadVCards(bytes);
    result.withoutNumber = std::move(cards.withoutNumber);
    result.added = AddVCardContacts(book, cards.contacts);
    return result;
}

bool ExportVCardFile(const std::filesystem::path& file, const ContactBook& book,
                     std::size_t& written) {
    written = VCardCount(book);
    return writeFileAtomically(file, WriteVCards(book), kVCardFileMode);
}

int RunContactsCommand(ContactsCommand command, const std::filesystem::path& file,
                       const LanguageTable& language, std::FILE* out, std::FILE* err) {
    ContactBook book;
    const ContactFileRead loaded = LoadContactBook(book, ContactFilePath());
    if (loaded == ContactFileRead::Unreadable || loaded == ContactFileRead::Damaged) {
        // Saving over a book that did not read whole could lose contacts.
        print(err, GetText(language, text::kFileNotRead, FromFsPath(ContactFilePath())));
        return kContactsCommandFailed;
    }
    if (command == ContactsCommand::Export) {
        std::size_t written = 0;
        if (!ExportVCardFile(file, book, written)) {
            print(err, GetText(language, text::kFileNotWritten, FromFsPath(file)));
            return kContactsCommandFailed;
        }
        print(out, GetText(language, text::kContactsExported, FromFsPath(file),
                           static_cast<int>(written)));
        return 0;
    }
    const VCardFileImport imported = ImportVCardFile(file, book);
    if (!imported.read) {
        print(err, GetText(language, text::kFileNotRead, FromFsPath(file)));
        return kContactsCommandFailed;
    }
    if (imported.added.added > 0 && !book.save()) {
        print(err, GetText(language, text::kFileNotWritten, FromFsPath(ContactFilePath())));
        return kContactsCommandFailed;
    }
    print(out, GetText(language, text::kContactsImported, static_cast<int>(imported.added.added),
                       static_cast<int>(imported.added.alreadyThere),
                       static_cast<int>(imported.withoutNumber.size())));
    if (!imported.added.toCheck.empty())
        print(out, GetText(language, text::kCheckImportedNumbers, joined(imported.added.toCheck)));
    return 0;
}

}  // namespace miravo
