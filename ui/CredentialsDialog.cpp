// Placeholder until the dialog is built.
#include "ui/Dialogs.h"

namespace miravo::ui {

bool RunCredentialsDialog(AppState&, QWidget*) { return false; }

}  // namespace miravo::ui
