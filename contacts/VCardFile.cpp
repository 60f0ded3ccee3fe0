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

int skipText(SkipReason why) {
    switch (why) {
        case SkipReason::NoNumber: return text::kSkippedNoNumber;
        case SkipReason::NoFaxNumber: return text::kSkippedNoFaxNumber;
        case SkipReason::OnlyMobile: return text::kSkippedOnlyMobile;
        case SkipReason::NumberTooLong: return text::kSkippedNumberTooLong;
        case SkipReason::AlreadyThere: break;
    }
    return text::kSkippedAlreadyThere;
}

// The texts put the name in the language's quotation marks.
std::u16string quotedName(const LanguageTable& language, const std::u16string& name) {
    return name.empty() ? GetText(language, text::kCardWithoutName) : name;
}

}  // namespace

std::vector<std::u16string> ImportSummary(const LanguageTable& language,
                                          const VCardFileImport& imported) {
    std::vector<std::u16string> out;
    out.push_back(GetText(language, text::kContactsImported,
                          static_cast<int>(imported.added.added),
                          static_cast<int>(imported.added.alreadyThere),
                          static_cast<int>(imported.withoutNumber.size())));
    if (!imported.added.toCheck.empty())
        out.push_back(GetText(language, text::kCheckImportedNumbers, joined(imported.added.toCheck)));
    std::vector<SkippedCard> skipped = imported.withoutNumber;
    skipped.insert(skipped.end(), imported.added.skipped.begin(), imported.added.skipped.end());
    if (!skipped.empty()) {
        std::u16string block = GetText(language, text::kImportSkippedHeading);
        for (const SkippedCard& card : skipped)
            block += u"\n\u2022 " + GetText(language, skipText(card.why), quotedName(language, card.name));
        out.push_back(std::move(block));
    }
    if (!imported.added.changed.empty()) {
        std::u16string block = GetText(language, text::kImportNamesHeading);
        for (const ChangedName& name : imported.added.changed)
            block += u"\n\u2022 " + GetText(language, name.cut ? text::kNameCut : text::kNameReplaced,
                                            quotedName(language, name.card),
                                            quotedName(language, name.stored));
        out.push_back(std::move(block));
    }
    return out;
}

VCardFileImport ImportVCardFile(const std::filesystem::path& file, ContactBook& book) {
    VCardFileImport result;
    std::string bytes;
    if (ReadFileBytes(file, bytes) != FileRead::Read)
        return result;
    return ImportVCards(bytes, book);
}

VCardFileImport ImportVCards(std::string_view bytes, ContactBook& book) {
    VCardFileImport result;
    result.read = true;
    VCardRead cards = ReadVCards(bytes);
    result.withoutNumber = std::move(cards.skipped);
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
    for (const std::u16string& paragraph : ImportSummary(language, imported))
        print(out, paragraph);
    return 0;
}

}  // namespace miravo
