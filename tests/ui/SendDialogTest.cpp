#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <memory>
#include <string>
#include <vector>

#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "convert/FaxTiff.h"
#include "journal/Journal.h"
#include "service/FaxTransmission.h"
#include "tests/server/ServerHarness.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Dialogs.h"
#include "ui/Preview.h"
#include "ui/ControlIds.h"
#include "ui/PreviewWindow.h"
#include "ui/SendDialog.h"
#include "ui/FaxPagesView.h"
#include "ui/StatusWindow.h"
#include "app/TextIds.h"

namespace miravo::ui::test {
namespace {

using server::test::ServerProcess;

int CountTiffPagesOf(const std::u16string& path) {
    return CountTiffPages(toUtf8(path));
}

// The cover-page files go to the home folder: a temporary one here.
class HomeFolder {
  public:
    explicit HomeFolder(const std::filesystem::path& path) : old_(qgetenv("HOME")) {
        qputenv("HOME", QByteArray::fromStdString(path.string()));
    }
    ~HomeFolder() { qputenv("HOME", old_); }

  private:
    QByteArray old_;
};

QString coverDefault(const AppState& state) {
    return qstr(GetText(state.language, 121));
}

class SendDialogTest : public UiTest {
  protected:
    SendDialogTest() {
        miravo::test::writeBytes(dataDir() / "joined.tiff", server::test::faxDocument());
        state().job.documentPath = FromFsPath(dataDir() / "joined.tiff");
        SetPreviewHandler(
            [this](QWidget*, const std::u16string& path) { previews.push_back(path); });
    }
    ~SendDialogTest() override { SetPreviewHandler(nullptr); }

    QLineEdit* row(SendDialog& d, int id) { return find<QLineEdit>(&d, id); }
    bool sendEnabled(SendDialog& d) { return find<QPushButton>(&d, 1)->isEnabled(); }

