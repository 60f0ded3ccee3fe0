// Placeholder until the dialog is built.
#include "ui/Dialogs.h"

namespace miravo::ui {

void PreviewDocument(QWidget*, const std::u16string&) {}

}  // namespace miravo::ui
