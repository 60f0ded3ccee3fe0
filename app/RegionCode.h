// A region as the settings and the number check name it: two letters.
#pragma once

#include <string>
#include <string_view>

namespace miravo {

// The two letters of `text` as capitals ("fr" is "FR"); empty for anything
// else. Whether the phone-number library knows the region is not asked.
inline std::u16string RegionCode(std::u16string_view text) {
    if (text.size() != 2)
        return {};
    std::u16string code;
    for (char16_t c : text) {
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
        if (c < u'A' || c > u'Z')
            return {};
        code.push_back(c);
    }
    return code;
}

}  // namespace miravo
