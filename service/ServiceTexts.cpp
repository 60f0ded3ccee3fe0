#include "service/ServiceTexts.h"

#include <array>
#include <utility>

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "app/TextIds.h"
#include "service/ResultReader.h"
#include "service/Transport.h"

namespace miravo {

namespace {
constexpr std::size_t kVerdictWidth = 260;
}

std::u16string ErrorText(const LanguageTable& language, std::int32_t code) {
    int id = 95;
    switch (code) {
        case 0:
            return u"OK";
        case 105:
            return u"105";
        case 106:
            return u"106";
        case 109:
            return u"109";
        case 101:
        case 102:
        case 103:
        case 104:
            id = 80 + (code - 101);
            break;
        case 107:
            id = 84;
            break;
        case 108:
            id = 85;
            break;
        case 200:
            id = 93;
            break;
        case 201:
            id = 94;
            break;
        case text::kNoUsableAnswer:
            id = text::kNoUsableAnswer;
            break;
        default:
            if (code >= 110 && code <= 116)
                id = code - 24;
            else if (code >= 401 && code <= 405)
                id = code - 326;
            break;
    }
    return GetText(language, id);
}

std::u16string FaxStatusText(const LanguageTable& language, std::u16string_view status) {
    static constexpr std::array<std::pair<std::u16string_view, int>, 16> kStatuses{{
        {u"OK", 35},
        {u"", 37},
        {u"FA", 36},
        {u"NF", 38},
        {u"IT", 39},
        {u"CF", 40},
        {u"BU", 41},
        {u"CR", 42},
        {u"CE", 43},
        {u"NA", 44},
        {u"IN", 45},
        {u"SB", 46},
        {u"BA", 47},
        {u"LP", 48},
        {u"CS", 49},
        {u"RF", 50},
    }};
    for (const auto& [code, id] : kStatuses) {
        if (status == code)
            return GetText(language, id);
    }
    return GetText(language, text::kUnknownStatus);
}

std::u16string StatusWithCode(std::u16string_view words, std::u16string_view code) {
    std::u16string out(words);
    if (code == words)
        return out;
    out += u" [";
    out += code.empty() ? std::u16string_view(u"--") : code;
    out += u']';
    return out;
}

ApiResult CheckApiResult(const LanguageTable& language, std::u16string_view resultPath,
                         std::u16string_view answerFile) {
    ApiResult result;
    std::u16string text;
    ReadXmlValue(answerFile, resultPath, text, kVerdictWidth, 0);
    if (text == u"0") {
        result.ok = true;
    } else {
        ReadXmlValue(answerFile, u"API_RESULT/ERROR", text, kVerdictWidth, 0);
    }
    result.code = static_cast<std::int32_t>(parseDecimal(text));
    // A failure without a code of its own is never worded "OK".
    if (!result.ok && result.code == 0)
        result.code = miravo::text::kNoUsableAnswer;
    result.message = ErrorText(language, result.code);
    return result;
}

ApiResult CheckApiResult(const LanguageTable& language, std::u16string_view resultPath) {
    return CheckApiResult(language, resultPath, AnswerFilePath());
}

}  // namespace miravo
