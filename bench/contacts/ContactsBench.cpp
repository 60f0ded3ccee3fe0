// Timings of the contacts core, each beside a comparison run in the same
// process:
//  - merging a 10,000-contact address-book answer (one parse), against the
//    reading of every value by loading and searching the answer file
//    afresh, timed on smaller books and extrapolated (its cost grows with
//    the square of the book);
//  - the mass-fax line rule on a 100,000-line CSV text with duplicates,
//    against a row-by-row duplicate search on a smaller text, extrapolated;
//  - loading and saving a 10,000-contact contacts.csv, against reading and
//    writing the same bytes without parsing or formatting.
// Usage: contacts_bench [contacts] (default 10000).
#include <unistd.h>
#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/ProfileIni.h"
#include "bench/BestTime.h"
#include "app/Text.h"
#include "contacts/AddressBookSync.h"
#include "contacts/ContactStore.h"
#include "contacts/CsvImport.h"
#include "contacts/MassFaxList.h"

namespace fs = std::filesystem;
using namespace miravo;

namespace {

using bench::BestTime;

std::string verdict(double seconds, double limit) {
    return seconds <= limit ? "met" : "MISSED";
}

// An answer of `count` contacts; every fifth is a member of one of 40
// groups, every fiftieth has no number.
std::string addressBookAnswer(int count) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<API_RESULT><GET_ADDRESS_BOOK>"
        "<RESULT>0</RESULT>";
    for (int i = 0; i < count; ++i) {
        const bool member = i % 5 == 0;
        const std::string n = std::to_string(i);
        xml += "<CONTACT><ID>" + std::to_string(100000 + i) + "</ID><GSMNUMBER>+49170" + n +
               "</GSMNUMBER><NUMBER>" + (i % 50 == 49 ? "" : "+4930" + n) + "</NUMBER><NAME>Name " +
               n + "</NAME><GROUPID>" + (member ? std::to_string(i % 40) : "0") +
               "</GROUPID><GROUPNAME>" + (member ? "Group " + std::to_string(i % 40) : "") +
               "</GROUPNAME></CONTACT>\n";
    }
    return xml + "</GET_ADDRESS_BOOK></API_RESULT>\n";
}

// One value read the way a reader without a kept parse does it: load the
// file, select the path's nodes, take the one at `index`.
std::u16string reloadAndRead(const fs::path& file, const char* path, std::size_t index,
                             std::size_t room) {
    pugi::xml_document doc;
    if (!doc.load_file(file.c_str()))
        return {};
    const pugi::xpath_node_set nodes = doc.select_nodes(path);
    if (nodes.size() <= index)
        return {};
    return fitField(fromUtf8(nodes[index].node().text().get()), room);
}

// The merge by re-loading per value; returns the records it built.
std::size_t naiveMerge(const fs::path& file) {
    if (reloadAndRead(file, "API_RESULT/GET_ADDRESS_BOOK/RESULT", 0, 260) != u"0")
        return 0;
    std::list<Contact> contacts;
    std::map<std::u16string, std::vector<std::u16string>> groups;
    for (std::size_t i = 0;; ++i) {
        std::u16string id = reloadAndRead(file, "API_RESULT/GET_ADDRESS_BOOK/CONTACT/ID", i, 10);
        if (id.empty())
            break;
        std::u16string gsm =
            reloadAndRead(file, "API_RESULT/GET_ADDRESS_BOOK/CONTACT/GSMNUMBER", i, 30);
        std::u16string number =
            reloadAndRead(file, "API_RESULT/GET_ADDRESS_BOOK/CONTACT/NUMBER", i, 30);
        std::u16string name =
            reloadAndRead(file, "API_RESULT/GET_ADDRESS_BOOK/CONTACT/NAME", i, 60);
        std::u16string groupid =
            reloadAndRead(file, "API_RESULT/GET_ADDRESS_BOOK/CONTACT/GROUPID", i, 10);
        std::u16string groupname =
            reloadAndRead(file, "API_RESULT/GET_ADDRESS_BOOK/CONTACT/GROUPNAME", i, 60);
        if (number.empty())
            continue;
        if (!groupname.empty()) {
            groups[groupname].push_back(number);
            continue;
        }
        Contact c = Contact::full(id, name, number, gsm, groupid, u"");
        c.kind = Single;
        contacts.push_back(c);
    }
    for (const auto& [name, members] : groups) {
        Contact g = Contact::full(u"", u"", u"", u"", u"", name);
        g.members = members;
        contacts.push_front(g);
    }
    return contacts.size();
}