    std::vector<std::u16string> previews;
};

TEST(RecipientsFromRows, ShortNumbersSkipGroupsResolveThroughTheIndexOthersAsTyped) {
    const std::map<std::u16string, std::vector<std::u16string>> groups = {
        {u"Sales", {u"+441", u"+442"}}};
    auto got =
        RecipientsFromRows({{{u"12", u"Short"}, {u" 0049 x", u"Anna"}, {u"[Sales]", u""}}}, groups);
    EXPECT_TRUE(got.anyFilled);
    ASSERT_EQ(got.recipients.size(), 2u);
    EXPECT_EQ(got.recipients[0], Contact::entry(u"0", u"Anna", u" 0049 x", u""));
    EXPECT_EQ(got.recipients[1].kind, Group);
    EXPECT_EQ(got.recipients[1].groupname, u"Sales");
    EXPECT_EQ(got.recipients[1].members, (std::vector<std::u16string>{u"+441", u"+442"}));

    got = RecipientsFromRows({{{u"[Nobody]", u""}, {u"", u""}, {u"ab", u""}}}, groups);
    EXPECT_TRUE(got.anyFilled);  // the unknown group's row still counts
    EXPECT_TRUE(got.recipients.empty());
    EXPECT_FALSE(RecipientsFromRows({{{u"1", u""}, {u"22", u""}, {u"", u""}}}, groups).anyFilled);
}

TEST_F(SendDialogTest, OpensWithTitleSentencesSettingsAndTheCoverBoxCollapsed) {
    state().job.jobFilePath = u"/var/spool/Quarterly report__ps__4711.job";
    state().settings.closeWindow = true;
    state().settings.transmissionReport = false;
    state().settings.reportAttach = true;
    state().job.coverPageOn = state().job.massFaxOn = true;
    SendDialog dialog(paths());
    EXPECT_EQ(dialog.windowTitle(), "Miravo 3.0.1");
    EXPECT_EQ(find<QLabel>(&dialog, 1021)->text(),
              qstr(GetText(state().language, 19, std::u16string(u"Quarterly report"))));
    EXPECT_FALSE(find<QLabel>(&dialog, 1052)->text().isEmpty());
    EXPECT_FALSE(state().job.coverPageOn || state().job.massFaxOn);
    EXPECT_EQ(dialog.coverTextBox()->toPlainText(), coverDefault(state()));
    EXPECT_TRUE(dialog.coverTextBox()->isHidden());
    EXPECT_EQ(dialog.height(), dialog.fullSize().height() - dialog.coverBoxArea());
    EXPECT_GT(dialog.coverBoxArea(), 0);
    EXPECT_FALSE(sendEnabled(dialog));  // no number yet
    EXPECT_FALSE(find<QToolButton>(&dialog, 1071)->isEnabled());

    auto* status = find<QCheckBox>(&dialog, 1012);
    auto* report = find<QCheckBox>(&dialog, 1018);
    auto* attach = find<QCheckBox>(&dialog, 1068);
    EXPECT_FALSE(status->isChecked());  // shown inverted
    EXPECT_FALSE(report->isChecked());
    EXPECT_TRUE(attach->isChecked());
    EXPECT_FALSE(attach->isEnabled());
    click(status);
    click(report);
    EXPECT_FALSE(state().settings.closeWindow);
    EXPECT_TRUE(state().settings.transmissionReport);
    ASSERT_TRUE(attach->isEnabled());
    click(attach);
    EXPECT_FALSE(state().settings.reportAttach);
    click(report);
    EXPECT_FALSE(attach->isEnabled());
    EXPECT_FALSE(attach->isChecked());  // keeps its check while disabled
}

TEST_F(SendDialogTest, SendRuleFollowsRowsAndTheCoverText) {
    SendDialog dialog(paths());
    QTest::keyClicks(row(dialog, 1002), "12");
    EXPECT_FALSE(sendEnabled(dialog));  // two characters are no number
    QTest::keyClicks(row(dialog, 1002), "3");
    EXPECT_TRUE(sendEnabled(dialog));
    state().job.coverText = u"made before";
    QTest::keyClicks(row(dialog, 1005), "B");
    EXPECT_TRUE(state().job.coverText.empty());  // any row change asks for a new cover page

    dialog.coverTextBox()->clear();
    EXPECT_FALSE(sendEnabled(dialog));  // even with the cover page off
    QTest::keyClicks(row(dialog, 1003), "456");
    EXPECT_FALSE(sendEnabled(dialog));

    click(&dialog, 1089);
    QTest::keyClicks(dialog.coverTextBox(), "Hello");
    EXPECT_TRUE(sendEnabled(dialog));
    EXPECT_TRUE(find<QPushButton>(&dialog, 1022)->isEnabled());
    dialog.coverTextBox()->setPlainText(QString(kMaxCoverText + 50, 'x'));
    EXPECT_EQ(dialog.coverTextBox()->toPlainText().size(), kMaxCoverText);
    dialog.coverTextBox()->clear();
    EXPECT_FALSE(find<QPushButton>(&dialog, 1022)->isEnabled());  // follows Send with a cover page
}

// Send waits for a number; Enter in a row goes on to the next box, and
// Ctrl+Enter sends from anywhere.
// The first moments: with a document the typing goes into the first number
// field; Enter moves on while there is nothing to send, and sends (as the
// default button does) once there is a number, from any row.
TEST_F(SendDialogTest, FocusStartsInTheNumberAndEnterSendsOnceThereIsOne) {
    state().settings.userName = u"demo@miravo.test";
    state().settings.password = u"demo";
    state().settings.serviceHost = u"127.0.0.1:1";  // nothing answers: the window is closed
    SendDialog dialog(paths());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QLineEdit* number = row(dialog, 1001);
    EXPECT_EQ(dialog.focusWidget(), number);
    EXPECT_TRUE(find<QPushButton>(&dialog, 1)->isDefault());
    EXPECT_FALSE(sendEnabled(dialog));  // a document, but no number yet
    bool statusOpened = false;
    auto sent = whenModal("id103", [&](QDialog* status) {
        statusOpened = true;
        status->done(kStatusWindowClosed);
    });
    QTest::keyClick(number, Qt::Key_Return);
    EXPECT_EQ(dialog.focusWidget(), row(dialog, 1004));
    EXPECT_FALSE(statusOpened);
    QTest::keyClicks(number, "+49 30 1234567");
    EXPECT_TRUE(sendEnabled(dialog));
    QTest::keyClick(row(dialog, 1004), Qt::Key_Enter);
    EXPECT_TRUE(*sent);
    EXPECT_TRUE(dialog.isVisible());  // nothing went out: the dialog stays
    sent = whenModal("id103", [&](QDialog* status) { status->done(kStatusWindowClosed); });
    EXPECT_TRUE(sendEnabled(dialog));
    QTest::keyClick(row(dialog, 1002), Qt::Key_Return);
    EXPECT_TRUE(*sent);
}

// After a send that did not go out the dialog comes back, and Ctrl+Enter
// (either Enter key, from any box) sends again: once, not twice, not never.
TEST_F(SendDialogTest, CtrlEnterAfterAFailedSendSendsAgainOnce) {
    state().settings.userName = u"demo@miravo.test";
    state().settings.password = u"demo";
    state().settings.serviceHost = u"127.0.0.1:1";  // nothing answers: the window is closed
    SendDialog dialog(paths());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    // Every status window that opens is counted and closed: nothing goes out.
    int opened = 0;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* status = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (status && status->objectName() == "id103" && status->isVisible()) {
            ++opened;
            status->done(kStatusWindowClosed);
        }
    });
    watcher.start(5);
    QTest::keyClicks(row(dialog, 1001), "+49 30 1234567");
    click(&dialog, 1);
    // The window is closed, and the dialog is back in front.
    const auto back = [&] {
        return opened > 0 && !QApplication::activeModalWidget() &&
               QApplication::activeWindow() == &dialog;
    };
    ASSERT_TRUE(waitFor(back));
    const struct {
        int box;
        Qt::Key key;
    } cases[] = {{1001, Qt::Key_Return}, {1004, Qt::Key_Enter}, {1003, Qt::Key_Return}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        opened = 0;
        QWidget* box = find<QWidget>(&dialog, c.box);
        box->setFocus();
        QTest::keyClick(box, c.key, Qt::ControlModifier);
        waitFor(back);
        QTest::qWait(300);  // a second send would have opened its window by now
        EXPECT_EQ(opened, 1);
        EXPECT_TRUE(dialog.isVisible());
    }
}

