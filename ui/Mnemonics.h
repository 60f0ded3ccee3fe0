// Keyboard mnemonics (Alt+letter) for every labelled control of a window,
// in whatever language its texts are: buttons, check boxes and radio
// buttons get one in their own text, and a box labelled by a text beside
// or above it gets one through that label. Within one window no two
// controls share a letter; a letter the text already marks is kept when
// it is free. The language files stay free of markers, so the same texts
// serve the headless tools and the mnemonics follow any new translation.
#pragma once

#include <QChar>
#include <QString>

class QApplication;
class QWidget;

namespace miravo::ui {

// Gives the controls of `window` (its own, not those of other windows
// under it) their mnemonics, after their texts were set or changed.
void AssignMnemonics(QWidget* window);

// Assigns the mnemonics of every dialog and window when it is shown.
void AssignMnemonicsOnShow(QApplication& application);

// The letter `text` marks with "&" (none for "&&" or no marker), lower case.
QChar MnemonicOf(const QString& text);

// `text` without its mnemonic marker ("&&" stays a literal "&").
QString WithoutMnemonic(const QString& text);

}  // namespace miravo::ui
