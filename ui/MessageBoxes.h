// What the program's message boxes share.
#pragma once

#include <QString>

class QMessageBox;
class QWidget;

namespace miravo {
struct AppPaths;
class LanguageTable;
}

namespace miravo::ui {

// The caption of the send dialog and of the boxes that speak for it.
QString ProductTitle();

// Tells the user in a modal box ("documentRefused") that the document
// `fileName` cannot be converted, so it cannot be sent.
void TellDocumentNotConverted(AppPaths& paths, QWidget* owner, const QString& fileName,
                              int failedPage = 0);

// A box with a short text is only as wide as that text, and the window
// frame then cuts its caption: makes it wide enough for the caption.
void ReserveCaptionRoom(QMessageBox& box);

// Asks whether the work in `window` may be thrown away ("discardWork");
// Enter and Escape keep it. True when the user chose to discard it.
bool ConfirmDiscardWork(QWidget* window, const LanguageTable& language);

}  // namespace miravo::ui
