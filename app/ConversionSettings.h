// The settings the conversion works by (its method, CONVERSION_WORKERS),
// readable on their own: the print path renders before any program of the
// user's is running and must not load the rest of the settings store.
#pragma once

#include "app/AppSettings.h"

namespace miravo {

class ProfileFile;

// Reads the method keys (AUTOMATIC_METHOD, DITHERING, THRESHOLD; settings
// that never chose one get the automatic method) and CONVERSION_WORKERS.
void ReadConversionKeys(const ProfileFile& file, AppSettings& settings);

// Those keys from the user's settings file, which is read and never
// changed; the rest of the result holds defaults.
AppSettings ReadConversionSettings();

}  // namespace miravo
