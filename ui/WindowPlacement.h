// Where a window was and how large it was, kept in the settings file
// between runs as "x,y,width,height" of its frame on the desktop.
#pragma once

#include <string>

class QWidget;

namespace miravo::ui {

// The window's place now; `withSize` false leaves width and height 0 (for
// a window that measures its own size).
std::u16string PlacementOf(const QWidget* window, bool withSize);

// Puts the window back at a kept place, when the place is still on one of
// the screens (a screen taken away does not take the window with it).
// Malformed text changes nothing.
void ApplyPlacement(QWidget* window, const std::u16string& placement);

}  // namespace miravo::ui
