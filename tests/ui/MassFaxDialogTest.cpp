#include <QCheckBox>
#include <QTableWidget>
#include <QComboBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdlib>
#include <iostream>

#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "contacts/ContactStore.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ContactBookDialog.h"
#include "ui/ContactBookModel.h"
#include "ui/CsvImportDialog.h"
#include "ui/Dialogs.h"
#include "ui/MassFaxDialog.h"
#include "ui/MassFaxModel.h"
#include "ui/TextIds.h"

namespace miravo::ui::test {
namespace {

using Numbers = std::vector<std::u16string>;

class MassFaxDialogTest : public UiTest {
  protected:
    ~MassFaxDialogTest() override { SetMassFaxFileChooser(nullptr); }

    std::unique_ptr<MassFaxDialog> open() {
        auto dialog = std::make_unique<MassFaxDialog>(paths());
        dialog->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        return dialog;
    }
    // Add from file answers with `file`, which holds `bytes`.
    void chooseFile(const std::filesystem::path& file, const std::string& bytes) {
        std::filesystem::create_directories(file.parent_path());
        miravo::test::writeBytes(file, bytes);
        SetMassFaxFileChooser([this, file](QWidget*, const QString& folder, const QString& filter) {
            startFolders_.push_back(folder);
            filters_.push_back(filter);
            return qstr(FromFsPath(file));
        });
    }
    std::vector<QString> startFolders_;
    std::vector<QString> filters_;
    miravo::test::TempDir files_;
};

Numbers rows(const MassFaxDialog& dialog) {
    return dialog.model()->list().rows();
}

QString position(const MassFaxDialog& dialog, int row) {
    return dialog.model()->index(row, MassFaxModel::PositionColumn).data().toString();
}

// Once the CSV import opens: sets the delimiter edit, ticks field `field`
// (1-based; 0 for none) and presses `button`.
std::shared_ptr<bool> answerImport(const QString& delimiter, int field, int button = 1) {
    return whenModal("id114", [=](QDialog* dialog) {
        find<QLineEdit>(dialog, 1084)->setText(delimiter);
        click(dialog, 1086);
        if (field > 0)
            find<QTreeWidget>(dialog, 1076)->topLevelItem(field - 1)->setCheckState(0, Qt::Checked);
        click(dialog, button);
    });
}

TEST_F(MassFaxDialogTest, OpensWithTheEarlierRecipientsAndRenumbersAfterDeletes) {
    state().job.recipients = {
        Contact::entry(u"0", u"", u"11", u""), Contact::entry(u"0", u"", u"22", u""),
        Contact::entry(u"0", u"", u"33", u""), Contact::entry(u"0", u"", u"44", u"")};
    auto dialog = open();
    ASSERT_EQ(dialog->model()->rowCount(), 4);
    EXPECT_EQ(position(*dialog, 3), "4");

    QTreeView* view = dialog->list();
    const QModelIndex second = dialog->model()->index(1, MassFaxModel::DeleteColumn);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(second).center());
    EXPECT_EQ(rows(*dialog), (Numbers{u"11", u"33", u"44"}));
    EXPECT_EQ(position(*dialog, 1), "2");
    EXPECT_EQ(position(*dialog, 2), "3");