// Escape, Close and the close box: a dialog holding work asks first, and
// Enter or Escape on the question keeps it; an empty one closes at once.
TEST_F(SendDialogTest, ClosingADialogHoldingWorkAsksFirst) {
    enum class Way { Escape, CloseButton, CloseBox };
    enum class Work { None, Document, Number, CoverText };
    enum class Answer { Discard, Enter, Escape };
    const struct {
        Way way;
        Work work;
        Answer answer;
        bool asked, closed;
    } cases[] = {
        {Way::Escape, Work::None, Answer::Discard, false, true},
        {Way::CloseButton, Work::None, Answer::Discard, false, true},
        {Way::CloseBox, Work::None, Answer::Discard, false, true},
        {Way::Escape, Work::Document, Answer::Enter, true, false},
        {Way::Escape, Work::Document, Answer::Discard, true, true},
        {Way::CloseButton, Work::Number, Answer::Escape, true, false},
        {Way::CloseButton, Work::Number, Answer::Discard, true, true},
        {Way::CloseBox, Work::CoverText, Answer::Enter, true, false},
        {Way::CloseBox, Work::CoverText, Answer::Discard, true, true},
    };
    const std::u16string document = state().job.documentPath;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "way " << int(c.way) << ", work " << int(c.work)
                                        << ", answer " << int(c.answer));
        state().job.documentPath = c.work == Work::Document ? document : u"";
        SendDialog dialog(paths());
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        if (c.work == Work::Number)
            row(dialog, 1001)->setText("+49 30 1234567");
        if (c.work == Work::CoverText) {
            click(&dialog, 1089);
            find<QPlainTextEdit>(&dialog, 1090)->setPlainText("Dear Anna");
        }
        bool asked = false;
        whenModal(
            "discardWork",
            [&](QDialog* box) {
                asked = true;
                if (c.answer == Answer::Discard)
                    box->findChild<QPushButton*>("discard")->click();
                else
                    QTest::keyClick(box, c.answer == Answer::Enter ? Qt::Key_Return
                                                                   : Qt::Key_Escape);
            },
            c.asked ? 20000 : 200);
        switch (c.way) {
            case Way::Escape:
                QTest::keyClick(&dialog, Qt::Key_Escape);
                break;
            case Way::CloseButton:
                click(&dialog, 2);
                break;
            case Way::CloseBox:
                dialog.close();
                break;
        }
        if (!c.asked)
            QTest::qWait(250);  // no question may come, and no watch outlives the case
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(!dialog.isVisible(), c.closed);
        if (c.work == Work::Number)
            EXPECT_EQ(row(dialog, 1001)->text(), "+49 30 1234567");
    }
}

// The cover text: the characters left are counted down, a paste beyond the
// limit is refused with a message (never cut), and Preview opens no cover
// page that was not made.
TEST_F(SendDialogTest, CoverTextCountsDownRefusesALongPasteAndPreviewsOnlyWhatWasMade) {
    miravo::test::TempDir home;
    const HomeFolder homeFolder(home.path());
    SendDialog dialog(paths());
    dialog.show();
    row(dialog, 1001)->setText("+49 30 1234567");
    click(&dialog, 1089);
    auto* left = dialog.findChild<QLabel*>("coverCharactersLeft");
    ASSERT_NE(left, nullptr);
    QPlainTextEdit* box = dialog.coverTextBox();
    box->setPlainText("Hello");
    EXPECT_EQ(left->text(), qstr(GetText(state().language, text::kCoverCharactersLeft,
                                         kMaxCoverText - 5)));
    EXPECT_TRUE(left->isVisible());

    const QString pasted(3 * 1024 * 1024, 'x');
    QApplication::clipboard()->setText(pasted);
    QString told;
    const auto refused = whenModal("coverPasteRefused", [&](QDialog* message) {
        told = static_cast<QMessageBox*>(message)->text();
        message->accept();
    });
    box->moveCursor(QTextCursor::End);
    box->paste();
    EXPECT_TRUE(*refused);
    EXPECT_EQ(told, qstr(GetText(state().language, text::kCoverPasteRefused,
                                 static_cast<int>(pasted.size()), kMaxCoverText)));
    EXPECT_EQ(box->toPlainText(), "Hello");
    // A paste that fits is taken.
    QApplication::clipboard()->setText(" there");
    box->paste();
    EXPECT_EQ(box->toPlainText(), "Hello there");

    // No service makes the cover page here: nothing is previewed.
    state().settings.serviceHost = u"127.0.0.1:1";
    whenModal("id110", [](QDialog* worker) { QTest::keyClick(worker, Qt::Key_Escape); });
    const auto notMade = whenModal("coverPageNotMade", [](QDialog* m) { m->accept(); });
    click(&dialog, 1022);
    EXPECT_TRUE(*notMade);
    EXPECT_TRUE(previews.empty());
}

// MAX_PAGES: the page count is shown, and a fax the service would refuse
// for its length is stopped before the upload, with the way out named.
TEST_F(SendDialogTest, PagesBeyondTheLimitAreSaidBeforeTheUpload) {
    state().settings.maxPages = 1;  // the document has one page, as its name says
    std::filesystem::copy_file(dataDir() / "joined.tiff", dataDir() / "offer_res__1.tif");
    state().job.documentPath = FromFsPath(dataDir() / "offer_res__1.tif");
    SendDialog dialog(paths());
    dialog.show();
    auto* pages = dialog.findChild<QLabel*>("documentPages");
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(pages->text(), qstr(GetText(state().language, text::kDocumentPages, 1)));
    auto* limit = dialog.findChild<QLabel*>("pageLimit");
    EXPECT_FALSE(limit->isVisible());
    row(dialog, 1001)->setText("+49 30 1234567");
    click(&dialog, 1089);
    EXPECT_TRUE(limit->isVisible());
    EXPECT_EQ(limit->text(), qstr(GetText(state().language, text::kTooManyPagesWithCover, 2, 1)));
    // The watch outlives this test when nothing opens: it must not touch
    // this test's frame, nor act on a later test's window.
    auto statusOpened = std::make_shared<bool>(false);
    auto watching = std::make_shared<bool>(true);
    whenModal("id103", [statusOpened, watching](QDialog* status) {
        if (!*watching)
            return;
        *statusOpened = true;
        status->done(kStatusWindowClosed);
    }, 2000);
    const auto told = whenModal("tooManyPages", [](QDialog* m) { m->accept(); });
    click(&dialog, 1);
    EXPECT_TRUE(*told);
    EXPECT_FALSE(*statusOpened);
    click(&dialog, 1089);
    EXPECT_FALSE(limit->isVisible());
    *watching = false;
}

