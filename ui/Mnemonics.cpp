#include "ui/Mnemonics.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSet>
#include <QTextEdit>
#include <QToolButton>
#include <algorithm>
#include <vector>

namespace miravo::ui {

namespace {

// Boxes a label can lead the focus to.
bool takesInput(const QWidget* widget) {
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QComboBox*>(widget) ||
           qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QTextEdit*>(widget);
}

QWidget* widgetAt(QLayout* layout, int index) {
    QLayoutItem* item = index >= 0 && index < layout->count() ? layout->itemAt(index) : nullptr;
    return item ? item->widget() : nullptr;
}

// A label with no partner gets the input box that follows it in its row
// (or, in a grid, right below it, as a column heading): what it labels.
void linkLabels(QLayout* layout) {
    if (!layout)
        return;
    auto link = [](QWidget* labelWidget, QWidget* input) {
        auto* label = qobject_cast<QLabel*>(labelWidget);
        if (label && !label->buddy() && input && takesInput(input) &&
            label->textFormat() != Qt::RichText && !label->text().isEmpty())
            label->setBuddy(input);
    };
    if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
        for (int row = 0; row < grid->rowCount(); ++row) {
            for (int column = 0; column < grid->columnCount(); ++column) {
                QLayoutItem* item = grid->itemAtPosition(row, column);
                if (!item || !item->widget())
                    continue;
                QLayoutItem* right = grid->itemAtPosition(row, column + 1);
                QLayoutItem* below = grid->itemAtPosition(row + 1, column);
                if (right && right->widget() && takesInput(right->widget()))
                    link(item->widget(), right->widget());
                else if (below && below->widget())
                    link(item->widget(), below->widget());
            }
        }
    } else if (auto* form = qobject_cast<QFormLayout*>(layout)) {
        for (int row = 0; row < form->rowCount(); ++row) {
            QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole);
            QLayoutItem* field = form->itemAt(row, QFormLayout::FieldRole);
            if (label && field)
                link(label->widget(), field->widget());
        }
    } else if (qobject_cast<QBoxLayout*>(layout)) {
        for (int i = 0; i + 1 < layout->count(); ++i)
            link(widgetAt(layout, i), widgetAt(layout, i + 1));
    }
    for (int i = 0; i < layout->count(); ++i)
        linkLabels(layout->itemAt(i)->layout());
}

// The controls that carry a mnemonic in their own text, with that text.
struct Labelled {
    QWidget* widget;
    QString text;
};

QString textOf(const QWidget* widget) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    return {};
}

void setTextOf(QWidget* widget, const QString& text) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(text);
}

bool wantsMnemonic(QWidget* widget, QWidget* window) {
    if (widget->window() != window || widget->focusPolicy() == Qt::NoFocus)
        return false;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        // An icon-only tool button has no text to mark.
        if (qobject_cast<QToolButton*>(widget) &&
            static_cast<QToolButton*>(widget)->toolButtonStyle() == Qt::ToolButtonIconOnly)
            return false;
        return !button->text().trimmed().isEmpty();
    }
    return false;
}

// A letter a keyboard types without an input method (Latin, Greek,
// Cyrillic and the like), not a Japanese or Chinese character.
bool typeable(QChar c) {
    return c.isLetterOrNumber() && c.unicode() < 0x2E80;
}

// Candidates for a text's mnemonic, best first: the first letter of each
// word, then every other letter.
std::vector<int> candidates(const QString& plain) {
    std::vector<int> first, rest;
    for (int i = 0; i < plain.size(); ++i) {
        if (!typeable(plain.at(i)))
            continue;
        const bool wordStart = i == 0 || !plain.at(i - 1).isLetterOrNumber();
        (wordStart ? first : rest).push_back(i);
    }
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}

