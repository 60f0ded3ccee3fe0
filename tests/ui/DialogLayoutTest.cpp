// Every dialog in every shipped language on a 1366x768 screen: the window
// fits the screen and no label, check box or button gets less room than it
// asks for, so no text is clipped, squeezed or elided; Tab goes through
// the controls in reading order.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QMap>
#include <QScreen>
#include <QToolButton>
#include <QTest>
#include <algorithm>
#include <functional>

#include "app/LanguageTable.h"
#include "contacts/ContactStore.h"
#include "tests/server/ServerHarness.h"
#include "tests/ui/EveryDialog.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Mnemonics.h"
#include "ui/PreviewWindow.h"
#include "ui/SendDialog.h"
#include "ui/WindowPlacement.h"

namespace miravo::ui::test {
namespace {

// What is wrong with the room `widget` got, or nothing.
std::string clipping(const QWidget* widget) {
    const auto* label = qobject_cast<const QLabel*>(widget);
    if (label && label->text().isEmpty() && label->pixmap().isNull())
        return {};
    const QSize hint = widget->sizeHint();
    const QSize got = widget->size();
    bool clipped;
    if (label && label->wordWrap())
        clipped = got.height() < label->heightForWidth(got.width()) ||
                  got.width() < label->minimumSizeHint().width();
    else
        clipped = got.width() < hint.width() || got.height() < hint.height();
    if (!clipped)
        return {};
    return widget->objectName().toStdString() + " \"" + controlText(widget).toStdString() +
           "\" has " + std::to_string(got.width()) + "x" + std::to_string(got.height()) +
           ", wants " + std::to_string(hint.width()) + "x" + std::to_string(hint.height());
}

void expectUnclipped(QWidget* dialog, const std::string& what) {
    SCOPED_TRACE(what);
    QApplication::processEvents();
    const QRect screen = dialog->screen()->availableGeometry();
    EXPECT_LE(dialog->frameGeometry().height(), screen.height());
    EXPECT_LE(dialog->frameGeometry().width(), screen.width());
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        if (!widget->isVisible() || widget->window() != dialog)
            continue;
        if (!qobject_cast<QLabel*>(widget) && !qobject_cast<QAbstractButton*>(widget))
            continue;
        const std::string fault = clipping(widget);
        EXPECT_TRUE(fault.empty()) << fault;
    }
}

// Every labelled control of the window (buttons, check boxes, and the
// labels that lead to a box) carries a mnemonic, and no two share a letter.
// Radio buttons are reached with the arrow keys inside their group: they
// share the letters that are left, and may have none ("ON", "OFF").
void expectMnemonics(QWidget* dialog, const std::string& what) {
    SCOPED_TRACE(what);
    QMap<QChar, QString> taken;
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        if (widget->window() != dialog || widget->focusPolicy() == Qt::NoFocus)
            continue;
        QString text;
        if (const auto* button = qobject_cast<QAbstractButton*>(widget)) {
            const auto* tool = qobject_cast<QToolButton*>(widget);
            if (qobject_cast<const QRadioButton*>(widget) && MnemonicOf(button->text()).isNull())
                continue;
            if (button->text().trimmed().isEmpty() ||
                (tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly))
                continue;
            text = button->text();
        } else if (const auto* label = qobject_cast<QLabel*>(widget); label && label->buddy()) {
            text = label->text();
        } else {
            continue;
        }
        const QChar letter = MnemonicOf(text);
        EXPECT_FALSE(letter.isNull()) << "no mnemonic on \"" << text.toStdString() << "\"";
        if (letter.isNull())
            continue;
        // A key the keyboard types without an input method.
        EXPECT_LT(letter.unicode(), 0x2E80) << "\"" << text.toStdString() << "\"";
        EXPECT_FALSE(taken.contains(letter))
            << "\"" << text.toStdString() << "\" and \"" << taken.value(letter).toStdString()
            << "\" share Alt+" << QString(letter).toStdString();
        taken.insert(letter, text);
    }
}

