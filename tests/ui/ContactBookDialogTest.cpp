#include <filesystem>
#include <fstream>

#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTreeView>

#include "app/LanguageTable.h"
#include "contacts/ContactStore.h"
#include "contacts/VCard.h"
#include "tests/server/ServerHarness.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ContactBookDialog.h"
#include "ui/ContactBookModel.h"
#include "ui/Dialogs.h"
#include "ui/Mnemonics.h"

namespace miravo::ui::test {
namespace {

using Column = ContactBookModel::Column;

Contact single(const std::u16string& id, const std::u16string& name, const std::u16string& number,
               int state = Synced) {
    Contact c = Contact::entry(id, name, number, u"");
    c.state = state;
    return c;
}

Contact group(const std::u16string& name, std::vector<std::u16string> members) {
    Contact c = Contact::full(u"", u"", u"", u"", u"", name);
    c.members = std::move(members);
    return c;
}

class ContactBookDialogTest : public UiTest {
  protected:
    std::filesystem::path bookFile() const { return dataDir().path() / "contacts.csv"; }

    void writeBook(std::vector<Contact> records) {
        ContactBook book;
        book.contacts.assign(records.begin(), records.end());
        ASSERT_TRUE(SaveContactBook(book, bookFile()));
    }
    ContactBook savedBook() const {
        ContactBook book;
        LoadContactBook(book, bookFile());
        return book;
    }
    const Contact& record(std::size_t i) {
        return *std::next(state().contactBook.contacts.begin(), static_cast<long>(i));
    }
};

// Opens the dialog modelessly, on screen, for the clicks of a test.
std::unique_ptr<ContactBookDialog> openBook(AppPaths& paths) {
    auto dialog = std::make_unique<ContactBookDialog>(paths);
    dialog->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    return dialog;
}

void clickCell(ContactBookDialog& dialog, int row, int column) {
    QTreeView* view = dialog.list();
    const QModelIndex index = view->model()->index(row, column);
    ASSERT_TRUE(index.isValid());
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
}

QString cell(const ContactBookDialog& dialog, int row, int column, int role = Qt::DisplayRole) {
    return dialog.model()->index(row, column).data(role).toString();
}

void check(ContactBookDialog& dialog, int row) {
    ASSERT_TRUE(dialog.model()->setData(dialog.model()->index(row, Column::NumberColumn),
                                        Qt::Checked, Qt::CheckStateRole));
}

// Answers dialog 111 once it opens: types `number` and `name` (when given)
// and presses `button`; records what the dialog showed.
std::shared_ptr<bool> answerEntry(QString* shownNumber, QString* shownName, const QString& number,
                                  const QString& name, int button) {
    return whenModal("id111", [=](QDialog* dialog) {
        auto* numberEdit = find<QLineEdit>(dialog, 1072);
        auto* nameEdit = find<QLineEdit>(dialog, 1006);
        if (shownNumber)
            *shownNumber = numberEdit->text();
        if (shownName)
            *shownName = nameEdit->text();
        numberEdit->setText(number);
        nameEdit->setText(name);
        click(dialog, button);
    });
}

TEST_F(ContactBookDialogTest, DeletedRecordsAreHiddenAndEditDeleteAndSendHitTheRecordShown) {
    writeBook({single(u"11", u"Ann", u"111"), single(u"12", u"Bob", u"222", Deleted),
               single(u"13", u"Cid", u"333"), single(u"14", u"Dan", u"444")});
    auto dialog = openBook(paths());
    ASSERT_EQ(dialog->model()->rowCount(), 3);
    EXPECT_EQ(cell(*dialog, 1, Column::NumberColumn), "333");
    EXPECT_TRUE(state().contactBook.modified);  // the deletion has not been sent
    EXPECT_FALSE(find<QPushButton>(dialog.get(), 1078)->isEnabled());

    QString shownNumber, shownName;
    auto fired = answerEntry(&shownNumber, &shownName, "3330", "Cid B", 1071);
    clickCell(*dialog, 1, Column::EditColumn);
    ASSERT_TRUE(*fired);
    EXPECT_EQ(shownNumber, "333");
    EXPECT_EQ(shownName, "Cid");
    EXPECT_EQ(record(2).number, u"3330");
    EXPECT_EQ(record(2).name, u"Cid B");
    EXPECT_EQ(record(2).state, Changed);
    EXPECT_EQ(record(1).number, u"222");
    EXPECT_EQ(cell(*dialog, 1, Column::NumberColumn), "3330");
    EXPECT_TRUE(find<QPushButton>(dialog.get(), 1078)->isEnabled());

    clickCell(*dialog, 2, Column::DeleteColumn);
    ASSERT_EQ(dialog->model()->rowCount(), 2);
    EXPECT_EQ(record(3).state, Deleted);  // Dan, not the hidden Bob
    EXPECT_EQ(record(1).state, Deleted);
    EXPECT_EQ(record(0).state, Synced);

    check(*dialog, 1);
    click(dialog.get(), 1075);
    EXPECT_EQ(dialog->result(), kContactBookSent);
    ASSERT_EQ(state().job.chosenContacts.size(), 1u);
    EXPECT_EQ(state().job.chosenContacts[0].id, u"13");
    EXPECT_EQ(state().job.chosenContacts[0].number, u"3330");
}

// The search field (Ctrl+F) keeps the records whose number, name or group
// holds the text, ignoring case; a column header sorts; the list's rows
// still lead to their own records.
TEST_F(ContactBookDialogTest, SearchFiltersByNumberNameAndGroupAndHeadersSort) {
    Contact sales = group(u"Sales", {u"111"});
    sales.name = u"";
    Contact member = single(u"15", u"Eve", u"555");
    member.groupname = u"Sales";
    writeBook({single(u"11", u"Ann Berger", u"+49 30 111"), single(u"12", u"bob", u"222"),
               single(u"13", u"Cid", u"333"), member, sales});
    auto dialog = openBook(paths());
    auto* search = dialog->findChild<QLineEdit*>("contactSearch");
    ASSERT_NE(search, nullptr);
    QTest::keyClick(dialog->list(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(search->hasFocus());

    auto shownNames = [&] {
        QStringList names;
        QAbstractItemModel* shown = dialog->list()->model();
        for (int row = 0; row < shown->rowCount(); ++row)
            names << shown->index(row, Column::NameColumn).data().toString();
        return names;
    };
    const std::vector<std::pair<QString, QStringList>> cases = {
        {"", {"Ann Berger", "bob", "Cid", "Eve", "Sales"}},
        {"BERG", {"Ann Berger"}},          // name, any case
        {"30 1", {"Ann Berger"}},          // number as written
        {"sales", {"Eve", "Sales"}},       // group: its member and itself
        {"zzz", {}},
    };
    for (const auto& [typed, names] : cases) {
        search->clear();
        QTest::keyClicks(search, typed);
        EXPECT_EQ(shownNames(), names) << typed.toStdString();
    }

    // The shown row edits its own record, not the book's row of that number.
    search->clear();
    QTest::keyClicks(search, "cid");
    auto fired = answerEntry(nullptr, nullptr, "3330", "Cid", 1071);
    clickCell(*dialog, 0, Column::EditColumn);
    ASSERT_TRUE(*fired);
    EXPECT_EQ(record(2).number, u"3330");

    search->clear();
    QTest::mouseClick(dialog->list()->header()->viewport(), Qt::LeftButton, {},
                      QPoint(dialog->list()->header()->sectionViewportPosition(Column::NameColumn) + 5, 5));
    const QStringList sorted = shownNames();
    EXPECT_EQ(sorted, (QStringList{"Ann Berger", "bob", "Cid", "Eve", "Sales"}));
    QTest::mouseClick(dialog->list()->header()->viewport(), Qt::LeftButton, {},
                      QPoint(dialog->list()->header()->sectionViewportPosition(Column::NameColumn) + 5, 5));
    EXPECT_EQ(shownNames().front(), "Sales");
}

TEST_F(ContactBookDialogTest, DeletingANewContactErasesItWhileASynchronisedOneStaysUntilSync) {
    writeBook({single(u"0", u"New", u"100", New), single(u"12", u"Old", u"200")});
    auto dialog = openBook(paths());
    clickCell(*dialog, 0, Column::DeleteColumn);
    ASSERT_EQ(state().contactBook.contacts.size(), 1u);
    EXPECT_EQ(record(0).name, u"Old");
    clickCell(*dialog, 0, Column::DeleteColumn);
    EXPECT_EQ(dialog->model()->rowCount(), 0);
    ASSERT_EQ(state().contactBook.contacts.size(), 1u);
    EXPECT_EQ(record(0).state, Deleted);

    click(dialog.get(), 1078);  // Apply
    EXPECT_FALSE(find<QPushButton>(dialog.get(), 1078)->isEnabled());
    EXPECT_EQ(savedBook().contacts, state().contactBook.contacts);
}

TEST_F(ContactBookDialogTest, CloseInTheEntryChangesNothingAndEditingANewContactKeepsIdZero) {
    writeBook({single(u"0", u"New", u"100", New)});
    auto dialog = openBook(paths());
    EXPECT_TRUE(state().contactBook.modified);

    auto closed = answerEntry(nullptr, nullptr, "999", "Other", 1029);
    clickCell(*dialog, 0, Column::EditColumn);
    ASSERT_TRUE(*closed);
    EXPECT_EQ(record(0), single(u"0", u"New", u"100", New));
    EXPECT_FALSE(find<QPushButton>(dialog.get(), 1078)->isEnabled());

    auto added = answerEntry(nullptr, nullptr, "101", "Newer", 1071);
    clickCell(*dialog, 0, Column::EditColumn);
    ASSERT_TRUE(*added);
    EXPECT_EQ(record(0).state, Changed);
    EXPECT_EQ(record(0).id, u"0");
    EXPECT_EQ(record(0).number, u"101");
}

TEST_F(ContactBookDialogTest, ACommaInANameIsRefusedWithAMessageAndTheEntryStaysOpen) {
    writeBook({single(u"11", u"Ann", u"111")});
    auto dialog = openBook(paths());
    QString message;
    bool stayedOpen = false;
    auto fired = whenModal("id111", [&](QDialog* entry) {
        find<QLineEdit>(entry, 1072)->setText("555");
        find<QLineEdit>(entry, 1006)->setText("Smith, John");
        whenModal("fieldRefused", [&](QDialog* box) {
            message = static_cast<QMessageBox*>(box)->text();
            box->accept();
        });
        click(entry, 1071);
        stayedOpen = entry->isVisible();
        find<QLineEdit>(entry, 1006)->setText("Smith John");
        click(entry, 1071);
    });
    click(dialog.get(), 1077);
    ASSERT_TRUE(*fired);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(message.contains("comma"));
    ASSERT_EQ(state().contactBook.contacts.size(), 2u);
    EXPECT_EQ(record(1).name, u"Smith John");
    EXPECT_EQ(record(1).id, u"0");
    EXPECT_EQ(record(1).state, New);
    EXPECT_EQ(dialog->model()->rowCount(), 2);
}

TEST_F(ContactBookDialogTest, GroupRowsShowTheirCountWithoutIconsAndIgnoreEditAndDelete) {
    writeBook({group(u"Sales", {u"1", u"2"}), single(u"11", u"Ann", u"111")});
    auto dialog = openBook(paths());
    EXPECT_EQ(cell(*dialog, 0, Column::NumberColumn), "Group (members: 2)");
    EXPECT_EQ(cell(*dialog, 0, Column::NameColumn), "Sales");
    EXPECT_TRUE(dialog->model()->index(0, Column::EditColumn).data(Qt::DecorationRole).isNull());
    EXPECT_FALSE(dialog->model()->index(1, Column::EditColumn).data(Qt::DecorationRole).isNull());

    auto opened = whenModal(
        "id111", [](QDialog* entry) { entry->reject(); }, 300);
    clickCell(*dialog, 0, Column::EditColumn);
    clickCell(*dialog, 0, Column::DeleteColumn);
    QTest::qWait(350);
    EXPECT_FALSE(*opened);
    EXPECT_EQ(dialog->model()->rowCount(), 2);
    EXPECT_EQ(state().contactBook.contacts.front(), group(u"Sales", {u"1", u"2"}));
    EXPECT_FALSE(find<QPushButton>(dialog.get(), 1078)->isEnabled());
}

TEST_F(ContactBookDialogTest, SendHandsBackTheCheckedRowsWithGroupsBracketed) {
    writeBook({group(u"Sales", {u"1", u"2"}), single(u"11", u"Ann", u"111")});
    state().job.chosenContacts = {single(u"9", u"Earlier", u"999")};
    whenModal("id112", [](QDialog* dialog) { click(dialog, 1075); });
    EXPECT_EQ(RunContactBookDialog(paths(), nullptr), kContactBookSent);
    EXPECT_TRUE(state().job.chosenContacts.empty());

    whenModal("id112", [](QDialog* dialog) {
        check(*static_cast<ContactBookDialog*>(dialog), 0);
        click(dialog, 1075);
    });
    EXPECT_EQ(RunContactBookDialog(paths(), nullptr), kContactBookSent);
    ASSERT_EQ(state().job.chosenContacts.size(), 1u);
    const Contact& chosen = state().job.chosenContacts[0];
    EXPECT_EQ(chosen.number, u"[Sales]");
    EXPECT_EQ(chosen.groupname, u"Sales");
    EXPECT_EQ(chosen.members, (std::vector<std::u16string>{u"1", u"2"}));
}

TEST_F(ContactBookDialogTest, AContactAddedThenClosedWithoutApplyIsGoneAtTheNextOpening) {
    writeBook({single(u"11", u"Ann", u"111")});
    whenModal("id112", [](QDialog* dialog) {
        answerEntry(nullptr, nullptr, "222", "Bob", 1071);
        click(dialog, 1077);
        EXPECT_EQ(static_cast<ContactBookDialog*>(dialog)->model()->rowCount(), 2);
        click(dialog, 1029);
    });
    EXPECT_EQ(RunContactBookDialog(paths(), nullptr), kContactBookClosed);
    EXPECT_EQ(state().contactBook.contacts.size(), 2u);

    whenModal("id112", [](QDialog* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    EXPECT_EQ(RunContactBookDialog(paths(), nullptr), kContactBookEscaped);
    ASSERT_EQ(state().contactBook.contacts.size(), 1u);
    EXPECT_EQ(record(0).name, u"Ann");
    EXPECT_FALSE(state().contactBook.modified);
}

// A contacts.csv that did not read whole is kept aside by the next save;
// the user is told where, once.
TEST_F(ContactBookDialogTest, ApplyOverADamagedFileTellsOnceWhereTheOldFileWasKept) {
    writeBook({single(u"12", u"Old", u"200")});
    std::ofstream(bookFile(), std::ios::binary | std::ios::app)
        << std::string("j\0u\0n\0k\0\r\0\n\0", 12);  // a line that makes no record
    auto dialog = openBook(paths());
    QString told;
    const auto first = whenModal("keptAside", [&](QDialog* box) {
        told = static_cast<QMessageBox*>(box)->text();
        box->accept();
    });
    answerEntry(nullptr, nullptr, "+49 40 5550100", "Harbour office", 1071);
    click(dialog.get(), 1077);
    click(dialog.get(), 1078);  // Apply
    ASSERT_TRUE(waitFor([&] { return *first; }));
    std::filesystem::path kept;
    for (const auto& entry : std::filesystem::directory_iterator(dataDir().path()))
        if (entry.path().filename().string().starts_with("contacts.csv.unreadable-"))
            kept = entry.path();
    ASSERT_FALSE(kept.empty());
    EXPECT_TRUE(told.contains(QString::fromStdString(kept.string()))) << told.toStdString();
    EXPECT_FALSE(told.contains("%s"));
    EXPECT_EQ(savedBook().contacts, state().contactBook.contacts);

    const auto second = whenModal("keptAside", [](QDialog* box) { box->accept(); }, 1500);
    answerEntry(nullptr, nullptr, "+49 40 5550101", "Quay office", 1071);
    click(dialog.get(), 1077);
    click(dialog.get(), 1078);
    QTest::qWait(1600);
    EXPECT_FALSE(*second);
}

TEST_F(ContactBookDialogTest, AnEmptyBookIsFetchedOnOpeningAndSyncSendsANewContact) {
    server::test::ServerProcess server({"--quiet"});
    ASSERT_TRUE(server.start()) << server.output();
    state().settings = server::test::transportSettings(server);
    state().settings.userName = u"demo@miravo.test";
    state().settings.password = u"demo";

    auto dialog = openBook(paths());  // no contacts.csv yet
    ASSERT_TRUE(waitFor([&] { return dialog->model()->rowCount() == 3; }));
    EXPECT_EQ(cell(*dialog, 0, Column::NumberColumn), "Group (members: 2)");
    EXPECT_EQ(cell(*dialog, 0, Column::NameColumn), "Sales");
    EXPECT_EQ(cell(*dialog, 1, Column::NameColumn), "Anna Berger");
    EXPECT_EQ(savedBook().contacts.size(), 3u);

    answerEntry(nullptr, nullptr, "+49 40 5550100", "Harbour office", 1071);
    click(dialog.get(), 1077);
    ASSERT_TRUE(find<QPushButton>(dialog.get(), 1078)->isEnabled());
    click(dialog.get(), 1079);  // an update: the book holds a new contact
    ASSERT_EQ(dialog->model()->rowCount(), 4);
    EXPECT_EQ(cell(*dialog, 3, Column::NameColumn), "Harbour office");
    EXPECT_EQ(record(3).state, Synced);
    EXPECT_NE(record(3).id, u"0");
    EXPECT_FALSE(find<QPushButton>(dialog.get(), 1078)->isEnabled());
    EXPECT_EQ(savedBook().contacts, state().contactBook.contacts);
    EXPECT_FALSE(state().job.workerTask);
}

// A vCard file comes in as new contacts that Apply saves; the user is told
// the counts and which numbers to check; the book goes out again whole.
TEST_F(ContactBookDialogTest, ImportAndExportVCards) {
    writeBook({single(u"12", u"Old", u"200")});
    const auto file = dataDir().path() / "phone.vcf";
    std::ofstream(file, std::ios::binary)
        << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Berger\r\nTEL;TYPE=WORK,FAX:+49 30 222\r\n"
           "CATEGORIES:Praxen\r\nEND:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nFN:Karl\r\n"
           "TEL:+49 221 99\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:Nobody\r\nEND:VCARD\r\n";
    auto dialog = openBook(paths());
    ASSERT_TRUE(dialog->findChild<QPushButton*>("importContacts"));
    EXPECT_EQ(WithoutMnemonic(dialog->findChild<QPushButton*>("exportContacts")->text()),
              QString::fromUtf8("Export…"));
    QString told;
    const auto imported = whenModal("imported", [&](QDialog* box) {
        told = static_cast<QMessageBox*>(box)->text();
        box->accept();
    });
    dialog->importContacts(QString::fromStdString(file.string()));
    ASSERT_TRUE(*imported);
    EXPECT_TRUE(told.contains("imported: 2")) << told.toStdString();
    EXPECT_TRUE(told.contains("without a fax number: 1")) << told.toStdString();
    EXPECT_TRUE(told.contains("Karl")) << told.toStdString();
    EXPECT_FALSE(told.contains("Anna")) << told.toStdString();
    EXPECT_EQ(dialog->model()->rowCount(), 4);  // the group, Old, Anna, Karl
    EXPECT_EQ(record(3).state, New);
    EXPECT_TRUE(find<QPushButton>(dialog.get(), 1078)->isEnabled());
    click(dialog.get(), 1078);  // Apply
    EXPECT_EQ(savedBook().contacts, state().contactBook.contacts);

    const auto exported = whenModal("exported", [](QDialog* box) { box->accept(); });
    dialog->exportContacts(QString::fromStdString((dataDir().path() / "out.vcf").string()));
    ASSERT_TRUE(*exported);
    EXPECT_EQ(ReadVCards(miravo::test::readBytes(dataDir().path() / "out.vcf")).contacts.size(), 3u);
}

// With MIRAVO_SCREENSHOTS=<folder> (scripts/screenshots.sh), the contact
// book just after a vCard import, with what the user is told, is saved
// there as contact-book-import.png (or contact-book-import-<code>.png).
TEST_F(ContactBookDialogTest, ImportScreenshot) {
    const QByteArray folder = qgetenv("MIRAVO_SCREENSHOTS");
    if (folder.isEmpty())
        GTEST_SKIP() << "no MIRAVO_SCREENSHOTS folder";
    const QString code = qEnvironmentVariable("MIRAVO_SCREENSHOT_LANG", "en");
    ASSERT_EQ(LoadLanguage(state().language, paths().languageFile, code.toStdU16String()), 1);
    writeBook({single(u"12", u"Finanzamt Mitte", u"+49 30 9028 1100"),
               single(u"13", u"Harbour Ltd", u"+44 20 7946 0018")});
    const auto file = dataDir().path() / "phone.vcf";
    std::ofstream(file, std::ios::binary)
        << "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=\r\n"
           "=C3=BCrgen;;;\r\nTEL;WORK;FAX:+49 89 2180 4455\r\nEND:VCARD\r\n"
           "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Berger\r\nTEL;TYPE=WORK,FAX:+49 30 1234567\r\n"
           "TEL;TYPE=CELL:+49 170 5550101\r\nCATEGORIES:Praxen\r\nEND:VCARD\r\n"
           "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Sales North\r\nTEL;VALUE=uri:tel:+49-40-3861-2200\r\n"
           "END:VCARD\r\n"
           "BEGIN:VCARD\r\r\nFN:Weber\\, Karl\r\r\nTEL;TYPE=work,fax:+49 221 4711\r\r\n"
           "TEL;TYPE=home,fax:+49 221 4712\r\r\nCATEGORIES:myContacts,Kunden\r\r\nEND:VCARD\r\r\n"
           "BEGIN:VCARD\nFN:Landesamt f\xC3\xBCr Umwelt, Naturschutz und Geologie Mecklenburg-Vorpommern\n"
           "item1.TEL:+49 385 588 0\nitem1.X-ABLabel:Fax\nEND:VCARD\n"
           "BEGIN:VCARD\nFN:Lena Sommer\nTEL;TYPE=CELL:+49 171 2233445\nEND:VCARD\n"
           "BEGIN:VCARD\nFN:Empfang\nEMAIL:info@example.org\nEND:VCARD";
    ContactBookDialog dialog(paths());
    dialog.resize(620, 460);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QString name = code == "en" ? "contact-book-import" : "contact-book-import-" + code;
    const auto shot = whenModal("imported", [&](QDialog* box) {
        QTest::qWait(300);
        const QRect area = dialog.frameGeometry().united(box->frameGeometry()).adjusted(-8, -8, 8, 8);
        const QPixmap screen = dialog.screen()->grabWindow(0);
        EXPECT_TRUE(screen.copy(area).save(QString::fromLocal8Bit(folder) + "/" + name + ".png", "PNG"));
        box->accept();
    });
    dialog.importContacts(QString::fromStdString(file.string()));
    EXPECT_TRUE(*shot);
}

}  // namespace
}  // namespace miravo::ui::test
