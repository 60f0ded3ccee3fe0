#include "app/ConversionSettings.h"

#include <algorithm>

#include "app/Paths.h"
#include "app/ProfileIni.h"
#include "app/SettingsStore.h"

namespace miravo {

namespace {
constexpr char16_t kOptions[] = u"OPTIONS";
}  // namespace

void ReadConversionKeys(const ProfileFile& file, AppSettings& s) {
    // A stored choice keeps its meaning.
    const bool chose = file.value(kOptions, u"AUTOMATIC_METHOD").has_value() ||
                       file.value(kOptions, u"THRESHOLD").has_value() ||
                       file.value(kOptions, u"DITHERING").has_value();
    if (!chose || file.getInt(kOptions, u"AUTOMATIC_METHOD", 0) != 0)
        SetMethod(s, ConversionMethod::Automatic);
    else
        SetMethod(s, file.getInt(kOptions, u"THRESHOLD", 1) != 0 ? ConversionMethod::Threshold
                                                                 : ConversionMethod::Dithering);
    s.conversionWorkers = std::min(file.getInt(kOptions, u"CONVERSION_WORKERS", 0), 1024u);
}

AppSettings ReadConversionSettings() {
    AppSettings settings;
    const std::u16string path = UserDataFilePath(kDefaultSettingsFileName);
    ReadConversionKeys(path.empty() ? ProfileFile::fromText(u"") : ProfileFile::load(ToFsPath(path)),
                       settings);
    return settings;
}

}  // namespace miravo
