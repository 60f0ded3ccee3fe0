// vCard files: whatever is read and kept exports and reads back the same.
#include <cstdlib>
#include <vector>

#include "contacts/VCard.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace miravo;
    ContactBook book;
    AddVCardContacts(book, ReadVCards(fuzz::Bytes(data, size)).contacts);
    ContactBook again;
    AddVCardContacts(again, ReadVCards(WriteVCards(book)).contacts);
    // Group records may come in another order; the groups and the contacts may not.
    auto singles = [](const ContactBook& b) {
        std::vector<Contact> out;
        for (const Contact& c : b.contacts)
            if (c.kind == Single)
                out.push_back(c);
        return out;
    };
    if (singles(again) != singles(book) || again.groups != book.groups)
        std::abort();
    return 0;
}
