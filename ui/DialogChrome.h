// What every dialog does when it opens: its language texts put on its
// controls by id, and the header strip tied to the record's logo.
#pragma once

class QWidget;

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

// Sets the texts of dialog kind `kind` (the send dialog 1, credentials 2,
// Options 3, status window 5, account 6, contact book 7, add contact 8,
// mass-fax list 9, CSV import 10) on `dialog`'s controls and caption.
// Texts that come out empty leave the template's caption in place. Kind 1
// also loads the logo of the current language again. Every kind ties the
// header strip, when the dialog has one, to the record's logo, sizes the
// dialog to its new texts and repaints.
void ApplyDialogTexts(QWidget* dialog, AppPaths& paths, int kind);

}  // namespace miravo::ui
