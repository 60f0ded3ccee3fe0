#include "app/NumberCheck.h"

#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>

#include <QLocale>
#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "app/RegionCode.h"
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

bool isSeparator(char16_t c) {
    return c == u' ' || c == u'-' || c == u'.' || c == u'/' || c == u'(' || c == u')';
}

// The text the library is asked about. The usual shape of a typed number,
// at least three digits among spaces, hyphens, dots, slashes and brackets
// with at most one "+" before them all, reads the same to the library
// without its separators and takes it half the time to read; such a text
// goes without them ("+49 (30) 1234-5678" as "+493012345678"). Any other
// text (letters, an extension, "++", two digits) goes as it is.
std::string libraryText(std::u16string_view number) {
    std::string compact;
    compact.reserve(number.size());
    std::size_t digits = 0;
    for (const char16_t c : number) {
        if (c >= u'0' && c <= u'9') {
            compact.push_back(static_cast<char>(c));
            ++digits;
        } else if (c == u'+' && compact.empty()) {
            compact.push_back('+');
        } else if (!isSeparator(c)) {
            return toUtf8(number);
        }
    }
    return digits >= 3 ? compact : toUtf8(number);
}

NumberVerdict checkLibraryText(const std::string& text, const std::string& region) {
    NumberVerdict verdict;
    PhoneNumber parsed;
    if (util().Parse(text, region, &parsed) != PhoneNumberUtil::NO_PARSING_ERROR)
        return verdict;
    // A number the library reads (letters of a vanity number become digits)
    // is still no number the fax service takes as written.
    verdict.valid = util().IsValidNumber(parsed) && ServiceTakesNumber(fromUtf8(text));
    std::string e164;
    util().Format(parsed, PhoneNumberUtil::E164, &e164);
    verdict.international.assign(e164.begin(), e164.end());  // "+" and digits only
    return verdict;
}

}  // namespace

bool ServiceTakesNumber(std::u16string_view number) {
    std::size_t digits = 0;
    bool plus = false;
    for (const char16_t c : number) {
        if (c >= u'0' && c <= u'9')
            ++digits;
        else if (c == u'+' && digits == 0 && !plus)
            plus = true;
        else if (!isSeparator(c))
            return false;
    }
    return digits >= 5 && digits <= 20;
}

std::u16string NormalizedRegion(std::u16string_view text) {
    const std::string code = toUtf8(RegionCode(text));
    if (code.empty())
        return {};
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
    if (number.empty() || number.size() > kLongestNumber)
        return {};
    return checkLibraryText(libraryText(number), region_);
}

std::u16string NumberChecker::key(std::u16string_view number) const {
    NumberVerdict verdict = check(number);
    return verdict.international.empty() ? std::u16string(number)
                                         : std::move(verdict.international);
}

NumberListCheck CheckNumberList(const std::vector<std::u16string>& numbers,
                                std::u16string_view region, NumberVerdictCache* cache) {
    const std::string regionCode = toUtf8(region);
    NumberListCheck out;
    out.invalid.assign(numbers.size(), 0);
    out.duplicate.assign(numbers.size(), 0);
    // A pasted list repeats itself: each distinct text is looked at once.
    std::unordered_map<std::u16string_view, std::size_t> distinct;
    distinct.reserve(numbers.size());
    std::vector<std::size_t> textOf(numbers.size());
    std::vector<std::u16string_view> texts;
    // Texts already judged (the cache) are not asked about again.
    std::vector<const NumberVerdict*> known;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const auto [it, added] = distinct.emplace(numbers[i], texts.size());
        if (added) {
            texts.push_back(numbers[i]);
            const NumberVerdict* cached = nullptr;
            if (cache) {
                const auto found = cache->find(numbers[i]);
                if (found != cache->end())
                    cached = &found->second;
            }
            known.push_back(cached);
        }
        textOf[i] = it->second;
    }
    // Texts that differ only in their separators ("030 1234", "030-1234")
    // are one question to the library.
    constexpr std::size_t kNoQuestion = static_cast<std::size_t>(-1);
    std::unordered_map<std::string, std::size_t> questionOf;
    std::vector<const std::string*> questions;
    std::vector<std::size_t> askedAs(texts.size(), kNoQuestion);
    for (std::size_t t = 0; t < texts.size(); ++t) {
        if (known[t] || texts[t].empty() || texts[t].size() > kLongestNumber)
            continue;
        const auto [it, added] = questionOf.emplace(libraryText(texts[t]), questions.size());
        if (added)
            questions.push_back(&it->first);
        askedAs[t] = it->second;
    }
    // The library's checks are independent of each other and the library
    // is safe to call from several threads: a long list is shared out in
    // small portions, taken by whichever thread is free, so that a thread
    // the system holds back does not hold up the whole list.
    std::vector<NumberVerdict> answers(questions.size());
    constexpr std::size_t kPortion = 256;
    std::atomic<std::size_t> nextPortion{0};
    const auto work = [&] {
        for (;;) {
            const std::size_t from = nextPortion.fetch_add(kPortion);
            if (from >= questions.size())
                return;
            const std::size_t to = std::min(questions.size(), from + kPortion);
            for (std::size_t q = from; q < to; ++q)
                answers[q] = checkLibraryText(*questions[q], regionCode);
        }
    };
    constexpr std::size_t kPerThread = 2000;
    const std::size_t threads = std::clamp<std::size_t>(
        std::min<std::size_t>(std::thread::hardware_concurrency(), 8), 1,
        questions.size() / kPerThread + 1);
    std::vector<std::thread> workers;
    for (std::size_t t = 1; t < threads; ++t)
        workers.emplace_back(work);
    work();
    for (std::thread& w : workers)
        w.join();
    static const NumberVerdict notANumber;
    std::vector<const NumberVerdict*> verdicts(texts.size());
    for (std::size_t t = 0; t < texts.size(); ++t) {
        verdicts[t] = known[t]                     ? known[t]
                      : askedAs[t] == kNoQuestion ? &notANumber
                                                  : &answers[askedAs[t]];
        if (cache && !known[t])
            cache->emplace(std::u16string(texts[t]), *verdicts[t]);
    }
    std::unordered_set<std::u16string_view> seen;
    seen.reserve(numbers.size());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const NumberVerdict& verdict = *verdicts[textOf[i]];
        const std::u16string_view key =
            verdict.international.empty() ? std::u16string_view(numbers[i])
                                          : std::u16string_view(verdict.international);
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
