// Placeholder until the dialog is built.
#include "ui/Dialogs.h"

namespace miravo::ui {

int RunContactBookDialog(AppPaths&, QWidget*) { return 1029; }

}  // namespace miravo::ui
