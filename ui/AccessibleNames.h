// Names a screen reader speaks for the controls of a dialog, in the
// dialog's language: a box or list is named by the label beside it (or its
// placeholder, or the window's title), an icon-only button by its language
// text, with a description of what it does. Applied wherever the language
// texts are applied, so a language change renames everything.
#pragma once

class QWidget;

namespace miravo {
class LanguageTable;
}

namespace miravo::ui {

void ApplyAccessibleNames(QWidget* dialog, const LanguageTable& language);

}  // namespace miravo::ui
