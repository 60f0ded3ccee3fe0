// Loading the settings ends with the region national numbers are read in.
// It lives apart from the settings store so that a program reading the
// settings without checking numbers links neither the phone-number library
// nor the locale.
#include "app/NumberCheck.h"
#include "app/SettingsStore.h"

namespace miravo {

void LoadSettings(AppPaths& paths, AppState& state, const SettingsLocation& location) {
    LoadStoredSettings(paths, state, location);
    std::u16string& region = state.settings.defaultRegion;
    region = NormalizedRegion(region);
    if (region.empty())
        region = RegionFromLocale();
}

}  // namespace miravo
