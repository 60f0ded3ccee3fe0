#include "app/NumberCheck.h"

#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>

#include <QLocale>
#include <algorithm>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "app/Text.h"

namespace miravo {

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

const PhoneNumberUtil& util() {
    return *PhoneNumberUtil::GetInstance();
}

// Numbers longer than this are no phone numbers; the library is not asked.
constexpr std::size_t kLongestNumber = 64;

struct KeyHash {
    std::size_t operator()(const std::u16string& s) const {
        return std::hash<std::u16string_view>()(s);
    }
};

}  // namespace

std::u16string NormalizedRegion(std::u16string_view text) {
    if (text.size() != 2)
        return {};
    std::string code;
    for (char16_t c : text) {
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
        if (c < u'A' || c > u'Z')
            return {};
        code.push_back(static_cast<char>(c));
    }
    std::set<std::string> regions;
    util().GetSupportedRegions(&regions);
    return regions.count(code) ? fromUtf8(code) : std::u16string();
}

std::u16string RegionFromLocale() {
    const QString name = QLocale::system().name();  // "de_DE"
    const qsizetype underscore = name.indexOf(u'_');
    if (underscore >= 0) {
        const std::u16string region = NormalizedRegion(name.mid(underscore + 1).toStdU16String());
        if (!region.empty())
            return region;
    }
    return u"US";
}

std::vector<std::u16string> KnownRegions() {
    std::set<std::string> regions;
    util().GetSupportedRegions(&regions);
    std::vector<std::u16string> out;
    for (const std::string& r : regions)
        out.push_back(fromUtf8(r));
    return out;
}

NumberChecker::NumberChecker(std::u16string_view region) : region_(toUtf8(region)) {}

NumberVerdict NumberChecker::check(std::u16string_view number) const {
    NumberVerdict verdict;
    if (number.empty() || number.size() > kLongestNumber)
        return verdict;
    PhoneNumber parsed;
    if (util().Parse(toUtf8(number), region_, &parsed) != PhoneNumberUtil::NO_PARSING_ERROR)
        return verdict;
    verdict.valid = util().IsValidNumber(parsed);
    std::string e164;
    util().Format(parsed, PhoneNumberUtil::E164, &e164);
    verdict.international = fromUtf8(e164);
    return verdict;
}

std::u16string NumberChecker::key(std::u16string_view number) const {
    NumberVerdict verdict = check(number);
    return verdict.international.empty() ? std::u16string(number)
                                         : std::move(verdict.international);
}

NumberListCheck CheckNumberList(const std::vector<std::u16string>& numbers,
                                std::u16string_view region) {
    const NumberChecker checker(region);
    NumberListCheck out;
    out.invalid.assign(numbers.size(), 0);
    out.duplicate.assign(numbers.size(), 0);
    // A pasted list repeats itself: each distinct text is asked about once.
    std::unordered_map<std::u16string, NumberVerdict, KeyHash> known;
    known.reserve(numbers.size());
    std::unordered_set<std::u16string, KeyHash> seen;
    seen.reserve(numbers.size());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        auto found = known.find(numbers[i]);
        if (found == known.end())
            found = known.emplace(numbers[i], checker.check(numbers[i])).first;
        const NumberVerdict& verdict = found->second;
        const std::u16string& key =
            verdict.international.empty() ? numbers[i] : verdict.international;
        if (!seen.insert(key).second) {
            out.duplicate[i] = 1;
            ++out.duplicateCount;
        } else if (!verdict.valid) {
            out.invalid[i] = 1;
            ++out.invalidCount;
        } else {
            ++out.validCount;
        }
    }
    return out;
}

}  // namespace miravo
