#include "ui/QtShellDialogs.h"

#include "ui/ConvertingDialog.h"
#include "ui/Dialogs.h"
#include "journal/BackgroundRefresh.h"
#include "ui/SentFaxesWindow.h"

namespace miravo::ui {

void QtShellDialogs::runConversion(AppPaths& paths) {
    RunConversionDialog(paths, nullptr);
}

void QtShellDialogs::runOptions(AppPaths& paths) {
    RunOptionsDialog(paths, nullptr);
}

void QtShellDialogs::runSendDialog(AppPaths& paths) {
    // Faxes of the last days that are not final yet are asked about once,
    // in the background, while the user works in the send dialog.
    TellIfJournalMovedAside(nullptr);
    BackgroundRefresh refresh(*paths.state);
    RunSendDialog(paths, nullptr);
}

}  // namespace miravo::ui