void benchMerge(const fs::path& folder, int count) {
    const std::string answer = addressBookAnswer(count);
    ContactBook book;
    std::size_t records = 0;
    const double fast = BestTime(5, [&] {
        MergeAddressBook(book, answer);
        records = book.contacts.size();
    });

    double naive = 0;
    int small = 0;
    double smallTimes[2] = {0, 0};
    const int sizes[2] = {count / 40, count / 20};
    for (int k = 0; k < 2; ++k) {
        small = std::max(sizes[k], 10);
        const fs::path file = folder / ("result-" + std::to_string(small) + ".xml");
        std::ofstream(file, std::ios::binary) << addressBookAnswer(small);
        std::size_t naiveRecords = 0;
        smallTimes[k] = BestTime(1, [&] { naiveRecords = naiveMerge(file); });
        ContactBook check;
        MergeAddressBook(check, addressBookAnswer(small));
        if (naiveRecords != check.contacts.size())
            std::printf("  (the re-loading merge built %zu records, the merge %zu)\n", naiveRecords,
                        check.contacts.size());
    }
    const double scale = static_cast<double>(count) / small;
    naive = smallTimes[1] * scale * scale;

    std::printf("Address-book merge, %d contacts (%zu answer bytes, %zu records built)\n", count,
                answer.size(), records);
    std::printf("  merge, one parse:              %9.3f ms   (target <= 1000 ms: %s)\n", fast * 1e3,
                verdict(fast, 1.0).c_str());
    std::printf("  re-load per value, %5d:       %9.3f ms\n", std::max(sizes[0], 10),
                smallTimes[0] * 1e3);
    std::printf("  re-load per value, %5d:       %9.3f ms   (x%.2f for twice the book)\n", small,
                smallTimes[1] * 1e3, smallTimes[1] / smallTimes[0]);
    std::printf("  re-load per value, %5d (ext): %9.0f ms   ratio %.0f : 1\n", count, naive * 1e3,
                naive / fast);
}

// "Name;Number" lines; one number in ten repeats an earlier one, half of
// those in another letter case.
std::u16string massFaxCsv(int lines) {
    std::u16string text = u"Name;Fax\r\n";
    for (int i = 0; i < lines; ++i) {
        const int n = i % 10 == 9 ? i / 2 : i;
        text += u"\"Contact; " + toU16(i) + u"\";+49 30 " + toU16(n) +
                (i % 20 == 19 ? u" x" : u" X") + u"\r\n";
    }
    return text;
}

