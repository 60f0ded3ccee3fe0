// The icons of the program: the application's own icon (window and tray)
// and the action icons of the contact dialogs, taken from the desktop's
// icon theme when it has them and drawn by the program otherwise.
#pragma once

#include <QIcon>

namespace miravo::ui {

QIcon ApplicationIcon();
QIcon EditIcon();
QIcon DeleteIcon();
QIcon ContactBookIcon();
QIcon MassFaxIcon();

}  // namespace miravo::ui
