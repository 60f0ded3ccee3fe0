// A pasted list of 100,000 lines (a tenth of them repeats, some not
// numbers at all) goes into the mass-fax list by the line rule and is
// checked: valid, invalid, duplicates. Beside it, in the same process, a
// plain loop that only parses each line with the phone-number library.
// Goal: the whole check under one second. Usage: number_check_bench [lines]
#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/NumberCheck.h"
#include "app/Text.h"
#include "bench/BestTime.h"
#include "contacts/MassFaxList.h"

using namespace miravo;

int main(int argc, char** argv) {
    const int lines = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    std::u16string pasted;
    std::vector<std::string> plain;
    for (int i = 0; i < lines; ++i) {
        std::string line;
        if (i % 10 == 9)
            line = "030 " + std::to_string(20000000 + i / 2);  // the same as an earlier one
        else if (i % 50 == 7)
            line = "Fax " + std::to_string(i);
        else
            line = "+49 30 " + std::to_string(20000000 + i);
        plain.push_back(line);
        pasted += fromUtf8(line) + u"\r\n";
    }

    NumberListCheck check;
    std::size_t rows = 0;
    const double checked = bench::BestTime(3, [&] {
        MassFaxList list;
        list.addLines(pasted);
        check = CheckNumberList(list.rows(), u"DE");
        rows = list.size();
    });

    // The share of the list itself: the lines added, nothing checked.
    const double addedOnly = bench::BestTime(3, [&] {
        MassFaxList list;
        list.addLines(pasted);
    });

    const auto& util = *i18n::phonenumbers::PhoneNumberUtil::GetInstance();
    std::size_t parsed = 0;
    const double parseOnly = bench::BestTime(3, [&] {
        parsed = 0;
        for (const std::string& line : plain) {
            i18n::phonenumbers::PhoneNumber number;
            if (util.Parse(line, "DE", &number) ==
                i18n::phonenumbers::PhoneNumberUtil::NO_PARSING_ERROR)
                ++parsed;
        }
    });

    std::printf("%d pasted lines, %zu rows: %zu valid, %zu invalid, %zu duplicates\n", lines,
                rows, check.validCount, check.invalidCount, check.duplicateCount);
    std::printf("added and checked:        %.3f s (goal < 1 s)\n", checked);
    std::printf("  of which added:         %.3f s\n", addedOnly);
    std::printf("plain parse loop (%zu ok): %.3f s\n", parsed, parseOnly);
    std::printf("ratio: %.2f\n", checked / parseOnly);
    return checked < 1.0 ? 0 : 1;
}
