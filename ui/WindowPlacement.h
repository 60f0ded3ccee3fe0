// Where a window was and how large it was, kept in the settings file
// between runs as "x,y,width,height" of its frame on the desktop.
#pragma once

#include <QSize>
#include <string>

class QWidget;

namespace miravo::ui {

// The window's place now with `size` (the window's own size when left
// empty; QSize(0, 0) for a window that measures its own size).
std::u16string PlacementOf(const QWidget* window, QSize size = QSize());

// Puts the window back at a kept place and size. The size is at least the
// window's minimum and at most the free area of the screen it goes to; the
// whole frame is moved onto that screen (a screen taken away or made
// smaller does not take the window with it). A place off every screen
// keeps only the size; malformed text changes nothing.
void ApplyPlacement(QWidget* window, const std::u16string& placement);

}  // namespace miravo::ui
