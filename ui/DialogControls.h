// Finding a dialog's controls by their numeric ids (each control's
// objectName is "id<N>", as the .ui files give them) and moving text
// between the program's UTF-16 strings and Qt's.
#pragma once

#include <QString>
#include <initializer_list>
#include <QWidget>
#include <string>
#include <string_view>

namespace miravo::ui {

inline QString controlName(int id) {
    return QStringLiteral("id%1").arg(id);
}

// The control with id `id` below `dialog`, as T; null when there is none.
template <class T = QWidget>
T* control(const QWidget* dialog, int id) {
    return dialog ? dialog->findChild<T*>(controlName(id)) : nullptr;
}

inline QString qstr(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// The widget's text as program text, at most `maxLength` characters (the
// width of the field it goes into less its terminator).
inline std::u16string u16str(const QString& text, qsizetype maxLength = -1) {
    const QString cut = (maxLength >= 0 && text.size() > maxLength) ? text.left(maxLength) : text;
    return cut.toStdU16String();
}

// Sets the visible text of a label, button, group box or text box.
void setControlText(QWidget* widget, const QString& text);
// The visible text of such a control (empty for other kinds).
QString controlText(const QWidget* widget);

// Makes Tab go through `chain` in its order (controls a window adds to a
// form of its own go wherever they stand on screen, not last); null
// entries are skipped.
void SetTabOrder(std::initializer_list<QWidget*> chain);

}  // namespace miravo::ui