// Tab walks the shown controls of the window in reading order: each next
// one is further down, or in the same row (their heights overlap) further
// right; after the last it comes round to the first. A tall control beside
// a column of smaller ones shares a row with each of them.
void expectReadingOrder(QWidget* dialog, const std::string& what) {
    SCOPED_TRACE(what);
    constexpr int kRowOverlap = 4;  // pixels two controls must share to stand in one row
    auto sameRow = [](const QRect& a, const QRect& b) {
        return std::min(a.bottom(), b.bottom()) - std::max(a.top(), b.top()) >= kRowOverlap;
    };
    std::vector<std::pair<QWidget*, QRect>> chain;
    for (QWidget* w = dialog->nextInFocusChain(); w != dialog && chain.size() < 1000;
         w = w->nextInFocusChain()) {
        if (w->window() == dialog && w->isVisible() && (w->focusPolicy() & Qt::TabFocus) &&
            !w->focusProxy())
            chain.emplace_back(w, QRect(w->mapTo(dialog, QPoint(0, 0)), w->size()));
    }
    if (chain.empty())
        return;
    // The round starts at the control first in reading order: leftmost in the top row.
    auto first = std::min_element(chain.begin(), chain.end(), [](const auto& a, const auto& b) {
        return a.second.top() < b.second.top();
    });
    for (auto it = chain.begin(); it != chain.end(); ++it) {
        if (sameRow(it->second, first->second) && it->second.left() < first->second.left())
            first = it;
    }
    std::rotate(chain.begin(), first, chain.end());
    for (std::size_t i = 1; i < chain.size(); ++i) {
        const auto& [previous, before] = chain[i - 1];
        const auto& [w, at] = chain[i];
        const bool inOrder =
            sameRow(at, before) ? at.left() >= before.left() : at.top() > before.top();
        EXPECT_TRUE(inOrder) << "Tab goes from " << previous->objectName().toStdString() << " \""
                             << controlText(previous).toStdString() << "\" at (" << before.x()
                             << "," << before.y() << ") back to " << w->objectName().toStdString()
                             << " \"" << controlText(w).toStdString() << "\" at (" << at.x() << ","
                             << at.y() << ")";
    }
}

class DialogLayoutTest : public UiTest {
  protected:
    void inLanguage(const char* code) {
        const std::u16string language = fromUtf8(code);
        ASSERT_EQ(LoadLanguage(state().language, paths().languageFile, language), 1);
        paths().languageCode = language;
        state().settings.logoPath = paths().moduleFolder + u"images/" + language + u"_logo.gif";
    }
    void check(QWidget& dialog, const std::string& what) {
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        expectUnclipped(&dialog, what);
        expectMnemonics(&dialog, what);
        expectReadingOrder(&dialog, what);
    }
};

TEST_F(DialogLayoutTest, ScreenIsTheLaptopOne) {
    EXPECT_EQ(QGuiApplication::primaryScreen()->size(), QSize(1366, 768));
}

TEST_F(DialogLayoutTest, EveryDialogFitsUnclippedInEveryLanguage) {
    ContactBook book;  // a book on file: the contact book fetches nothing on opening
    book.contacts.push_back(Contact::entry(u"9", u"Kim", u"+4930999", u""));
    ASSERT_TRUE(book.save());
    const auto dialogs = EveryDialog(paths(), state());
    for (const char* code : {"en", "de", "ru", "fr", "es", "ja"}) {
        inLanguage(code);
        for (const auto& [name, make] : dialogs) {
            std::unique_ptr<QWidget> dialog = make();
            check(*dialog, name + " in " + code);
        }
    }
}

TEST_F(DialogLayoutTest, SendDialogFitsWithAndWithoutTheCoverPage) {
    for (const char* code : {"en", "de", "ru", "fr", "es", "ja"}) {
        inLanguage(code);
        SendDialog dialog(paths());
        check(dialog, std::string("cover off in ") + code);
        // The column headings lead to the first row's boxes.
        int headed = 0;
        for (const QLabel* label : dialog.findChildren<QLabel*>())
            headed += label->buddy() == find<QWidget>(&dialog, 1001) ||
                      label->buddy() == find<QWidget>(&dialog, 1004);
        EXPECT_EQ(headed, 2) << code;
        click(&dialog, 1089);
        expectUnclipped(&dialog, std::string("cover on in ") + code);
        click(&dialog, 1089);
        expectUnclipped(&dialog, std::string("cover off again in ") + code);
    }
}

