#pragma once

#include <QString>

#include <string>

namespace miravo::ui {

// Qt's own texts (the file dialog, the standard buttons of message boxes,
// the context menu of text fields) in the program's language: loads Qt's
// translation for the language code and installs it in place of the one
// before. English, or a language Qt has no translation for, leaves Qt's
// own English. Returns whether a translation is installed now.
bool ApplyQtTranslations(const std::u16string& languageCode);

// Where Qt's translations are read from: MIRAVO_QT_TRANSLATIONS when set
// (the tests), else the folder Qt was installed with.
QString QtTranslationsFolder();

}  // namespace miravo::ui
