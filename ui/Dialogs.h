// How the dialogs open one another: each dialog runs modally over its
// owner with the application context and returns its result. One function
// per dialog, defined beside its class.
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace miravo {
struct AppPaths;
struct AppState;
class LanguageTable;
}  // namespace miravo

namespace miravo::ui {

// 104, the send dialog: 1 after a send, 2 when closed without sending.
int RunSendDialog(AppPaths& paths, QWidget* owner = nullptr);

// 106, Options: 1029 after Close (values taken over), 2 after Cancel.
int RunOptionsDialog(AppPaths& paths, QWidget* owner = nullptr);

// 109, Account management: 1029 after Close, 2 after Cancel; 0 when the
// preferences could not be read (the dialog then never shows).
int RunAccountDialog(AppPaths& paths, QWidget* owner);

// 103, the sending status window over the send dialog `sendDialog`, which
// it hides and restores with itself: 2 when closed by the user, 1 when
// closed by the send worker.
// `attempt`, when given, learns whether the fax went out and, if not, why.
struct SendAttempt {
    bool faxSent = false;
    QString failure;
    bool quit = false;  // the user chose Quit in the tray icon's menu
};
int RunStatusWindow(AppPaths& paths, QWidget* sendDialog, SendAttempt* attempt = nullptr);

// 107, the credentials prompt: true after OK, false after Close.
bool RunCredentialsDialog(AppState& state, QWidget* owner);

// 112, the contact book: kContactBookSent after Send (chosenContacts
// filled), else the id of the button that closed it.
inline constexpr int kContactBookSent = 1075;
int RunContactBookDialog(AppPaths& paths, QWidget* owner);

// 113, the mass-fax list: kMassFaxAccepted after OK (recipients
// rewritten), else 1029 or 2.
inline constexpr int kMassFaxAccepted = 1;
int RunMassFaxDialog(AppPaths& paths, QWidget* owner);

// Shows a fax document: the desktop's viewer for TIFF files when one is
// registered, the program's own page viewer (captioned `title`, the
// document's name; put where `place` says and kept there) otherwise.
// Returns at once.
void PreviewDocument(QWidget* owner, const LanguageTable& language,
                     const std::u16string& documentPath, const QString& title,
                     std::u16string* place = nullptr);

}  // namespace miravo::ui
