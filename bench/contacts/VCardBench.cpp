// The vCard import of a 10,000-card file (3.0 with folded lines, several
// TEL types and groups, every tenth card a phone's 2.1 quoted-printable
// one) into an empty contact book, against loading the same book from
// contacts.csv in the same run. The goal: under one second.
// Usage: vcard_bench [cards] (default 10000).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/FileBytes.h"
#include "bench/BestTime.h"
#include "contacts/ContactStore.h"
#include "contacts/VCard.h"

using namespace miravo;

namespace {

std::string cards(int count) {
    std::string file;
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        if (i % 10 == 9) {
            file += "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:"
                    "=D0=9F=D0=B5=D1=82=D1=80=D0=BE=D0=B2;=D0=98=\r\n=D0=B2=D0=B0=D0=BD " + n +
                    ";;;\r\nTEL;CELL:+7 912 " + n + "\r\nTEL;WORK;FAX:+7 495 " + n +
                    "\r\nEND:VCARD\r\n";
            continue;
        }
        file += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berger " + n + ";Anna;;;\r\nFN:Anna Berger " + n +
                "\\, Praxis für Allgemeinmedizin und Naturheilverfahren Dr. med. \r\n Berger\r\n"
                "item1.TEL;type=WORK;type=VOICE;type=pref:+49 30 1" + n +
                "\r\nitem2.TEL;type=WORK;type=FAX:+49 30 2" + n + "\r\nTEL;TYPE=CELL:+49 170 " + n +
                "\r\nCATEGORIES:Group " + std::to_string(i % 40) + ",Kunden\r\nEND:VCARD\r\n";
    }
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const std::string file = cards(count);

    ContactBook book;
    const double vcard = bench::BestTime(5, [&] {
        book = ContactBook();
        AddVCardContacts(book, ReadVCards(file).contacts);
    });

    const std::filesystem::path csv =
        std::filesystem::temp_directory_path() / ("vcard_bench_" + std::to_string(::getpid()));
    SaveContactBook(book, csv);
    const double store = bench::BestTime(5, [&] {
        ContactBook loaded;
        LoadContactBook(loaded, csv);
    });
    std::filesystem::remove(csv);

    std::printf("vCard import of %d cards (%zu KiB): %.3f s, %zu contacts, %zu groups (goal < 1 s: %s)\n",
                count, file.size() / 1024, vcard, book.contacts.size() - book.groups.size(),
                book.groups.size(), vcard < 1.0 ? "met" : "MISSED");
    std::printf("comparison, loading the same book from contacts.csv: %.3f s (ratio %.1f)\n", store,
                store > 0 ? vcard / store : 0.0);
    return 0;
}
