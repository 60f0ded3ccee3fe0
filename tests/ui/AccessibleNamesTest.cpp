// Every dialog in every shipped language through Qt's accessibility
// interface, as a screen reader sees it: no interactive control without a
// name, and the names speak the dialog's language.
#include <QAccessible>
#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <map>

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "contacts/ContactStore.h"
#include "tests/ui/EveryDialog.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/SendDialog.h"
#include "ui/StatusWindow.h"

namespace miravo::ui::test {
namespace {

bool interactive(QAccessible::Role role) {
    switch (role) {
        case QAccessible::PushButton:
        case QAccessible::CheckBox:
        case QAccessible::RadioButton:
        case QAccessible::ComboBox:
        case QAccessible::EditableText:
        case QAccessible::SpinBox:
        case QAccessible::Slider:
        case QAccessible::List:
        case QAccessible::Tree:
        case QAccessible::Table:
        case QAccessible::PageTab:
        case QAccessible::ButtonMenu:
        case QAccessible::ButtonDropDown:
        case QAccessible::Link:
            return true;
        default:
            return false;
    }
}

bool showsOnlyAnIcon(const QObject* object) {
    const auto* tool = qobject_cast<const QToolButton*>(object);
    const auto* button = qobject_cast<const QAbstractButton*>(object);
    return (tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly) ||
           (button && button->text().isEmpty());
}

bool holdsText(QAccessible::Role role) {
    return role == QAccessible::EditableText || role == QAccessible::ComboBox ||
           role == QAccessible::SpinBox;
}

// The visible interactive controls of `dialog` that have no name, the
// icon-only buttons without a description, and boxes that share a name (a
// screen reader could not tell them apart). `names` gets every name.
std::vector<std::string> unnamed(QWidget* dialog, std::map<std::string, QString>& names) {
    std::vector<std::string> found;
    std::map<QString, std::string> boxNames;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* a,
                                                               int depth) {
        if (!a || depth > 40 || a->state().invisible)
            return;
        if (interactive(a->role())) {
            const QString name = a->text(QAccessible::Name).trimmed();
            const QObject* object = a->object();
            const std::string which =
                (object ? object->objectName().toStdString() : std::string("?")) + " (role " +
                std::to_string(int(a->role())) + ")";
            if (name.isEmpty())
                found.push_back(which + " has no name");
            if (showsOnlyAnIcon(object) && a->text(QAccessible::Description).trimmed().isEmpty())
                found.push_back(which + " shows only an icon and has no description");
            // A list's name on this desktop is its current value: what it is
            // for comes from the label it is labelled by.
            if (a->role() == QAccessible::ComboBox && a->relations(QAccessible::Label).isEmpty())
                found.push_back(which + " is labelled by no label");
            if (holdsText(a->role()) && !name.isEmpty()) {
                const auto [other, fresh] = boxNames.emplace(name, which);
                if (!fresh)
                    found.push_back(which + " has the name of " + other->second);
            }
            if (object)
                names[object->objectName().toStdString()] = name;
        }
        for (int i = 0; i < a->childCount(); ++i)
            walk(a->child(i), depth + 1);
    };
    walk(QAccessible::queryAccessibleInterface(dialog), 0);
    return found;
}

class AccessibleNamesTest : public UiTest {
  protected:
    void inLanguage(const char* code) {
        const std::u16string language = fromUtf8(code);
        ASSERT_EQ(LoadLanguage(state().language, paths().languageFile, language), 1);
        paths().languageCode = language;
    }
};

TEST_F(AccessibleNamesTest, EveryInteractiveControlIsNamedInEveryLanguage) {
    ContactBook book;  // a book on file: the contact book fetches nothing on opening
    book.contacts.push_back(Contact::entry(u"9", u"Kim", u"+4930999", u""));
    ASSERT_TRUE(book.save());
    auto dialogs = EveryDialog(paths(), state());
    dialogs.insert(dialogs.begin(),
                   {"send", [&] { return std::make_unique<SendDialog>(paths()); }});
    std::map<std::string, QString> english;  // the send dialog's names in English
    for (const char* code : {"en", "de", "ru", "fr", "es", "ja"}) {
        inLanguage(code);
        for (const auto& [name, make] : dialogs) {
            SCOPED_TRACE(name + " in " + code);
            std::unique_ptr<QWidget> dialog = make();
            dialog->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
            if (name == "send")  // the cover text box shows only with the cover page on
                find<QAbstractButton>(dialog.get(), 1089)->click();
            std::map<std::string, QString> names;
            for (const std::string& fault : unnamed(dialog.get(), names))
                ADD_FAILURE() << fault;
            if (name != "send")
                continue;
            // The icon-only buttons speak the dialog's language too.
            for (const char* button : {"id1069", "id1071"}) {
                if (std::string(code) == "en")
                    english[button] = names[button];
                else
                    EXPECT_NE(names[button], english[button]) << button;
            }
        }
    }
}

// The status table's values, empty ones included, are named by their row
// or column, each its own, never all by the group's title.
TEST_F(AccessibleNamesTest, TheStatusTablesValuesAreNamedByTheirRows) {
    for (const char* code : {"en", "de"}) {
        SCOPED_TRACE(code);
        inLanguage(code);
        StatusWindow window(paths(), nullptr);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        const QString group = find<QGroupBox>(&window, 1004)->title();
        std::map<QString, std::string> seen;
        for (const QLabel* label : window.findChildren<QLabel*>()) {
            if (!label->isVisible() || !label->text().isEmpty())
                continue;
            const QString name =
                QAccessible::queryAccessibleInterface(const_cast<QLabel*>(label))
                    ->text(QAccessible::Name);
            EXPECT_NE(name, group) << label->objectName().toStdString() << " is named "
                                   << name.toStdString();
            const auto [other, fresh] = seen.emplace(name, label->objectName().toStdString());
            EXPECT_TRUE(fresh) << label->objectName().toStdString() << " and " << other->second
                               << " are both named " << name.toStdString();
        }
        EXPECT_GE(seen.size(), 8u);
    }
}

}  // namespace
}  // namespace miravo::ui::test
