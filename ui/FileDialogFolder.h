// Where a file dialog opens: in the folder last used for the same purpose
// when it still exists, else in the user's documents folder; never in the
// program's own folder (the current folder of a run).
#pragma once

#include <QString>
#include <string>

namespace miravo::ui {

// The folder to open a file dialog in, given the one remembered for its purpose.
QString FileDialogFolder(const std::u16string& remembered);

// Remembers the folder of `chosenFile` in `remembered` (nothing for an empty choice).
void RememberFileDialogFolder(std::u16string& remembered, const QString& chosenFile);

}  // namespace miravo::ui
