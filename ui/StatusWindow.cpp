// Placeholder until the dialog is built.
#include "ui/Dialogs.h"

namespace miravo::ui {

int RunStatusWindow(AppPaths&, QWidget*) { return 2; }

}  // namespace miravo::ui
