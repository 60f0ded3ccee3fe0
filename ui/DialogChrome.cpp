#include "ui/DialogChrome.h"

#include <QWidget>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/Startup.h"
#include "ui/AccessibleNames.h"
#include "ui/DialogControls.h"
#include "ui/DialogSize.h"
#include "ui/HeaderLogo.h"
#include "ui/Mnemonics.h"
#include "ui/ControlIds.h"

namespace miravo::ui {


void ApplyDialogTexts(QWidget* dialog, AppPaths& paths, int kind) {
    if (!dialog || !paths.state)
        return;
    AppState& state = *paths.state;
    const auto texts = ResolveDialogTexts(state.language, kind, MethodOf(state.settings),
                                          state.job.jobFilePath);
    for (const ResolvedText& text : texts) {
        if (text.control == kTitleControl)
            dialog->setWindowTitle(qstr(text.text));
        else
            setControlText(control(dialog, text.control), qstr(text.text));
    }
    if (kind == kSendDialogTexts)
        LoadLogo(paths, state);
    ApplyAccessibleNames(dialog, state.language);
    if (auto* strip = control<HeaderLogo>(dialog, controlid::kHeaderStrip))
        strip->setState(&state);
    // New texts may need more room (or less): measure the dialog again.
    FitToContents(dialog);
    AssignMnemonics(dialog);
    dialog->update();
}

}  // namespace miravo::ui
