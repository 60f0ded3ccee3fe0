// vCard files: whatever is read and kept exports and reads back the same.
#include <algorithm>
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
    // Group records may come in another order; the contacts may not.
    auto singles = [](const ContactBook& b) {
        std::vector<Contact> out;
        for (const Contact& c : b.contacts)
            if (c.kind == Single)
                out.push_back(c);
        return out;
    };
    // A group holds numbers, not contacts: when two contacts share a number,
    // the first one in the file brings it into the group, so the members'
    // order may change; who they are may not.
    auto members = [](const ContactBook& b) {
        auto groups = b.groups;
        for (auto& [name, numbers] : groups)
            std::sort(numbers.begin(), numbers.end());
        return groups;
    };
    if (singles(again) != singles(book) || members(again) != members(book))
        std::abort();
    return 0;
}