void benchLineRule(const fs::path& folder, int lines) {
    const std::u16string text = massFaxCsv(lines);
    const char16_t delimiter = DelimiterOf(u";");
    std::size_t rows = 0;
    const double fast = BestTime(5, [&] {
        MassFaxList list;
        list.addLines(CsvDataLines(text), 2, delimiter);
        rows = list.size();
    });
    const fs::path file = folder / "numbers.csv";
    std::ofstream(file, std::ios::binary) << toUtf8(text);
    const double withFile = BestTime(5, [&] {
        MassFaxList list;
        const MassFaxFile csv = ReadMassFaxFile(file, u"numbers.csv");
        AddCsvData(list, csv.text, 2, u";");
    });

    // The same rule with the duplicate search row by row.
    const int small = lines / 20;
    const std::u16string smallText = massFaxCsv(small);
    std::size_t slowRows = 0;
    const double slow = BestTime(1, [&] {
        std::vector<std::u16string> found;  // folded, as they are compared
        std::u16string_view rest = CsvDataLines(smallText);
        while (!rest.empty()) {
            const std::size_t end = std::min(rest.find_first_of(u"\r\n"), rest.size());
            if (end > 0) {
                const std::u16string candidate =
                    FoldLetterCase(LineField(rest.substr(0, end), 2, delimiter));
                if (!candidate.empty() &&
                    std::find(found.begin(), found.end(), candidate) == found.end())
                    found.push_back(candidate);
            }
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
        slowRows = found.size();
    });
    const double scale = static_cast<double>(lines) / small;
    const double slowExt = slow * scale * scale;
    std::printf("Mass-fax line rule, %d CSV lines (%zu rows kept)\n", lines, rows);
    std::printf("  hashed duplicate check:        %9.3f ms   (target <= 1000 ms: %s)\n", fast * 1e3,
                verdict(fast, 1.0).c_str());
    std::printf("  file read + decode + rule:     %9.3f ms   (target <= 1000 ms: %s)\n",
                withFile * 1e3, verdict(withFile, 1.0).c_str());
    std::printf("  row-by-row search, %6d:      %9.3f ms   (%zu rows)\n", small, slow * 1e3,
                slowRows);
    std::printf("  row-by-row search, %6d (ext):%9.0f ms   ratio %.0f : 1\n", lines, slowExt * 1e3,
                slowExt / fast);
}

void benchStore(const fs::path& folder, int count) {
    ContactBook book;
    for (int i = 0; i < count; ++i) {
        if (i % 100 == 0) {
            Contact g = Contact::full(u"", u"", u"", u"", u"", u"Group " + toU16(i));
            for (int m = 0; m < 20; ++m)
                g.members.push_back(u"+4930" + toU16(i * 100 + m));
            book.contacts.push_back(g);
            continue;
        }
        Contact c = Contact::full(toU16(100000 + i), u"Name \u00E9 " + toU16(i),
                                  u"+49 30 " + toU16(i), u"+49170" + toU16(i), u"0", u"");
        c.kind = Single;
        c.state = i % 4;
        book.contacts.push_back(c);
    }
    const fs::path file = folder / "contacts.csv";
    const double save = BestTime(5, [&] { SaveContactBook(book, file); });
    ContactBook loaded;
    const double load = BestTime(5, [&] { LoadContactBook(loaded, file); });
    if (loaded.contacts != book.contacts)
        std::printf("  (the loaded book differs from the saved one)\n");

    std::string bytes;
    const double rawRead = BestTime(5, [&] {
        std::ifstream in(file, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    });
    const double rawWrite = BestTime(5, [&] { writeFileAtomically(folder / "raw.csv", bytes, 0600); });

    std::printf("contacts.csv, %d records (%zu bytes)\n", count, bytes.size());
    std::printf("  save (format + atomic write):  %9.3f ms   (target <= 100 ms: %s)\n", save * 1e3,
                verdict(save, 0.1).c_str());
    std::printf("  same bytes, atomic write only: %9.3f ms\n", rawWrite * 1e3);
    std::printf("  load (read + parse):           %9.3f ms   (target <= 100 ms: %s)\n", load * 1e3,
                verdict(load, 0.1).c_str());
    std::printf("  same bytes, read only:         %9.3f ms\n", rawRead * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
    const int contacts = argc > 1 ? std::max(100, std::atoi(argv[1])) : 10000;
    const fs::path folder =
        fs::temp_directory_path() / ("miravo-contacts-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    benchMerge(folder, contacts);
    benchLineRule(folder, contacts * 10);
    benchStore(folder, contacts);
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
