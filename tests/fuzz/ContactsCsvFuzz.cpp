// contacts.csv: whatever loads saves back to the same records.
#include <cstdlib>

#include "contacts/ContactStore.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace miravo;
    ContactBook book;
    if (LoadContactBook(book, fuzz::AsFile(fuzz::Bytes(data, size), "contacts.csv")) !=
        ContactFileRead::Loaded)
        return 0;
    ContactBook again;
    ParseContactFile(FormatContactFile(book), again);
    if (again.contacts != book.contacts || again.groups != book.groups)
        std::abort();
    return 0;
}
