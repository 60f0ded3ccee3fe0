// Asks for the password of a protected PDF, whichever way the document
// came (chosen, dropped, printed). The typed password is not shown, not
// kept, and goes nowhere but to the renderer.
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

// A modal prompt ("documentPassword") for `documentName`; `again` says
// that the password given last did not open it. True with the password in
// `password` (UTF-8), false when the user gave up.
bool AskDocumentPassword(AppPaths& paths, QWidget* owner, const QString& documentName, bool again,
                         std::string& password);

}  // namespace miravo::ui
