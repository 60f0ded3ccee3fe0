// What the program's message boxes share.
#pragma once

#include <QString>
#include <string>

#include "app/DocumentProblem.h"

class QMessageBox;
class QWidget;

namespace miravo {
struct AppPaths;
class LanguageTable;
}

namespace miravo::ui {

// The caption of the send dialog and of the boxes that speak for it.
QString ProductTitle();

// Tells the user in a modal box ("documentRefused") why the document
// `fileName` cannot be converted, so it cannot be sent, and what to do;
// an image page that cannot be read (`failedPage`, from 1) is named; what
// a library said about it (`details`) comes below as one line. Nothing is
// shown for a conversion the user stopped.
void TellDocumentNotConverted(AppPaths& paths, QWidget* owner, const QString& fileName,
                              DocumentProblem problem = DocumentProblem::UnknownKind,
                              const std::string& details = {}, int failedPage = 0);

// A box with a short text is only as wide as that text, and the window
// frame then cuts its caption: makes it wide enough for the caption.
void ReserveCaptionRoom(QMessageBox& box);

// Asks whether the work in `window` may be thrown away ("discardWork");
// Enter and Escape keep it. True when the user chose to discard it.
bool ConfirmDiscardWork(QWidget* window, const LanguageTable& language);

}  // namespace miravo::ui
