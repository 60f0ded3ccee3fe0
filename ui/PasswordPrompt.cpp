#include "ui/PasswordPrompt.h"

#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "printmon/PasswordHandOver.h"
#include "ui/DialogControls.h"
#include "ui/MessageBoxes.h"
#include "ui/TextIds.h"

namespace miravo::ui {

bool AskDocumentPassword(AppPaths& paths, QWidget* owner, const QString& documentName, bool again,
                         std::string& password) {
    const LanguageTable& language = paths.state->language;
    QInputDialog prompt(owner);
    prompt.setObjectName(QStringLiteral("documentPassword"));
    prompt.setWindowTitle(qstr(GetText(language, text::kPasswordTitle)));
    prompt.setLabelText(qstr(GetText(
        language, again ? text::kPasswordAskAgain : text::kPasswordAsk, u16str(documentName))));
    prompt.setTextEchoMode(QLineEdit::Password);
    prompt.setOkButtonText(qstr(GetText(language, text::kOk)));
    prompt.setCancelButtonText(qstr(GetText(language, text::kCancel)));
    prompt.setInputMode(QInputDialog::TextInput);
    // Long names wrap rather than widen the prompt past the screen.
    for (QLabel* label : prompt.findChildren<QLabel*>()) {
        label->setWordWrap(true);
        label->setMinimumWidth(label->fontMetrics().averageCharWidth() * 60);
    }
    if (prompt.exec() != QDialog::Accepted) {
        prompt.setTextValue(QString());
        return false;
    }
    QString typed = prompt.textValue();
    prompt.setTextValue(QString());
    QByteArray bytes = typed.toUtf8();
    typed.fill(QChar(u' '));
    print::WipeSecret(password);
    password.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    bytes.fill('\0');
    return true;
}

}  // namespace miravo::ui
