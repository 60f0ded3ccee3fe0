#include "app/NumberCheck.h"

#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>

#include <QLocale>
#include <algorithm>
#include <set>
#include <thread>
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
                                std::u16string_view region, NumberVerdictCache* cache) {
    const NumberChecker checker(region);
    NumberListCheck out;
    out.invalid.assign(numbers.size(), 0);
    out.duplicate.assign(numbers.size(), 0);
    // A pasted list repeats itself: each distinct text is asked about once.
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
    // The library's checks are independent of each other and the library
    // is safe to call from several threads: a long list is shared out.
    std::vector<NumberVerdict> verdicts(texts.size());
    const auto checkRange = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            verdicts[i] = known[i] ? *known[i] : checker.check(texts[i]);
    };
    constexpr std::size_t kPerThread = 2000;
    const std::size_t threads = std::clamp<std::size_t>(
        std::min<std::size_t>(std::thread::hardware_concurrency(), 8), 1,
        texts.size() / kPerThread + 1);
    if (threads <= 1) {
        checkRange(0, texts.size());
    } else {
        std::vector<std::thread> workers;
        const std::size_t share = (texts.size() + threads - 1) / threads;
        for (std::size_t t = 1; t < threads; ++t)
            workers.emplace_back(checkRange, std::min(texts.size(), t * share),
                                 std::min(texts.size(), (t + 1) * share));
        checkRange(0, std::min(texts.size(), share));
        for (std::thread& w : workers)
            w.join();
    }
    if (cache) {
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (!known[i])
                cache->emplace(std::u16string(texts[i]), verdicts[i]);
        }
    }
    std::unordered_set<std::u16string_view> seen;
    seen.reserve(numbers.size());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const NumberVerdict& verdict = verdicts[textOf[i]];
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