    click(dialog.get(), 1);
    EXPECT_EQ(dialog->result(), kMassFaxAccepted);
    ASSERT_EQ(state().job.recipients.size(), 3u);
    EXPECT_EQ(state().job.recipients[2], Contact::entry(u"0", u"", u"44", u""));
}

TEST_F(MassFaxDialogTest, AddRefusesANumberDifferingOnlyInCaseAndKeepsTheEditText) {
    auto dialog = open();
    auto* edit = find<QLineEdit>(dialog.get(), 1072);
    edit->setText("+49 30 ext A");
    click(dialog.get(), 1077);
    edit->setText("+49 30 EXT a");
    click(dialog.get(), 1077);
    EXPECT_EQ(edit->text(), "+49 30 EXT a");
    edit->setText("+49 30  ext A");
    click(dialog.get(), 1077);
    EXPECT_EQ(rows(*dialog), (Numbers{u"+49 30 ext A", u"+49 30  ext A"}));
    // Enter in the number box adds too, and leaves the dialog open.
    edit->setText("+44 20 7946 0018");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(rows(*dialog).size(), 3u);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(MassFaxDialogTest, ClipboardLinesWithCrLfSkipEmptyLines) {
    QGuiApplication::clipboard()->setText("111\r\n222\r\n\r\n333\r\n");
    auto dialog = open();
    click(dialog.get(), 1083);
    EXPECT_EQ(rows(*dialog), (Numbers{u"111", u"222", u"333"}));
}

TEST_F(MassFaxDialogTest, AnUpperCaseTxtFileGoesThroughTheCsvImportAndAQuotedDelimiterStays) {
    const auto file = files_.path() / "in" / "LIST.TXT";
    chooseFile(file, "name;fax\r\n\"Doe; John\";+49 30 1111\r\nAnn;+49 30 2222\r\n");
    // The folder last used, while it exists (else the documents folder).
    const QString start = QString::fromStdString((files_.path() / "start").string());
    std::filesystem::create_directories(files_.path() / "start");
    state().settings.lastMassFileDir = u16str(start);
    auto dialog = open();
    auto imported = answerImport(";", 2);
    click(dialog.get(), 1082);
    ASSERT_TRUE(*imported);
    EXPECT_EQ(rows(*dialog), (Numbers{u"+49 30 1111", u"+49 30 2222"}));
    EXPECT_EQ(startFolders_, std::vector<QString>{start});
    EXPECT_EQ(filters_, std::vector<QString>{"Text files (*.csv *.txt)"});
    EXPECT_EQ(state().settings.lastMassFileDir, FromFsPath(file.parent_path()) + u"/");
    EXPECT_EQ(state().settings.delimiter, u";");
}

TEST_F(MassFaxDialogTest, AFolderNamedTxtGivesAPlainListAndAHeaderOnlyCsvAddsNothing) {
    chooseFile(files_.path() / "lists.txt" / "numbers.csv", "a;b\n12345\n");
    auto dialog = open();
    click(dialog.get(), 1082);
    EXPECT_EQ(rows(*dialog), (Numbers{u"a;b", u"12345"}));

    chooseFile(files_.path() / "header.csv", "name,fax\r\n");
    auto imported = answerImport(",", 2);
    click(dialog.get(), 1082);
    ASSERT_TRUE(*imported);
    EXPECT_EQ(dialog->model()->rowCount(), 2);

    chooseFile(files_.path() / "data.csv", "name,fax\r\nAnn,777\r\n");
    auto cancelled = answerImport(",", 2, 1029);
    click(dialog.get(), 1082);
    ASSERT_TRUE(*cancelled);
    EXPECT_EQ(dialog->model()->rowCount(), 2);
}

TEST_F(MassFaxDialogTest, AUtf16FileWithZeroCharactersIsRefusedWithAMessageWithoutCaption) {
    chooseFile(files_.path() / "wide.txt", std::string("\xFF\xFE"
                                                       "1\0"
                                                       "\0\0"
                                                       "\r\0\n\0",
                                                       10));
    auto dialog = open();
    QString text, title = "unset";
    auto shown = whenModal("unsupportedFile", [&](QDialog* box) {
        text = static_cast<QMessageBox*>(box)->text();
        title = box->windowTitle();
        box->accept();
    });
    click(dialog.get(), 1082);
    ASSERT_TRUE(*shown);
    EXPECT_EQ(text, "Unsupported file format");
    EXPECT_TRUE(title.isEmpty());
    EXPECT_EQ(dialog->model()->rowCount(), 0);
}

// The list keeps its numbers until the user removes them or sends: Close,
// Escape and the close box throw none away, numbers added meanwhile included.
TEST_F(MassFaxDialogTest, OkWithNoRowsEmptiesTheRecipientsWhileClosingKeepsThem) {
    state().job.recipients = {Contact::entry(u"0", u"", u"11", u"")};
    std::vector<Recipient> expected = state().job.recipients;
    const struct {
        const char* number;
        std::function<void(QDialog*)> close;
        int result;
    } ways[] = {
        {"22", [](QDialog* d) { click(d, 1029); }, kMassFaxCancelled},
        {"33", [](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }, kMassFaxEscaped},
        {"44", [](QDialog* d) { d->close(); }, kMassFaxEscaped},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.number);
        whenModal("id113", [&](QDialog* dialog) {
            find<QLineEdit>(dialog, 1072)->setText(way.number);
            click(dialog, 1077);
            way.close(dialog);
        });
        EXPECT_EQ(RunMassFaxDialog(paths(), nullptr), way.result);
        expected.push_back(Contact::entry(u"0", u"", fromUtf8(way.number), u""));
        EXPECT_EQ(state().job.recipients, expected);
    }
    const std::vector<Recipient> earlier = {Contact::entry(u"0", u"", u"11", u"")};
    state().job.recipients = earlier;

    whenModal("id113", [](QDialog* dialog) {
        auto* massFax = static_cast<MassFaxDialog*>(dialog);
        massFax->model()->remove(0);
        click(dialog, 1);
    });
    EXPECT_EQ(RunMassFaxDialog(paths(), nullptr), kMassFaxAccepted);
    EXPECT_TRUE(state().job.recipients.empty());
}

TEST_F(MassFaxDialogTest, TheContactBookAddsGroupMembersWithoutDuplicateCheckOnlyAfterSend) {
    ContactBook book;
    Contact sales = Contact::full(u"", u"", u"", u"", u"", u"Sales");
    sales.members = {u"1", u"2", u"3"};
    book.contacts = {sales, Contact::entry(u"11", u"Ann", u"4", u"")};
    ASSERT_TRUE(SaveContactBook(book, dataDir().path() / "contacts.csv"));
    state().job.recipients = {Contact::entry(u"0", u"", u"2", u"")};
    auto dialog = open();

    whenModal("id112", [](QDialog* contactBook) {
        auto* model = static_cast<ContactBookDialog*>(contactBook)->model();
        model->setData(model->index(0, 0), Qt::Checked, Qt::CheckStateRole);
        model->setData(model->index(1, 0), Qt::Checked, Qt::CheckStateRole);
        click(contactBook, 1075);
    });
    click(dialog.get(), 1081);
    EXPECT_EQ(rows(*dialog), (Numbers{u"2", u"1", u"2", u"3", u"4"}));

    whenModal("id112", [](QDialog* contactBook) { click(contactBook, 1029); });
    click(dialog.get(), 1081);
    EXPECT_EQ(dialog->model()->rowCount(), 5);
}

TEST_F(MassFaxDialogTest, AHundredThousandLineImportFillsTheList) {
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "+49 30 " + std::to_string(1000000 + i) + "\r\n";
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    auto dialog = open();
    QElapsedTimer clock;
    clock.start();
    click(dialog.get(), 1083);
    QCoreApplication::processEvents();
    std::cout << "100,000 clipboard lines into the list: " << clock.elapsed() << " ms\n";
    ASSERT_EQ(dialog->model()->rowCount(), 100000);
    EXPECT_EQ(position(*dialog, 99999), "100000");
    EXPECT_EQ(rows(*dialog).back(), u"+49 30 1099999");
}

// The CSV import on its own.
class CsvImportDialogTest : public UiTest {
  protected:
    std::unique_ptr<CsvImportDialog> open(std::u16string_view text) {
        auto dialog = std::make_unique<CsvImportDialog>(paths(), text);
        dialog->show();
        return dialog;
    }
};

QStringList fields(const CsvImportDialog& dialog) {
    QStringList texts;
    for (int i = 0; i < dialog.list()->topLevelItemCount(); ++i)
        texts << dialog.list()->topLevelItem(i)->text(0);
    return texts;
}

TEST_F(CsvImportDialogTest, SeveralNumberFieldsAreTickedAndOkGivesThemWithTheNameField) {
    state().settings.delimiter = u";";
    auto dialog = open(u"a;b;c\r\n1;2;3\r\n");
    ASSERT_EQ(fields(*dialog), (QStringList{"a", "b", "c"}));
    dialog->list()->topLevelItem(1)->setCheckState(0, Qt::Checked);
    dialog->list()->topLevelItem(2)->setCheckState(0, Qt::Checked);
    EXPECT_EQ(dialog->list()->topLevelItem(1)->checkState(0), Qt::Checked);
    dialog->nameField()->setCurrentIndex(1);  // after "(none)"
    click(dialog.get(), 1);
    EXPECT_EQ(dialog->result(), kCsvImportAccepted);
    EXPECT_EQ(dialog->field(), std::optional<std::size_t>(2));
    EXPECT_EQ(dialog->columns().numbers, (std::vector<std::size_t>{2, 3}));
    EXPECT_EQ(dialog->columns().name, std::optional<std::size_t>(1));

    auto none = open(u"a;b\r\n");
    click(none.get(), 1);
    EXPECT_EQ(none->field(), std::nullopt);
}

// A spreadsheet's semicolon file, although the last import used commas:
// found, previewed, the fax and name fields guessed, names carried along.
TEST_F(MassFaxDialogTest, ACsvFileIsPreviewedWithItsDelimiterAndItsNamesComeAlong) {
    state().settings.delimiter = u",";
    chooseFile(files_.path() / "list.csv",
               "Name;Fax work;Fax home\r\n\"Doe; John\";+49 30 1;+49 30 2 ::: +49 30 3\r\n"
               "Ann;;+49 30 4\r\n");
    auto dialog = open();
    QStringList preview, samples;
    QString nameField;
    auto imported = whenModal("id114", [&](QDialog* box) {
        auto* table = box->findChild<QTableWidget*>("preview");
        for (int r = 0; r < table->rowCount(); ++r)
            preview << table->item(r, 0)->text();
        auto* list = find<QTreeWidget>(box, 1076);
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            samples << list->topLevelItem(i)->text(1) +
                           (list->topLevelItem(i)->checkState(0) == Qt::Checked ? "+" : "");
        nameField = box->findChild<QComboBox*>("nameField")->currentText();
        click(box, 1);
    });
    click(dialog.get(), 1082);
    ASSERT_TRUE(*imported);
    EXPECT_EQ(preview, (QStringList{"Doe; John", "Ann"}));
    EXPECT_EQ(samples, (QStringList{"Doe; John; Ann", "+49 30 1+", "+49 30 2 ::: +49 30 3; +49 30 4+"}));
    EXPECT_EQ(nameField, "Name");
    EXPECT_EQ(state().settings.delimiter, u";");
    EXPECT_EQ(rows(*dialog),
              (Numbers{u"+49 30 1", u"+49 30 2", u"+49 30 3", u"+49 30 4"}));
    EXPECT_EQ(dialog->model()->list().recipients().back().name, u"Ann");
    EXPECT_EQ(dialog->model()->list().recipients().front().name, u"Doe; John");
}

TEST_F(CsvImportDialogTest, RefreshWithAnEmptyDelimiterSplitsAtCommaAndStoresIt) {
    state().settings.delimiter = u";";
    auto dialog = open(u"x,y;z\n");
    EXPECT_EQ(fields(*dialog), (QStringList{"x,y", "z"}));
    find<QLineEdit>(dialog.get(), 1084)->clear();
    click(dialog.get(), 1086);
    EXPECT_EQ(fields(*dialog), (QStringList{"x", "y;z"}));
    EXPECT_EQ(state().settings.delimiter, u",");
    find<QLineEdit>(dialog.get(), 1084)->clear();
    click(dialog.get(), 1);
    EXPECT_EQ(state().settings.delimiter, u",");
}

TEST_F(CsvImportDialogTest, ATabDelimiterOpensCheckedWithTheEditDisabled) {
    state().settings.delimiter = u"\t";  // "TAB" in the settings file
    auto dialog = open(u"name\tfax,mobile\n");
    EXPECT_TRUE(find<QCheckBox>(dialog.get(), 1088)->isChecked());
    EXPECT_FALSE(find<QLineEdit>(dialog.get(), 1084)->isEnabled());
    EXPECT_EQ(fields(*dialog), (QStringList{"name", "fax,mobile"}));

    click(dialog.get(), 1088);
    EXPECT_TRUE(find<QLineEdit>(dialog.get(), 1084)->isEnabled());
    EXPECT_EQ(state().settings.delimiter, u"\t");
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(dialog->result(), kCsvImportEscaped);
}

// The rows are checked for the default region: counted, the invalid ones
// marked, and on request the invalid ones or the repeats removed and the
// rest written in international form.
TEST_F(MassFaxDialogTest, NumbersAreCheckedCountedAndTidiedOnRequest) {
    state().settings.defaultRegion = u"DE";
    for (const char16_t* n : {u"030 12345678", u"+49 30 12345678", u"Fax office", u"089 1234567"})
        state().job.recipients.push_back(Contact::entry(u"0", u"", n, u""));
    auto dialog = open();
    auto* counts = dialog->findChild<QLabel*>("numberCounts");
    ASSERT_NE(counts, nullptr);
    EXPECT_EQ(counts->text(), qstr(GetText(state().language, text::kNumberCounts, 2, 1, 1)));
    if (const char* folder = std::getenv("MIRAVO_SCREENSHOTS"))
        dialog->grab().save(QString::fromUtf8(folder) + "/mass-fax-checked.png");
    const QModelIndex invalid = dialog->model()->index(2, MassFaxModel::NumberColumn);
    EXPECT_EQ(invalid.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    EXPECT_FALSE(invalid.data(Qt::ToolTipRole).toString().isEmpty());

    struct Step {
        const char* button;
        Numbers rows;
    } steps[] = {
        {"removeDuplicates", {u"030 12345678", u"Fax office", u"089 1234567"}},
        {"removeInvalid", {u"030 12345678", u"089 1234567"}},
        {"writeInternational", {u"+493012345678", u"+49891234567"}},
    };
    for (const Step& step : steps) {
        auto* button = dialog->findChild<QPushButton*>(step.button);
        ASSERT_NE(button, nullptr) << step.button;
        EXPECT_TRUE(button->isEnabled()) << step.button;
        button->click();
        EXPECT_EQ(rows(*dialog), step.rows) << step.button;
    }
    EXPECT_EQ(counts->text(), qstr(GetText(state().language, text::kNumberCounts, 2, 0, 0)));
    EXPECT_FALSE(dialog->findChild<QPushButton*>("removeInvalid")->isEnabled());
    click(dialog.get(), 1);
    EXPECT_EQ(state().job.recipients.size(), 2u);
    EXPECT_EQ(state().job.recipients[1].number, u"+49891234567");
}

// With MIRAVO_SCREENSHOTS=<folder> (scripts/screenshots.sh), the CSV
// import over an address book's export is saved there as csv-import.png
// (or csv-import-<code>.png).
TEST_F(CsvImportDialogTest, PreviewScreenshot) {
    const QByteArray folder = qgetenv("MIRAVO_SCREENSHOTS");
    if (folder.isEmpty())
        GTEST_SKIP() << "no MIRAVO_SCREENSHOTS folder";
    const QString code = qEnvironmentVariable("MIRAVO_SCREENSHOT_LANG", "en");
    ASSERT_EQ(LoadLanguage(state().language, paths().languageFile, code.toStdU16String()), 1);
    state().settings.delimiter = u",";
    auto dialog = open(u"Name;Company;Fax (work);Fax (home);E-mail\r\n"
                       u"Anna Berger;Praxis Berger;+49 30 1234567;+49 30 7654321;anna@example.org\r\n"
                       u"\"M\u00fcller, J\u00fcrgen\";Stadtwerke;+49 89 2180 4455 ::: +49 89 2180 4456;;\r\n"
                       u"Harbour Ltd;Harbour Ltd;+44 20 7946 0018;;office@example.org\r\n");
    dialog->resize(640, 520);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    QTest::qWait(300);
    const QString name = code == "en" ? "csv-import" : "csv-import-" + code;
    const QRect area = dialog->frameGeometry().adjusted(-8, -8, 8, 8);
    const QPixmap screen = dialog->screen()->grabWindow(0);
    EXPECT_TRUE(screen.copy(area).save(QString::fromLocal8Bit(folder) + "/" + name + ".png", "PNG"));
}

// A vanity number is no number the service takes: it counts as invalid,
// says what mends it, can be shown alone in a long list, and "Write in
// international format" turns its letters into digits.
TEST_F(MassFaxDialogTest, ANumberWithLettersIsMarkedFoundAndMended) {
    state().settings.defaultRegion = u"US";
    for (int i = 0; i < 40; ++i)
        state().job.recipients.push_back(
            Contact::entry(u"0", u"", u"+1 650 253 " + toU16(1000L + i), u""));
    state().job.recipients.insert(state().job.recipients.begin() + 17,
                                  Contact::entry(u"0", u"", u"+1-800-FLOWERS", u""));
    auto dialog = open();
    EXPECT_EQ(dialog->findChild<QLabel*>("numberCounts")->text(),
              qstr(GetText(state().language, text::kNumberCounts, 40, 1, 0)));
    const QModelIndex flowers = dialog->model()->index(17, MassFaxModel::NumberColumn);
    EXPECT_EQ(flowers.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    EXPECT_EQ(flowers.data(Qt::ToolTipRole).toString(),
              qstr(GetText(state().language, text::kNumberServiceRefuses,
                           std::u16string(u"+1-800-FLOWERS"))));

    auto* onlyInvalid = dialog->findChild<QCheckBox*>("onlyInvalid");
    ASSERT_NE(onlyInvalid, nullptr);
    auto* view = find<QTreeView>(dialog.get(), 1076);
    const auto visibleRows = [&] {
        std::vector<int> out;
        for (int i = 0; i < dialog->model()->rowCount(); ++i)
            if (!view->isRowHidden(i, QModelIndex()))
                out.push_back(i);
        return out;
    };
    onlyInvalid->setChecked(true);
    EXPECT_EQ(visibleRows(), std::vector<int>{17});
    onlyInvalid->setChecked(false);
    EXPECT_EQ(visibleRows().size(), 41u);

    dialog->findChild<QPushButton*>("writeInternational")->click();
    EXPECT_EQ(rows(*dialog)[17], u"+18003569377");
    EXPECT_EQ(dialog->findChild<QLabel*>("numberCounts")->text(),
              qstr(GetText(state().language, text::kNumberCounts, 41, 0, 0)));
}

}  // namespace
}  // namespace miravo::ui::test
