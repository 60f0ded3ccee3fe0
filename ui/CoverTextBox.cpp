#include "ui/CoverTextBox.h"

#include <QKeyEvent>

namespace miravo::ui {

void CoverTextBox::keyPressEvent(QKeyEvent* event) {
    // Typing stops at the limit; keys that insert nothing still work.
    const QString typed = event->text();
    const bool inserts = !typed.isEmpty() && (typed.at(0).isPrint() || typed == "\r") &&
                         !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (maxLength_ > 0 && inserts) {
        const int replaced = static_cast<int>(textCursor().selectedText().size());
        if (length() - replaced + static_cast<int>(typed.size()) > maxLength_) {
            event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

}  // namespace miravo::ui