// Marks `text` with a free letter; the same text when no letter is free.
QString marked(const QString& text, QSet<QChar>& taken) {
    const QChar kept = MnemonicOf(text);
    if (!kept.isNull() && !taken.contains(kept)) {
        taken.insert(kept);
        return text;
    }
    QString plain = WithoutMnemonic(text);
    // A bracketed key at the end ("オプション(O)") is given up with its letter.
    static const QRegularExpression bracketedKey(
        QStringLiteral("\\([A-Za-z0-9]\\)(?=(\\.\\.\\.|\u2026|:|\uFF1A)?$)"));
    if (!kept.isNull() && text.contains(QStringLiteral("(&")))
        plain.remove(bracketedKey);
    for (int i : candidates(plain)) {
        const QChar letter = plain.at(i).toLower();
        if (taken.contains(letter))
            continue;
        taken.insert(letter);
        QString out = plain;
        out.replace(QLatin1Char('&'), QStringLiteral("&&"));
        // Positions shift by one for every literal "&" before i.
        const int shift = static_cast<int>(plain.left(i).count(QLatin1Char('&')));
        out.insert(i + shift, QLatin1Char('&'));
        return out;
    }
    // A text in characters no key types gets a free Latin letter in brackets
    // at its end, before a colon or an ellipsis, as Japanese and Chinese
    // desktops write it: "変更(&M)".
    if (std::none_of(plain.begin(), plain.end(), [](QChar c) { return c.isLetterOrNumber(); }))
        return text;
    static const QString keys = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789");
    for (const QChar key : keys) {
        if (taken.contains(key))
            continue;
        taken.insert(key);
        QString out = plain;
        out.replace(QLatin1Char('&'), QStringLiteral("&&"));
        qsizetype end = out.size();
        for (const QString& tail : {QStringLiteral("..."), QStringLiteral("\u2026"),
                                    QStringLiteral(":"), QStringLiteral("\uFF1A")}) {
            if (out.left(end).endsWith(tail))
                end -= tail.size();
        }
        out.insert(end, QStringLiteral("(&") + key.toUpper() + QLatin1Char(')'));
        return out;
    }
    return text;
}

class MnemonicsOnShow : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            // Message boxes come with the platform's own button texts.
            if (widget->isWindow() && !qobject_cast<QMessageBox*>(widget) &&
                (qobject_cast<QDialog*>(widget) || qobject_cast<QMainWindow*>(widget)))
                AssignMnemonics(widget);
        }
        return false;
    }
};

}  // namespace

QChar MnemonicOf(const QString& text) {
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('&'))
            continue;
        if (text.at(i + 1) == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text.at(i + 1).toLower();
    }
    return {};
}

QString WithoutMnemonic(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && i + 1 < text.size()) {
            out += text.at(++i);  // "&x" gives x, "&&" gives "&"
            continue;
        }
        out += text.at(i);
    }
    return out;
}

void AssignMnemonics(QWidget* window) {
    if (!window)
        return;
    linkLabels(window->layout());
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (child->layout())
            linkLabels(child->layout());
    }
    // Controls in the order they were made, which follows the form: the
    // first ones get the first letters of their words.
    std::vector<Labelled> controls;
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (wantsMnemonic(child, window)) {
            controls.push_back({child, textOf(child)});
        } else if (auto* label = qobject_cast<QLabel*>(child)) {
            if (label->buddy() && label->window() == window && label->textFormat() != Qt::RichText)
                controls.push_back({child, label->text()});
        }
    }
    QSet<QChar> taken;
    // Push buttons choose first (they are pressed most), radio buttons last:
    // inside their group the arrow keys reach them anyway.
    auto rank = [](const Labelled& c) {
        if (qobject_cast<const QPushButton*>(c.widget))
            return 0;
        return qobject_cast<const QRadioButton*>(c.widget) ? 2 : 1;
    };
    std::stable_sort(controls.begin(), controls.end(),
                     [&](const Labelled& a, const Labelled& b) { return rank(a) < rank(b); });
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const QString text = marked(controls[i].text, taken);
        if (text != controls[i].text)
            setTextOf(controls[i].widget, text);
    }
}

void AssignMnemonicsOnShow(QApplication& application) {
    application.installEventFilter(new MnemonicsOnShow(&application));
}

}  // namespace miravo::ui
