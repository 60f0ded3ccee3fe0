#include "app/DialogTexts.h"

#include <algorithm>
#include <array>
#include <climits>

#include "app/LanguageTable.h"
#include "app/TextIds.h"
#include "app/ControlIds.h"

namespace miravo {

namespace {

constexpr int T = kTitleControl;

constexpr std::array kSendDialog = {
    DialogTextBinding{2, 1},
    DialogTextBinding{1, 2},
    DialogTextBinding{1022, 4},
    DialogTextBinding{1016, 3},
    DialogTextBinding{1010, 20},
    DialogTextBinding{1017, 21},
    DialogTextBinding{1012, 8},
    DialogTextBinding{1018, 9},
    DialogTextBinding{1015, 22},
    DialogTextBinding{1070, 97},
    DialogTextBinding{1079, 108},
    DialogTextBinding{1068, 118},
    DialogTextBinding{1089, 120},
    DialogTextBinding{1090, 121},
    DialogTextBinding{1094, 107},
    DialogTextBinding{1095, 101},
    DialogTextBinding{controlid::kMethodSentence, text::kMethodSentence, TextUse::MethodSentence},
    DialogTextBinding{controlid::kDocumentSentence, text::kDocumentSentence, TextUse::DocumentSentence},
};

constexpr std::array kCredentials = {
    DialogTextBinding{2, 1},    DialogTextBinding{1, 5},     DialogTextBinding{T, 16},
    DialogTextBinding{1005, 6}, DialogTextBinding{1011, 13}, DialogTextBinding{1014, 14},
};

constexpr std::array kOptions = {
    DialogTextBinding{1029, 5},  DialogTextBinding{T, 18},     DialogTextBinding{1025, 7},
    DialogTextBinding{1005, 6},  DialogTextBinding{1024, 23},  DialogTextBinding{1023, 26},
    DialogTextBinding{1027, 24}, DialogTextBinding{1030, 25},  DialogTextBinding{1019, 10},
    DialogTextBinding{1020, 11}, DialogTextBinding{1096, 435}, DialogTextBinding{1054, 59},
};

constexpr std::array kStatusWindow = {
    DialogTextBinding{2, 5},     DialogTextBinding{T, 15},    DialogTextBinding{1031, 27},
    DialogTextBinding{1032, 28}, DialogTextBinding{1033, 29}, DialogTextBinding{1034, 30},
    DialogTextBinding{1035, 31}, DialogTextBinding{1004, 12}, DialogTextBinding{1041, 33},
    DialogTextBinding{1045, 34}, DialogTextBinding{1046, 12},
};

constexpr std::array kAccount = {
    DialogTextBinding{T, 59},    DialogTextBinding{1029, 1},  DialogTextBinding{1080, 60},
    DialogTextBinding{1064, 60}, DialogTextBinding{1056, 60}, DialogTextBinding{1059, 61},
    DialogTextBinding{1058, 62}, DialogTextBinding{1057, 63}, DialogTextBinding{1060, 96},
    DialogTextBinding{1061, 64}, DialogTextBinding{1062, 65}, DialogTextBinding{1065, 66},
    DialogTextBinding{1066, 67}, DialogTextBinding{1068, 68}, DialogTextBinding{1071, 69},
    DialogTextBinding{1074, 70}, DialogTextBinding{1077, 71}, DialogTextBinding{1081, 72},
};

constexpr std::array kContactBook = {
    DialogTextBinding{T, 102},    DialogTextBinding{1029, 1},   DialogTextBinding{1075, 2},
    DialogTextBinding{1077, 104}, DialogTextBinding{1078, 103}, DialogTextBinding{1079, 119},
};

constexpr std::array kAddContact = {
    DialogTextBinding{T, 98},     DialogTextBinding{1029, 1},   DialogTextBinding{1071, 99},
    DialogTextBinding{1073, 100}, DialogTextBinding{1074, 101},
};

constexpr std::array kMassFaxList = {
    DialogTextBinding{T, 108},    DialogTextBinding{1029, 1},   DialogTextBinding{1, 5},
    DialogTextBinding{1073, 100}, DialogTextBinding{1077, 99},  DialogTextBinding{1081, 109},
    DialogTextBinding{1083, 110}, DialogTextBinding{1082, 111},
};

constexpr std::array kCsvImport = {
    DialogTextBinding{T, 112},    DialogTextBinding{1029, 1},   DialogTextBinding{1, 5},
    DialogTextBinding{1087, 113}, DialogTextBinding{1085, 114}, DialogTextBinding{1086, 115},
};

constexpr std::size_t kSentenceField = 771;  // the sentences' text fields
constexpr std::size_t kMethodNameField = 260;

int clampToInt(long long v) {
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

// Truncates a non-negative float to int, bounded well inside int.
int truncateSize(float v) {
    if (!(v > 0.0f))
        return 0;  // also NaN
    if (v >= static_cast<float>(INT_MAX / 2))
        return INT_MAX / 2;
    return static_cast<int>(v);
}

}  // namespace

std::span<const DialogTextBinding> DialogTextBindings(int kind) {
    switch (kind) {
        case kSendDialogTexts:
            return kSendDialog;
        case kCredentialsTexts:
            return kCredentials;
        case kOptionsTexts:
            return kOptions;
        case kStatusWindowTexts:
            return kStatusWindow;
        case kAccountTexts:
            return kAccount;
        case kContactBookTexts:
            return kContactBook;
        case kAddContactTexts:
            return kAddContact;
        case kMassFaxListTexts:
            return kMassFaxList;
        case kCsvImportTexts:
            return kCsvImport;
        default:
            return {};
    }
}

std::u16string MethodSentence(const LanguageTable& table, bool dithering) {
    return MethodSentence(table,
                          dithering ? ConversionMethod::Dithering : ConversionMethod::Threshold);
}

std::u16string MethodSentence(const LanguageTable& table, ConversionMethod method) {
    auto name = [&](int id) { return fitField(GetText(table, id), kMethodNameField); };
    const int inUseName = method == ConversionMethod::Automatic   ? text::kAutomaticName
                          : method == ConversionMethod::Dithering ? text::kDitheringName
                                                                  : text::kThresholdName;
    // The other look to try: the threshold's sharp black and white, or,
    // from there, dithering.
    const std::u16string inUse = name(inUseName);
    const std::u16string other =
        name(method == ConversionMethod::Threshold ? text::kDitheringName : text::kThresholdName);
    return fitField(GetText(table, text::kMethodSentence, inUse, 32, other, 10), kSentenceField);
}

std::u16string DocumentName(std::u16string_view jobFilePath) {
    const std::size_t slash = jobFilePath.rfind(u'/');
    if (slash == std::u16string_view::npos)
        return std::u16string(jobFilePath);
    std::u16string_view name = jobFilePath.substr(slash + 1);
    const std::size_t marker = name.find(u"__ps__");
    if (marker != std::u16string_view::npos)
        name = name.substr(0, marker);
    return std::u16string(name);
}

std::u16string DocumentSentence(const LanguageTable& table, const std::u16string& jobFilePath) {
    // A job printed without a title says so without empty quotes.
    const std::u16string name = DocumentName(jobFilePath);
    if (name.empty())
        return fitField(GetText(table, text::kUntitledDocumentSentence), kSentenceField);
    return fitField(GetText(table, text::kDocumentSentence, name), kSentenceField);
}

std::vector<ResolvedText> ResolveDialogTexts(const LanguageTable& table, int kind, bool dithering,
                                             const std::u16string& jobFilePath) {
    return ResolveDialogTexts(table, kind,
                              dithering ? ConversionMethod::Dithering : ConversionMethod::Threshold,
                              jobFilePath);
}

std::vector<ResolvedText> ResolveDialogTexts(const LanguageTable& table, int kind,
                                             ConversionMethod method,
                                             const std::u16string& jobFilePath) {
    std::vector<ResolvedText> texts;
    for (const DialogTextBinding& b : DialogTextBindings(kind)) {
        std::u16string text;
        switch (b.use) {
            case TextUse::Plain:
                text = GetText(table, b.text);
                break;
            case TextUse::MethodSentence:
                text = MethodSentence(table, method);
                break;
            case TextUse::DocumentSentence:
                text = DocumentSentence(table, jobFilePath);
                break;
        }
        if (!text.empty())
            texts.push_back({b.control, std::move(text)});
    }
    return texts;
}

std::u16string LogoFileFor(const std::u16string& logoPath, const std::u16string& languageCode) {
    if (languageCode.empty() || languageCode == u"." || languageCode == u".." ||
        languageCode.find_first_of(std::u16string_view(u"/\0", 2)) != std::u16string::npos) {
        return {};
    }
    const std::size_t slash = logoPath.rfind(u'/');
    const std::u16string folder =
        slash == std::u16string::npos ? std::u16string() : logoPath.substr(0, slash + 1);
    return folder + languageCode + u"_logo.gif";
}

LogoRect HeaderLogoRect(int itemLeft, int itemTop, int itemRight, int itemBottom, int imageWidth,
                        int imageHeight) {
    const long long left = static_cast<long long>(itemLeft) + 1;
    const long long top = static_cast<long long>(itemTop) + 1;
    LogoRect r{clampToInt(left), clampToInt(top), 0, 0};

    // The box inside the strip's frame, in 32-bit floats as the drawing
    // code has always computed it.
    const float w = static_cast<float>((static_cast<long long>(itemRight) - 3) - left);
    const float h = static_cast<float>((static_cast<long long>(itemBottom) - 3) - top);
    const float iw = static_cast<float>(imageWidth);
    const float ih = static_cast<float>(imageHeight);
    if (!(w > 0.0f && h > 0.0f && iw > 0.0f && ih > 0.0f))
        return r;

    const float s = iw / w;
    float dh = ih / s;
    float dw = w;
    if (!(dh < h)) {  // too tall for the strip: fill its height instead
        dh = h;
        dw = iw / (ih / h);
    }
    r.width = truncateSize(dw);
    r.height = truncateSize(dh) + 2;
    if (r.width == 0)
        r.height = 0;
    return r;
}

}  // namespace miravo
