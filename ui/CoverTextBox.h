// The send dialog's cover-page text box. It asks for a few lines of room
// rather than the generic text box's 192 pixels, so that the send dialog
// with the cover page on still fits a laptop screen; it grows with the
// dialog when the user makes that taller. It holds at most a set number of
// characters: typing stops there, and a paste or drop that would go beyond
// is refused whole (never cut), which the box announces.
#pragma once

#include <QMimeData>
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

    // 0: no limit.
    void setMaxLength(int characters) { maxLength_ = characters; }
    int maxLength() const { return maxLength_; }
    // Characters the text holds (line breaks count as one).
    int length() const { return document()->characterCount() - 1; }
    int charactersLeft() const { return maxLength_ - length(); }

  signals:
    // A paste or drop of `characters` characters was refused.
    void insertRefused(int characters);

  protected:
    void insertFromMimeData(const QMimeData* source) override {
        if (maxLength_ > 0 && source && source->hasText()) {
            const int incoming = static_cast<int>(source->text().size());
            const int replaced = static_cast<int>(textCursor().selectedText().size());
            if (length() - replaced + incoming > maxLength_) {
                emit insertRefused(incoming);
                return;
            }
        }
        QPlainTextEdit::insertFromMimeData(source);
    }

    void keyPressEvent(QKeyEvent* event) override;

  private:
    int maxLength_ = 0;
};

}  // namespace miravo::ui
