// The send dialog's cover-page text box. It asks for a few lines of room
// rather than the generic text box's 192 pixels, so that the send dialog
// with the cover page on still fits a laptop screen; it grows with the
// dialog when the user makes that taller.
#pragma once

#include <QPlainTextEdit>

namespace miravo::ui {

class CoverTextBox : public QPlainTextEdit {
    Q_OBJECT
  public:
    using QPlainTextEdit::QPlainTextEdit;

    static constexpr int kPreferredLines = 6;

    QSize sizeHint() const override {
        const QSize generic = QPlainTextEdit::sizeHint();
        const int frame = 2 * frameWidth() + contentsMargins().top() + contentsMargins().bottom();
        const int lines = fontMetrics().lineSpacing() * kPreferredLines +
                          2 * static_cast<int>(document()->documentMargin());
        return {generic.width(), lines + frame};
    }
};

}  // namespace miravo::ui
