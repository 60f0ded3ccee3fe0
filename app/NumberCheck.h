// Whether a typed fax number can be a real number, and the one international
// form (E.164) under which the same number written differently is found
// again. The checking is the phone-number library's; numbers written without
// an international prefix are read as numbers of the default region.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace miravo {

// The region of the user's locale ("DE" for de_DE), or "US" when the locale
// names none.
std::u16string RegionFromLocale();

// Two letters in capitals when `text` names a region the library knows;
// empty otherwise.
std::u16string NormalizedRegion(std::u16string_view text);

// Whether the fax service takes `number` as written: 5 to 20 digits, at
// most one "+" before them all, and only blanks, "-", ".", "/", "(" and ")"
// between them. A valid number is both a real number and one the service takes.
bool ServiceTakesNumber(std::u16string_view number);

// Every region the library knows, sorted.
std::vector<std::u16string> KnownRegions();

struct NumberVerdict {
    bool valid = false;
    // "+4930123456" when the text reads as a number at all (valid or not);
    // empty when it does not.
    std::u16string international;
};

class NumberChecker {
  public:
    explicit NumberChecker(std::u16string_view region);

    NumberVerdict check(std::u16string_view number) const;
    // What two numbers are compared by: the international form, or the text
    // itself when it does not read as a number.
    std::u16string key(std::u16string_view number) const;

  private:
    std::string region_;
};

// A whole list checked at once: per entry whether it is invalid and whether
// it repeats an earlier entry (same international form).
struct NumberListCheck {
    std::vector<char> invalid;
    std::vector<char> duplicate;
    std::size_t validCount = 0;
    std::size_t invalidCount = 0;
    std::size_t duplicateCount = 0;
};

// Verdicts kept between checks of a list that changes a little at a time
// (the mass-fax list); valid for one region only.
using NumberVerdictCache = std::unordered_map<std::u16string, NumberVerdict>;

NumberListCheck CheckNumberList(const std::vector<std::u16string>& numbers,
                                std::u16string_view region, NumberVerdictCache* cache = nullptr);

}  // namespace miravo