TEST_F(SendDialogTest, MassFaxSeedsTheListFromTheRowsAndGivesItBack) {
    SendDialog dialog(paths());
    row(dialog, 1001)->setText("111");
    row(dialog, 1004)->setText("Ann");
    row(dialog, 1002)->setText("222");
    row(dialog, 1003)->setText("9");
    click(&dialog, 1079);
    EXPECT_TRUE(state().job.massFaxOn);
    ASSERT_EQ(state().job.recipients.size(), 2u);
    EXPECT_EQ(state().job.recipients[0], Contact::entry(u"0", u"Ann", u"111", u""));
    EXPECT_FALSE(row(dialog, 1001)->isEnabled());
    EXPECT_TRUE(find<QToolButton>(&dialog, 1071)->isEnabled());
    EXPECT_TRUE(sendEnabled(dialog));

    state().job.recipients = {
        Contact::entry(u"0", u"", u"501", u""), Contact::entry(u"0", u"Bo", u"502", u""),
        Contact::entry(u"0", u"", u"503", u""), Contact::entry(u"0", u"", u"504", u"")};
    click(&dialog, 1079);
    EXPECT_FALSE(state().job.massFaxOn);
    EXPECT_EQ(row(dialog, 1001)->text(), "501");
    EXPECT_EQ(row(dialog, 1004)->text(), "");
    EXPECT_EQ(row(dialog, 1005)->text(), "Bo");
    EXPECT_EQ(row(dialog, 1003)->text(), "503");
    EXPECT_TRUE(row(dialog, 1003)->isEnabled());
    EXPECT_EQ(state().job.recipients.size(), 3u);
    EXPECT_FALSE(find<QToolButton>(&dialog, 1071)->isEnabled());

    // Without a document Send stays off after switching.
    state().job.documentPath.clear();
    click(&dialog, 1079);
    EXPECT_FALSE(sendEnabled(dialog));
}

TEST_F(SendDialogTest, ChosenContactsFillRowsOrSwitchToMassFax) {
    SendDialog dialog(paths());
    row(dialog, 1002)->setText("222");
    row(dialog, 1003)->setText("333");
    state().job.chosenContacts = {Contact::entry(u"7", u"Eve", std::u16string(300, u'5'), u"")};
    dialog.applyChosenContacts();
    EXPECT_EQ(row(dialog, 1001)->text().size(), kMaxRowText);
    EXPECT_EQ(row(dialog, 1004)->text(), "Eve");
    EXPECT_EQ(row(dialog, 1002)->text(), "222");  // rows beyond the choice keep their text
    EXPECT_FALSE(state().job.massFaxOn);

    std::vector<Contact> four;
    for (char16_t c = u'1'; c <= u'4'; ++c)
        four.push_back(Contact::entry(u"0", u"", std::u16string(4, c), u""));
    state().job.chosenContacts = four;
    dialog.applyChosenContacts();
    EXPECT_TRUE(state().job.massFaxOn);
    EXPECT_TRUE(find<QCheckBox>(&dialog, 1079)->isChecked());
    EXPECT_EQ(state().job.recipients, four);
    EXPECT_EQ(row(dialog, 1003)->text(), "3333");
    EXPECT_FALSE(row(dialog, 1003)->isEnabled());

    // Closing the contact book without its Send changes nothing.
    ContactBook book;
    book.contacts.push_back(Contact::entry(u"9", u"Kim", u"+4930999", u""));
    ASSERT_TRUE(book.save());  // a book on file: nothing to fetch on opening
    state().job.chosenContacts.clear();
    const auto closed =
        whenModal("id112", [](QDialog* contacts) { QTest::keyClick(contacts, Qt::Key_Escape); });
    click(&dialog, 1069);
    EXPECT_TRUE(*closed);
    EXPECT_TRUE(state().job.massFaxOn);
    EXPECT_EQ(state().job.recipients, four);
}

TEST_F(SendDialogTest, CoverPageGrowsAndShrinksTheDialogAtItsPlace) {
    SendDialog dialog(paths());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.move(40, 30);
    const QPoint at = dialog.pos();
    const QSize full = dialog.fullSize();
    state().job.coverText = u"old";
    click(&dialog, 1089);
    EXPECT_TRUE(state().job.coverPageOn);
    EXPECT_TRUE(dialog.coverTextBox()->isVisible());
    EXPECT_TRUE(state().job.coverText.empty());
    // Exactly the cover box's room more.
    EXPECT_EQ(dialog.size(), full);
    EXPECT_EQ(dialog.pos(), at);
    click(&dialog, 1089);
    EXPECT_FALSE(dialog.coverTextBox()->isVisible());
    EXPECT_EQ(dialog.size(), QSize(full.width(), full.height() - dialog.coverBoxArea()));
    EXPECT_EQ(dialog.pos(), at);
    // Every control but the cover box still fits.
    EXPECT_GE(dialog.height(), dialog.minimumSizeHint().height());
}

