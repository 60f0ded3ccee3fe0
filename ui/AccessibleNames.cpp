#include "ui/AccessibleNames.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QToolButton>

#include "app/LanguageTable.h"
#include "app/TextIds.h"
#include "ui/DialogControls.h"

namespace miravo::ui {

namespace {

// Set on the names given here: those are renamed at the next language
// change; a name a form sets itself is left alone.
constexpr char kGivenName[] = "miravoGivenName";

struct IconButtonText {
    const char* control;
    int name;
    int description;
};

// The buttons that show only an icon.
constexpr IconButtonText kIconButtons[] = {
    {"id1069", text::kContactBookName, text::kContactBookButtonHint},
    {"id1071", text::kMassFax, text::kMassFaxButtonHint},
};

struct BoxName {
    const char* control;
    int name;
};

// Boxes whose visible label is not a label: the cover text box stands under
// its "Cover page" check box.
constexpr BoxName kNamedBoxes[] = {
    {"id1090", text::kCoverTextName},
};

QString namedBox(const QWidget* widget, const LanguageTable& language) {
    for (const BoxName& b : kNamedBoxes)
        if (widget->objectName() == QLatin1String(b.control))
            return qstr(GetText(language, b.name));
    return {};
}

QString labelText(const QLabel* label) {
    QString text = label->text();
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    text = text.trimmed();
    while (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text.trimmed();
}

// The layout that holds `widget` directly, searched from `layout` down.
QLayout* holderOf(QLayout* layout, QWidget* widget, int& index) {
    if (!layout)
        return nullptr;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == widget) {
            index = i;
            return layout;
        }
        if (QLayout* found = holderOf(item->layout(), widget, index))
            return found;
    }
    return nullptr;
}

// What the label beside `widget` says: its buddy label, the label to its
// left in the same grid or form row, the heading above it in a grid column
// (with the row's number, as in "Number 2"), or the label just before it.
QString labelledName(QWidget* dialog, QWidget* widget) {
    for (const QLabel* label : dialog->findChildren<QLabel*>())
        if (label->buddy() == widget)
            return labelText(label);
    QWidget* parent = widget->parentWidget();
    int index = -1;
    QLayout* layout = holderOf(parent ? parent->layout() : nullptr, widget, index);
    if (!layout)
        return {};
    if (auto* form = qobject_cast<QFormLayout*>(layout)) {
        const auto* label = qobject_cast<const QLabel*>(form->labelForField(widget));
        return label ? labelText(label) : QString();
    }
    if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(index, &row, &column, &rows, &columns);
        for (int c = column - 1; c >= 0; --c) {
            QLayoutItem* item = grid->itemAtPosition(row, c);
            if (item && item->widget()) {
                const auto* label = qobject_cast<const QLabel*>(item->widget());
                if (label)
                    return labelText(label);
                break;
            }
        }
        for (int r = row - 1; r >= 0; --r) {
            QLayoutItem* item = grid->itemAtPosition(r, column);
            if (!item || !item->widget())
                continue;
            const auto* heading = qobject_cast<const QLabel*>(item->widget());
            if (!heading)
                continue;  // another row of boxes under the same heading
            const QString text = labelText(heading);
            return row - r > 1 || grid->itemAtPosition(row + 1, column)
                       ? text + QLatin1Char(' ') + QString::number(row - r)
                       : text;
        }
        return {};
    }
    for (int i = index - 1; i >= 0; --i) {
        if (QWidget* before = layout->itemAt(i)->widget()) {
            const auto* label = qobject_cast<const QLabel*>(before);
            return label ? labelText(label) : QString();
        }
    }
    return {};
}

void give(QWidget* widget, const QString& name, const QString& description = {}) {
    if (name.isEmpty())
        return;
    widget->setAccessibleName(name);
    if (!description.isEmpty())
        widget->setAccessibleDescription(description);
    widget->setProperty(kGivenName, true);
}

bool insideComboBox(const QWidget* widget) {
    for (const QWidget* w = widget->parentWidget(); w; w = w->parentWidget())
        if (qobject_cast<const QComboBox*>(w))
            return true;
    return false;
}

bool iconOnly(const QToolButton* button) {
    return button->toolButtonStyle() == Qt::ToolButtonIconOnly || button->text().isEmpty();
}

}  // namespace

void ApplyAccessibleNames(QWidget* dialog, const LanguageTable& language) {
    if (!dialog)
        return;
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        if (!widget->accessibleName().isEmpty() && !widget->property(kGivenName).toBool())
            continue;
        if (auto* button = qobject_cast<QToolButton*>(widget)) {
            if (!iconOnly(button))
                continue;
            for (const IconButtonText& t : kIconButtons) {
                if (button->objectName() == QLatin1String(t.control))
                    give(button, qstr(GetText(language, t.name)),
                         qstr(GetText(language, t.description)));
            }
            continue;
        }
        const bool box = qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget) ||
                         qobject_cast<QAbstractSpinBox*>(widget) ||
                         qobject_cast<QPlainTextEdit*>(widget) || qobject_cast<QTextEdit*>(widget);
        const bool list = qobject_cast<QAbstractItemView*>(widget) != nullptr;
        if (!box && !list)
            continue;
        if (insideComboBox(widget))
            continue;  // a combo box's own edit and list are named with the box
        if (const QString name = namedBox(widget, language); !name.isEmpty()) {
            give(widget, name);
        } else if (const QString name = labelledName(dialog, widget); !name.isEmpty()) {
            give(widget, name);
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget);
                   edit && !edit->placeholderText().isEmpty()) {
            give(widget, edit->placeholderText());
        } else if (list) {
            give(widget, dialog->windowTitle());
        }
    }
}

}  // namespace miravo::ui
