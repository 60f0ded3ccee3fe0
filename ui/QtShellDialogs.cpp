#include "ui/QtShellDialogs.h"

#include "ui/ConvertingDialog.h"
#include "ui/Dialogs.h"

namespace miravo::ui {

void QtShellDialogs::runConversion(AppPaths& paths) {
    RunConversionDialog(paths, nullptr);
}

void QtShellDialogs::runOptions(AppPaths& paths) {
    RunOptionsDialog(paths, nullptr);
}

void QtShellDialogs::runSendDialog(AppPaths& paths) {
    RunSendDialog(paths, nullptr);
}

}  // namespace miravo::ui