TEST_F(SendDialogTest, PreviewWithoutCoverShowsTheDocumentAndOptionsResetsTheCoverText) {
    SendDialog dialog(paths());
    click(&dialog, 1022);
    EXPECT_EQ(previews, std::vector<std::u16string>{state().job.documentPath});
    dialog.coverTextBox()->setPlainText("Mine");
    const auto cancelled =
        whenModal("id106", [](QDialog* options) { QTest::keyClick(options, Qt::Key_Escape); });
    click(&dialog, 1016);
    EXPECT_TRUE(*cancelled);
    EXPECT_EQ(dialog.coverTextBox()->toPlainText(), coverDefault(state()));
}

TEST_F(SendDialogTest, SendBuildsTheRecipientsWithGroupsFromTheBookAndClosesWithOne) {
    // The groups index comes from contacts.csv, read when the dialog opens.
    ContactBook book;
    Contact sales = Contact::full(u"", u"", u"", u"", u"", u"Sales");
    sales.members = {u"+441", u"+442"};
    book.contacts.push_back(sales);
    ASSERT_TRUE(book.save());
    state().job.recipients = {Contact::entry(u"0", u"", u"stale", u"")};
    auto fired = whenModal("id104", [](QDialog* dialog) {
        find<QLineEdit>(dialog, 1001)->setText("[Sales]");
        find<QLineEdit>(dialog, 1003)->setText("+4930123");
        find<QLineEdit>(dialog, 1006)->setText("Office");
        find<QPlainTextEdit>(dialog, 1090)->setPlainText("Dear all");
        // The group's numbers cannot be valid: asked once, sent anyway.
        whenModal("invalidNumbers", [](QDialog* box) {
            box->findChild<QPushButton*>("sendAnyway")->click();
            // Without credentials the send asks for them; giving up sends
            // nothing, so the dialog stays with everything as it was.
            whenModal("id107", [](QDialog* prompt) { QTest::keyClick(prompt, Qt::Key_Escape); });
        });
        click(dialog, 1);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(find<QLineEdit>(dialog, 1006)->text(), "Office");
        EXPECT_EQ(find<QPlainTextEdit>(dialog, 1090)->toPlainText(), "Dear all");
        EXPECT_TRUE(dialog->findChild<QLabel*>("lastSendFailure")->isVisible());
        closeDiscardingWork(dialog);
    });
    EXPECT_EQ(RunSendDialog(paths()), kSendDialogClosed);
    EXPECT_TRUE(*fired);
    ASSERT_EQ(state().job.recipients.size(), 2u);
    EXPECT_EQ(state().job.recipients[0].members, sales.members);
    EXPECT_EQ(state().job.recipients[1], Contact::entry(u"0", u"Office", u"+4930123", u""));
    EXPECT_EQ(state().job.coverText, u"Dear all");

    fired = whenModal("id104", [](QDialog* dialog) { closeDiscardingWork(dialog); });
    EXPECT_EQ(RunSendDialog(paths()), kSendDialogClosed);
    EXPECT_TRUE(*fired);
}

// The cover page is made by the local fax service; the preview shows the
// joined document and converts again only when text or destinations changed.
TEST_F(SendDialogTest, PreviewWithCoverConvertsOnlyWhenSomethingChanged) {
    ServerProcess server;
    ASSERT_TRUE(server.start());
    miravo::test::TempDir home;
    const HomeFolder homeFolder(home.path());
    state().settings = server::test::transportSettings(server);
    state().settings.userName = u"demo@miravo.test";
    state().settings.password = u"demo";
    miravo::test::writeBytes(home / "fax.tiff", server::test::faxDocument());
    state().job.documentPath = fromUtf8((home / "fax.tiff").string());
    const auto conversions = [&] {
        const std::string log = server.output();
        std::size_t count = 0;
        for (std::size_t at = log.find("action=convert "); at != std::string::npos;
             at = log.find("action=convert ", at + 1))
            ++count;
        return count;
    };

    SendDialog dialog(paths());
    row(dialog, 1001)->setText("+15550001");
    click(&dialog, 1089);
    click(&dialog, 1022);
    ASSERT_TRUE(waitFor([&] { return conversions() == 1; }));
    ASSERT_EQ(previews.size(), 1u);
    EXPECT_EQ(previews[0], state().job.coverDocumentPath);
    EXPECT_EQ(CountTiffPagesOf(state().job.coverDocumentPath), 2);
    click(&dialog, 1022);
    EXPECT_EQ(previews.size(), 2u);
    QTest::qWait(200);
    EXPECT_EQ(conversions(), 1u);  // same text, same numbers
    row(dialog, 1001)->setText("+15550002");
    click(&dialog, 1022);
    EXPECT_TRUE(waitFor([&] { return conversions() == 2; }));
    EXPECT_EQ(previews.size(), 3u);
}

class UrlRecorder : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> opened;
  public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

