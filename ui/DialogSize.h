// Sizing a dialog to what its layout asks for. Qt's adjustSize() stops at
// two thirds of the screen height, which squeezes rows and clips wrapped
// labels on laptop screens; these measure the layout itself instead.
#pragma once

#include <QSize>

class QWidget;

namespace miravo::ui {

// The size the layout of `window` asks for at its preferred width, wrapped
// texts included; the window's minimum size at least.
QSize ContentSize(QWidget* window);

// Resizes `window` to ContentSize(), kept within its screen's free area.
void FitToContents(QWidget* window);

}  // namespace miravo::ui
