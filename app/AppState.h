// The one process-wide record, and the paths that lead to it.
#pragma once

#include <memory>
#include <string>

#include "app/AppSettings.h"
#include "app/FaxJob.h"
#include "app/LanguageTable.h"
#include "app/Contact.h"

class QImage;

namespace miravo {

class PasswordStore;

struct AppState {
    AppSettings settings;
    FaxJob job;
    ContactBook contactBook;
    LanguageTable language;
    std::shared_ptr<const QImage> logo;  // header logo of the current language; none when missing
};

// Handed to every top-level dialog; the folders end with '/'.
struct AppPaths {
    std::u16string moduleFolder;  // holds lang.ini and images/
    std::u16string settingsPath;  // app_config.ini
    std::u16string languageFile;
    std::u16string languageCode = u"en";
    AppState* state = nullptr;
    // The desktop's secret store the saved password may be kept in; none
    // where the program runs without one.
    PasswordStore* passwords = nullptr;
};

}  // namespace miravo