TEST_F(SendDialogTest, NewerVersionIsOfferedCentredOverTheShownDialogAndOkOpensTheAddress) {
    ServerProcess server(
        {"--newest-version", "3.0.2", "--download-url", "https://127.0.0.1:9/get/miravo"});
    ASSERT_TRUE(server.start());
    state().settings.versionHost = u"127.0.0.1:" + fromUtf8(std::to_string(server.versionPort()));
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "open");
    QString caption, text;
    bool dialogShown = false;
    QPoint offCentre(-1000, -1000);
    const auto prompted = whenModal("newerVersionPrompt", [&](QDialog* box) {
        caption = box->windowTitle();
        text = static_cast<QMessageBox*>(box)->text();
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == "id104" && top->isVisible()) {
                dialogShown = true;
                offCentre = box->frameGeometry().center() - top->frameGeometry().center();
            }
        }
        static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
    });
    // The dialog is up and usable while the version page answers.
    const auto closed = whenModal("id104", [&](QDialog* dialog) {
        waitFor([&] { return *prompted; });
        closeDiscardingWork(dialog);
    });
    EXPECT_EQ(RunSendDialog(paths()), kSendDialogClosed);
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_TRUE(*prompted && *closed);
    EXPECT_EQ(caption, "Miravo Printer");
    EXPECT_EQ(text, qstr(GetText(state().language, 122)));
    EXPECT_TRUE(dialogShown);
    EXPECT_LE(offCentre.manhattanLength(), 4);
    ASSERT_EQ(recorder.opened.size(), 1);
    EXPECT_EQ(recorder.opened[0].host(), "127.0.0.1");
}

// An answer that comes while another window of the program is in front
// (Options here) is offered once the dialog is in front again.
TEST_F(SendDialogTest, NewerVersionWaitsUntilTheDialogIsInFrontAgain) {
    // A version page that answers only once Options is open, so that the
    // answer always comes while another window is in front.
    QTcpServer page;
    ASSERT_TRUE(page.listen(QHostAddress::LocalHost));
    std::vector<QTcpSocket*> asking;
    QObject::connect(&page, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = page.nextPendingConnection())
            asking.push_back(socket);
    });
    const auto answer = [&] {
        const QByteArray body = "3.0.2 https://127.0.0.1:8443/download";
        for (QTcpSocket* socket : asking) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            socket->flush();
        }
    };
    state().settings.versionHost = u"127.0.0.1:" + fromUtf8(std::to_string(page.serverPort()));
    std::vector<QString> order;
    const auto prompted = whenModal("newerVersionPrompt", [&](QDialog* box) {
        order.push_back(box->parentWidget() ? box->parentWidget()->objectName() : QString());
        static_cast<QMessageBox*>(box)->button(QMessageBox::Cancel)->click();
    });
    const auto closed = whenModal("id104", [&](QDialog* dialog) {
        whenModal("id106", [&](QDialog* options) {
            waitFor([&] { return !asking.empty() && asking.front()->bytesAvailable() > 0; });
            answer();
            QTest::qWait(500);  // the answer is read meanwhile
            order.push_back("options closed");
            QTest::keyClick(options, Qt::Key_Escape);
        });
        click(dialog, 1016);
        waitFor([&] { return *prompted; });
        closeDiscardingWork(dialog);
    });
    EXPECT_EQ(RunSendDialog(paths()), kSendDialogClosed);
    EXPECT_TRUE(*prompted && *closed);
    EXPECT_EQ(order, (std::vector<QString>{"options closed", "id104"}));
}

// Without a document the dialog says so and cannot send; a document chosen
// or dropped goes through printing and conversion and becomes the one sent.
TEST_F(SendDialogTest, DocumentChosenOrDroppedIsConvertedAndNoDocumentMeansNoSend) {
    const std::filesystem::path png = dataDir() / "offer.png";
    QImage page(400, 300, QImage::Format_RGB32);
    page.fill(Qt::white);
    ASSERT_TRUE(page.save(QString::fromStdString(png.string())));
    const std::filesystem::path junk = dataDir() / "junk.pdf";
    miravo::test::writeBytes(junk, "not a document");
    QStringList startFolders;
    const auto previous = SetDocumentChooser([&](QWidget*, const QString& folder, const QString&) {
        startFolders << folder;
        return QString::fromStdString(png.string());
    });

    state().job.documentPath.clear();
    SendDialog dialog(paths());
    dialog.show();
    EXPECT_EQ(find<QLabel>(&dialog, 1021)->text(), qstr(GetText(state().language, 219)));
    EXPECT_FALSE(find<QLabel>(&dialog, 1052)->isVisible());  // how it is converted: not yet
    row(dialog, 1001)->setText("+49 30 1234567");
    EXPECT_FALSE(sendEnabled(dialog));

    // Chosen with the button.
    click(&dialog, controlid::kChooseDocument);
    EXPECT_TRUE(find<QLabel>(&dialog, 1021)->text().contains("\"offer\""));
    EXPECT_TRUE(find<QLabel>(&dialog, 1052)->isVisible());
    EXPECT_EQ(CountTiffPagesOf(state().job.documentPath), 1);
    // The file dialog starts in the documents folder, later where the last document was.
    click(&dialog, controlid::kChooseDocument);
    EXPECT_EQ(startFolders, (QStringList{qstr(DocumentsFolder()),
                                         QString::fromStdString(dataDir().path().string())}));
    row(dialog, 1001)->setText("+49 30 1234568");
    EXPECT_TRUE(sendEnabled(dialog));
    const std::u16string first = state().job.documentPath;

    // A file that is no document: refused, the chosen one stays.
    const auto refused = whenModal("documentRefused", [](QDialog* box) { box->accept(); });
    EXPECT_FALSE(dialog.takeDocument(QString::fromStdString(junk.string())));
    EXPECT_TRUE(*refused);
    EXPECT_EQ(state().job.documentPath, first);
    EXPECT_EQ(CountTiffPagesOf(first), 1);
    EXPECT_TRUE(sendEnabled(dialog));

    // Dropped onto the dialog.
    std::filesystem::copy_file(png, dataDir() / "price list.png");
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(QString::fromStdString((dataDir() / "price list.png").string()))});
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    static_cast<QObject&>(dialog).event(&drop);  // as the drag manager hands it over
    EXPECT_TRUE(drop.isAccepted());
    // Added at the end of the fax; the first stays its first document.
    auto* documents = dialog.findChild<QLabel*>("faxDocuments");
    ASSERT_NE(documents, nullptr);
    EXPECT_TRUE(waitFor([&] { return documents->text().contains("price list"); }));
    EXPECT_EQ(dialog.findChild<QListWidget*>("faxPageList")->count(), 3);
    EXPECT_TRUE(find<QLabel>(&dialog, 1021)->text().contains("\"offer\""));
    EXPECT_TRUE(std::filesystem::exists(ToFsPath(first)));
    SetDocumentChooser(previous);
}

