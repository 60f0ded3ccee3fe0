// What the program's message boxes share.
#pragma once

class QMessageBox;

namespace miravo::ui {

// A box with a short text is only as wide as that text, and the window
// frame then cuts its caption: makes it wide enough for the caption.
void ReserveCaptionRoom(QMessageBox& box);

}  // namespace miravo::ui