// A language chosen in Options measures the send dialog again.
TEST_F(DialogLayoutTest, SendDialogIsMeasuredAgainAfterALanguageChange) {
    inLanguage("en");
    SendDialog dialog(paths());
    check(dialog, "English");
    const auto chosen = whenModal("id106", [](QDialog* options) {
        find<QComboBox>(options, 1028)->setCurrentIndex(2);  // en, de, ru
        click(options, 1029);
    });
    click(&dialog, 1016);
    ASSERT_TRUE(*chosen);
    ASSERT_EQ(paths().languageCode, u"ru");
    EXPECT_EQ(WithoutMnemonic(dialog.findChild<QPushButton*>("sentFaxes")->text()),
              qstr(GetText(state().language, text::kSentFaxes)));
    expectMnemonics(&dialog, "Russian, after the language change");
    expectUnclipped(&dialog, "Russian, cover off");
    const int collapsed = dialog.height();
    click(&dialog, 1089);
    expectUnclipped(&dialog, "Russian, cover on");
    EXPECT_EQ(dialog.height(), collapsed + dialog.coverBoxArea());
}

// A kept place and size come back on the laptop screen: never larger than
// its free area, never smaller than the window's minimum, and moved so that
// the whole window (with its frame) is on the screen. A place off every
// screen keeps the size only; text that is not a place changes nothing.
TEST_F(DialogLayoutTest, KeptPlacesComeBackOnTheScreen) {
    const struct {
        const char* kept;
        QRect expected;
    } cases[] = {
        {"100,50,600,400", {100, 50, 600, 400}},
        {"1200,700,600,400", {1366 - 600 - 8, 768 - 400 - 40, 600, 400}},  // frame: 8 x 40
        {"100,50,3000,2000", {0, 0, 1366 - 8, 768 - 40}},
        {"100,50,10,10", {100, 50, 200, 100}},
        {"5000,5000,600,400", {30, 30, 600, 400}},
        {"100,50,0,0", {100, 50, 300, 300}},
        {"100,50,600", {30, 30, 300, 300}},
        {"x,50,600,400", {30, 30, 300, 300}},
    };
    for (const auto& c : cases) {
        QWidget window;
        window.setMinimumSize(200, 100);
        window.setGeometry(30, 30, 300, 300);
        ApplyPlacement(&window, fromUtf8(c.kept));
        EXPECT_EQ(window.geometry(), c.expected) << c.kept;
    }
}

// The send dialog and the preview come back as large as the user made
// them; the send dialog's cover box still adds its own height.
TEST_F(DialogLayoutTest, WindowSizesAreKeptBetweenRuns) {
    inLanguage("en");
    QSize chosen;
    {
        SendDialog dialog(paths());
        whenModal("id104", [&](QDialog* shown) {
            chosen = shown->size() + QSize(120, 60);
            shown->resize(chosen);
            waitFor([&] { return shown->size() == chosen; }, 2000);
            closeDiscardingWork(shown);
        });
        dialog.exec();
    }
    ASSERT_FALSE(state().settings.sendWindowPlace.empty());
    QSize again, withCover;
    int coverArea = 0;
    {
        SendDialog dialog(paths());
        whenModal("id104", [&](QDialog* shown) {
            again = shown->size();
            coverArea = static_cast<SendDialog*>(shown)->coverBoxArea();
            click(shown, 1089);
            withCover = shown->size();
            closeDiscardingWork(shown);
        });
        dialog.exec();
    }
    EXPECT_EQ(again, chosen);
    EXPECT_EQ(withCover, chosen + QSize(0, coverArea));
    // Closed with the cover box open: the kept size is the one without it.
    {
        SendDialog dialog(paths());
        whenModal("id104", [&](QDialog* shown) {
            again = shown->size();
            closeDiscardingWork(shown);
        });
        dialog.exec();
    }
    EXPECT_EQ(again, chosen);

    miravo::test::TempDir dir;
    miravo::test::writeBytes(dir / "offer_res__1.tif", server::test::faxDocument());
    const QString file = QString::fromStdString((dir / "offer_res__1.tif").string());
    std::u16string& place = state().settings.previewWindowPlace;
    {
        QWidget owner;
        PreviewWindow* preview =
            ShowInPreviewWindow(&owner, state().language, file, "Offer", &place);
        preview->setGeometry(40, 30, 500, 600);
        preview->close();
    }
    ASSERT_FALSE(place.empty());
    QWidget owner;
    PreviewWindow* preview = ShowInPreviewWindow(&owner, state().language, file, "Offer", &place);
    preview->show();
    EXPECT_EQ(preview->geometry(), QRect(40, 30, 500, 600));
}

}  // namespace
}  // namespace miravo::ui::test