// The fax's pages: thumbnails reached and used with the keyboard alone
// (Tab, Ctrl+Up/Down, the Turn and Remove buttons, Delete); the page count
// follows every edit; a document that would pass the page limit is refused
// whole with a message; without pages nothing can be sent.
TEST_F(SendDialogTest, PagesAreMovedTurnedAndRemovedAndThePageLimitRefusesADocumentWhole) {
    miravo::test::writeBytes(dataDir() / "one.tif", server::test::faxDocument());
    ASSERT_TRUE(JoinFaxTiffs({dataDir() / "one.tif", dataDir() / "one.tif"},
                             dataDir() / "offer_res__2.tif").ok);
    ASSERT_TRUE(JoinFaxTiffs({dataDir() / "one.tif", dataDir() / "one.tif"},
                             dataDir() / "annex.tiff").ok);
    const std::filesystem::path png = dataDir() / "plan.png";
    QImage picture(400, 300, QImage::Format_RGB32);
    picture.fill(Qt::white);
    ASSERT_TRUE(picture.save(QString::fromStdString(png.string())));
    state().settings.maxPages = 4;
    state().job.documentPath = FromFsPath(dataDir() / "offer_res__2.tif");
    // The service priced an earlier fax of 2 pages to 3 numbers at 0.60.
    {
        Journal journal;
        JournalSend earlier;
        earlier.pages = 2;
        earlier.estimatedCost = 0.6;
        earlier.destinations.resize(3);
        ASSERT_GT(journal.recordTransfer(earlier), 0);
    }
    auto costSaid = [&](double amount) {
        return qstr(GetText(state().language, text::kEstimatedCostFact,
                            MoneyText(amount, GetText(state().language, text::kCurrency))));
    };
    SendDialog dialog(paths());
    dialog.show();
    auto* list = dialog.findChild<QListWidget*>("faxPageList");
    auto* turn = dialog.findChild<QPushButton*>("turnPage");
    auto* remove = dialog.findChild<QPushButton*>("removePage");
    auto* pages = dialog.findChild<QLabel*>("documentPages");
    ASSERT_TRUE(list && turn && remove && pages);
    auto pagesSaid = [&](int n) { return qstr(GetText(state().language, text::kDocumentPages, n)); };
    EXPECT_EQ(list->count(), 2);

    EXPECT_TRUE(dialog.takeDocument(QString::fromStdString(png.string())));
    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(pages->text(), pagesSaid(3));
    auto* cost = dialog.findChild<QLabel*>("estimatedCost");
    ASSERT_NE(cost, nullptr);
    EXPECT_EQ(cost->text(), costSaid(0.3));
    EXPECT_TRUE(dialog.description().contains("plan.png"));
    // Two more pages would make five of four: refused whole, never cut.
    const auto refused = whenModal("faxPagesRefused", [](QDialog* box) { box->accept(); });
    EXPECT_FALSE(dialog.takeDocument(QString::fromStdString((dataDir() / "annex.tiff").string())));
    EXPECT_TRUE(*refused);
    EXPECT_EQ(list->count(), 3);
    EXPECT_FALSE(dialog.description().contains("annex"));

    // Dragged within the strip (what a drop does to the list), and back.
    auto placeOfPlan = [&] {
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->toolTip().contains("plan.png"))
                return i;
        return -1;
    };
    // The strip is drawn from the fax's pages again after each, so what it
    // shows is where the fax has the page.
    auto* view = dialog.findChild<FaxPagesView*>("faxPages");
    ASSERT_NE(view, nullptr);
    list->model()->moveRow(QModelIndex(), 2, QModelIndex(), 0);
    QTest::qWait(20);
    view->refresh();
    EXPECT_EQ(placeOfPlan(), 0);
    list->model()->moveRow(QModelIndex(), 0, QModelIndex(), 3);
    QTest::qWait(20);
    view->refresh();
    EXPECT_EQ(placeOfPlan(), 2);

    // The keyboard alone: Tab from "Add document" reaches the pages, then
    // Turn and Remove.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    auto* add = find<QPushButton>(&dialog, controlid::kChooseDocument);
    add->setFocus(Qt::TabFocusReason);
    QTest::keyClick(add, Qt::Key_Tab);
    EXPECT_EQ(dialog.focusWidget(), list);
    list->setCurrentRow(2);
    QTest::keyClick(list, Qt::Key_Up, Qt::ControlModifier);
    QTest::keyClick(list, Qt::Key_Up, Qt::ControlModifier);
    QTest::keyClick(list, Qt::Key_Up, Qt::ControlModifier);  // already first: stays
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_TRUE(list->item(0)->toolTip().contains("plan.png"));
    QTest::keyClick(list, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_TRUE(list->item(1)->toolTip().contains("plan.png"));
    QTest::keyClick(list, Qt::Key_Tab);
    EXPECT_EQ(dialog.focusWidget(), turn);
    QTest::keyClick(turn, Qt::Key_Space);
    QTest::keyClick(turn, Qt::Key_Tab);
    EXPECT_EQ(dialog.focusWidget(), remove) << dialog.focusWidget()->objectName().toStdString();
    QTest::keyClick(remove, Qt::Key_Space);
    EXPECT_EQ(list->count(), 2);
    EXPECT_EQ(pages->text(), pagesSaid(2));
    EXPECT_FALSE(dialog.description().contains("plan.png"));

    // Without pages there is nothing to send.
    row(dialog, 1001)->setText("+49 30 1234567");
    row(dialog, 1002)->setText("+49 30 1234568");
    EXPECT_EQ(cost->text(), costSaid(0.4));  // 2 pages to 2 numbers
    EXPECT_TRUE(sendEnabled(dialog));
    list->setFocus(Qt::TabFocusReason);
    QTest::keyClick(list, Qt::Key_Delete);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_FALSE(sendEnabled(dialog));
    EXPECT_FALSE(find<QPushButton>(&dialog, 1022)->isEnabled());
}

// The program started with several files: the dialog opens with the first
// and adds the others to its fax, in order, once it shows.
TEST_F(SendDialogTest, FilesAfterTheFirstAreAddedAsTheDialogOpens) {
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(Qt::white);
    for (const char* name : {"a.png", "b.png"})
        ASSERT_TRUE(picture.save(QString::fromStdString((dataDir() / name).string())));
    state().job.moreDocuments = {FromFsPath(dataDir() / "a.png"), FromFsPath(dataDir() / "b.png")};
    QStringList captions;
    QString inFront;  // the window in front when the pages were counted
    const auto seen = whenModal("id104", [&](QDialog* dialog) {
        // Looked at from the dialog's own event loop only: waiting here
        // could hold up a conversion whose loop this was called from.
        auto* list = dialog->findChild<QListWidget*>("faxPageList");
        auto* look = new QTimer(dialog);
        auto since = std::make_shared<QElapsedTimer>();
        since->start();
        QObject::connect(look, &QTimer::timeout, dialog, [=, &captions, &inFront] {
            const bool late = since->elapsed() > 90000;
            if (!late && (QApplication::activeModalWidget() != dialog || list->count() < 3))
                return;
            look->stop();
            if (QWidget* modal = QApplication::activeModalWidget())
                inFront = modal->objectName();
            for (int i = 0; i < list->count(); ++i)
                captions << list->item(i)->toolTip();
            closeDiscardingWork(dialog);
        });
        look->start(20);
    });
    EXPECT_EQ(RunSendDialog(paths()), kSendDialogClosed);
    EXPECT_TRUE(*seen);
    ASSERT_EQ(captions.size(), 3) << "in front: " << inFront.toStdString();
    EXPECT_TRUE(captions[1].contains("a.png"));
    EXPECT_TRUE(captions[2].contains("b.png"));
    EXPECT_TRUE(state().job.moreDocuments.empty());  // taken once
}

using PreviewWindowTest = UiTest;

TEST_F(PreviewWindowTest, PagesOfAFaxDocumentAndAMissingFile) {
    miravo::test::TempDir dir;
    miravo::test::writeBytes(dir / "one.tiff", server::test::faxDocument());
    ASSERT_TRUE(JoinFaxTiffs({dir / "one.tiff", dir / "one.tiff"}, dir / "two.tiff").ok);
    PreviewWindow window(state().language);
    window.open(QString::fromStdString((dir / "two.tiff").string()), "Offer");
    EXPECT_EQ(window.pageCount(), 2);
    EXPECT_EQ(window.statusText(), "Page 1 of 2");
    // 204 x 196 dpi: shown taller than its rows, in true proportions.
    EXPECT_EQ(window.page().width(), 1728);
    EXPECT_GT(window.page().height(), 2292);
    window.showPage(2);
    EXPECT_EQ(window.statusText(), "Page 2 of 2");
    EXPECT_FALSE(window.page().isNull());
    window.showPage(7);
    EXPECT_EQ(window.currentPage(), 2);

    PreviewWindow missing(state().language);
    missing.open(QString::fromStdString((dir / "gone.tiff").string()), "Offer");
    EXPECT_EQ(missing.pageCount(), 0);
    EXPECT_TRUE(missing.statusText().contains("does not exist"));
    EXPECT_TRUE(missing.page().isNull());
}

// Every preview goes to one window, captioned with the document's name, in
// the chosen language.
TEST_F(PreviewWindowTest, OneWindowTitledWithTheDocumentInTheChosenLanguage) {
    miravo::test::TempDir dir;
    miravo::test::writeBytes(dir / "tosend_res__1.tif", server::test::faxDocument());
    ASSERT_EQ(LoadLanguage(state().language, paths().languageFile, u"de"), 1);
    QWidget owner;
    const QString file = QString::fromStdString((dir / "tosend_res__1.tif").string());
    PreviewWindow* first = ShowInPreviewWindow(&owner, state().language, file, "Offer");
    PreviewWindow* second = ShowInPreviewWindow(&owner, state().language, file, "Price list");
    EXPECT_EQ(first, second);
    EXPECT_EQ(second->windowTitle(), "Price list");
    EXPECT_EQ(second->statusText(), "Seite 1 von 1");
    EXPECT_EQ(owner.findChildren<PreviewWindow*>().size(), 1);
}

}  // namespace
}  // namespace miravo::ui::test

#include "SendDialogTest.moc"
