#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QApplication>
#include <cstdlib>

#include "app/Paths.h"
#include "app/AppState.h"
#include "app/JobFileCheck.h"
#include "convert/ConversionRun.h"
#include "convert/FaxTiff.h"
#include "convert/JobFile.h"
#include "convert/LibraryMessages.h"
#include "tests/convert/ConvertTestSupport.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ConvertingDialog.h"
#include "ui/QtShellDialogs.h"

namespace miravo::ui::test {
namespace {

// A print job of `files` page files in a home folder of its own, where the
// document ("tosend...") is written.
class ConvertingDialogTest : public UiTest {
  protected:
    ConvertingDialogTest() : oldHome_(std::getenv("HOME") ? std::getenv("HOME") : "") {
        setenv("HOME", home_.path().c_str(), 1);
    }
    ~ConvertingDialogTest() override { setenv("HOME", oldHome_.c_str(), 1); }

    void writeJob(int files) {
        std::vector<JobPage> pages;
        for (int k = 1; k <= files; ++k) {
            GreyImage image(1728, 2292, 255);
            miravo::test::fillRect(image, 100, 100 + k, 800, 300, 0);
            const auto path = spool_ / ("job_7_" + std::to_string(k));
            miravo::test::writePgm(path, image);
            pages.push_back({FromFsPath(path), 1});
        }
        const auto job = spool_ / "Letter__ps__7";
        miravo::test::writeBytes(job, JobFileBytes(pages));
        state().job.jobFilePath = FromFsPath(job);
    }
    // The document lives in a private folder of the run in the cache.
    std::u16string base() { return state().job.documentBase; }

    miravo::test::TempDir home_;
    miravo::test::TempDir spool_;
    std::string oldHome_;
};

TEST_F(ConvertingDialogTest, ConvertsTheJobBehindItsTextsAndLeavesTheJoinedDocument) {
    writeJob(12);
    QString title, text;
    const auto seen = whenModal("id108", [&](QDialog* dialog) {
        title = dialog->windowTitle();
        text = find<QLabel>(dialog, 1051)->text();
    });
    RunConversionDialog(paths());
    EXPECT_EQ(state().job.documentPath, DocumentName(base(), 12));
    EXPECT_EQ(ToFsPath(base()).parent_path().parent_path(), home_.path() / ".cache/Miravo");
    EXPECT_TRUE(std::filesystem::exists(ToFsPath(state().job.documentPath)));
    EXPECT_EQ(state().job.pageFileCount, 12);
    if (*seen) {  // a fast machine may finish before the dialog is seen
        EXPECT_EQ(title, "Converting");
        EXPECT_EQ(text, "Converting your document, please wait...");
    }
}

TEST_F(ConvertingDialogTest, EscapeStopsTheWorkerAndTheDialogWaitsForIt) {
    writeJob(40);
    bool openAfterEscape = false;
    const auto seen = whenModal("id108", [&](QDialog* dialog) {
        QTest::keyClick(dialog, Qt::Key_Escape);
        openAfterEscape = dialog->isVisible();
    });
    RunConversionDialog(paths());
    ASSERT_TRUE(*seen);
    EXPECT_TRUE(openAfterEscape);
    // Stopped: no document, and the run's folder holds nothing.
    EXPECT_EQ(state().job.documentPath, u"");
    EXPECT_FALSE(std::filesystem::exists(ToFsPath(DocumentName(base(), 40))));
    for (const auto& entry : std::filesystem::directory_iterator(ToFsPath(base()).parent_path()))
        ADD_FAILURE() << "left behind: " << entry.path();
}

// A page file that gives no page: the user is told why, in a message, and
// no document is left to send.
TEST_F(ConvertingDialogTest, AFailedConversionTellsTheUserWhy) {
    writeJob(2);
    miravo::test::writeBytes(spool_ / "job_7_2", "not an image");
    QString told;
    const auto shown = whenModal("documentRefused", [&](QDialog* box) {
        told = static_cast<QMessageBox*>(box)->text();
        box->accept();
    });
    RunConversionDialog(paths());
    ASSERT_TRUE(*shown);
    // The printed document by its title, never the spool's page files.
    EXPECT_TRUE(told.startsWith("\"Letter\" is damaged")) << told.toStdString();
    EXPECT_FALSE(told.contains(QString::fromStdString(spool_.path().string())));
    EXPECT_EQ(state().job.documentPath, u"");
}

TEST_F(ConvertingDialogTest, NoJobFileOpensNothing) {
    state().job.jobFilePath = u"/config";
    RunConversionDialog(paths());
    EXPECT_EQ(state().job.jobFilePath, u"/config");
    EXPECT_EQ(state().job.documentPath, u"");
    EXPECT_EQ(state().job.pageFileCount, 0);
}

// A file named at start that is no job file: a document (told by its
// content, whatever its name) is printed and converted; anything else is
// refused with a message, and neither leaves a job or a document behind.
TEST_F(ConvertingDialogTest, AFileNamedAtStartIsPrintedAndConvertedOrRefused) {
    QImage page(400, 300, QImage::Format_RGB32);
    page.fill(Qt::white);
    const auto png = spool_ / "offer.pdf";
    const auto tiff = spool_ / "scan.tif";
    ASSERT_TRUE(page.save(QString::fromStdString(png.string()), "PNG"));
    ASSERT_TRUE(page.save(QString::fromStdString(tiff.string()), "TIFF"));
    const auto junk = spool_ / "junk.pdf";
    miravo::test::writeBytes(junk, "%PDF-1.4 but nothing more");
    QtShellDialogs dialogs;
    for (const auto& document : {png, tiff}) {
        SCOPED_TRACE(document);
        state().job.documentPath.clear();
        dialogs.runDocumentConversion(paths(), FromFsPath(document));
        EXPECT_EQ(CountTiffPages(ToFsPath(state().job.documentPath)), 1);
        EXPECT_TRUE(CheckJobFile(state().job.jobArgument));
    }
    state().job.documentPath.clear();
    const auto refused = whenModal("documentRefused", [](QDialog* box) { box->accept(); });
    dialogs.runDocumentConversion(paths(), FromFsPath(junk));
    EXPECT_TRUE(*refused);
    EXPECT_EQ(state().job.documentPath, u"");
    EXPECT_EQ(state().job.jobArgument, u"");
    EXPECT_TRUE(std::filesystem::exists(junk));
}

// With MIRAVO_SCREENSHOTS=<folder> (scripts/screenshots.sh), the windows a
// test meets are saved there as <name>.png (or <name>-<code>.png).
void saveScreenshot(QWidget* window, const QString& name) {
    const QString folder = qEnvironmentVariable("MIRAVO_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    const QString code = qEnvironmentVariable("MIRAVO_SCREENSHOT_LANG", "en");
    QTest::qWait(300);
    EXPECT_TRUE(window->grab().save(
        folder + "/" + (code == "en" ? name : name + "-" + code) + ".png", "PNG"));
}

// A PDF that opens only with a password, whichever way it came: the
// password is asked for, asked again when wrong, and the document is
// converted once it opens. Giving up is no failure to tell about.
TEST_F(ConvertingDialogTest, AProtectedPdfIsConvertedOnceItsPasswordIsGiven) {
    const QString code = qEnvironmentVariable("MIRAVO_SCREENSHOT_LANG", "en");
    ASSERT_EQ(LoadLanguage(state().language, paths().languageFile, code.toStdU16String()), 1);
    const auto locked = spool_ / "Contract.pdf";
    ASSERT_EQ(miravo::test::runTool("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite "
                                    "-sOwnerPassword=o -sUserPassword=Opal7 -o " +
                                    locked.string() + " " + MIRAVO_SOURCE_DIR + "/data/sample.pdf")
                  .status,
              0);
    QStringList asked;
    std::shared_ptr<bool> second;
    const auto first = whenModal("documentPassword", [&](QDialog* dialog) {
        auto* prompt = qobject_cast<QInputDialog*>(dialog);
        ASSERT_NE(prompt, nullptr);
        EXPECT_EQ(prompt->textEchoMode(), QLineEdit::Password);
        asked << prompt->labelText();
        prompt->setTextValue("opal7");
        saveScreenshot(prompt, "password-prompt");
        prompt->accept();
        second = whenModal("documentPassword", [&](QDialog* again) {
            auto* prompt = qobject_cast<QInputDialog*>(again);
            asked << prompt->labelText();
            prompt->setTextValue("Opal7");
            prompt->accept();
        });
    });
    QtShellDialogs dialogs;
    dialogs.runDocumentConversion(paths(), FromFsPath(locked));
    ASSERT_TRUE(*first);
    ASSERT_TRUE(second && *second);
    ASSERT_EQ(asked.size(), 2);
    EXPECT_TRUE(asked[0].contains("Contract.pdf")) << asked[0].toStdString();
    EXPECT_NE(asked[0], asked[1]);  // the second says the first did not open it
    EXPECT_EQ(CountTiffPages(ToFsPath(state().job.documentPath)), 3);

    // Given up: no document, and no message about a failure.
    state().job.documentPath.clear();
    const auto cancelled = whenModal("documentPassword", [](QDialog* dialog) { dialog->reject(); });
    bool refused = false;
    QTimer watch;  // ends with this test, unlike whenModal's
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (box && box->objectName() == "documentRefused") {
            refused = true;
            box->accept();
        }
    });
    watch.start();
    dialogs.runDocumentConversion(paths(), FromFsPath(locked));
    watch.stop();
    ASSERT_TRUE(*cancelled);
    EXPECT_FALSE(refused);
    EXPECT_EQ(state().job.documentPath, u"");
}

// A damaged fax TIFF: the message names the file and says what to do; what
// libtiff said stands below it as details, and nothing on the terminal.
TEST_F(ConvertingDialogTest, ADamagedFileIsToldByItsNameWithTheLibrarysWordsAsDetails) {
    const QString code = qEnvironmentVariable("MIRAVO_SCREENSHOT_LANG", "en");
    ASSERT_EQ(LoadLanguage(state().language, paths().languageFile, code.toStdU16String()), 1);
    const auto damaged = spool_ / "Fax from Anna.tif";
    miravo::test::writeDamagedFaxTiff(damaged);
    QString told, details;
    const auto shown = whenModal("documentRefused", [&](QDialog* dialog) {
        auto* box = static_cast<QMessageBox*>(dialog);
        told = box->text();
        details = box->informativeText();
        saveScreenshot(box, "document-damaged");
        box->accept();
    });
    QtShellDialogs dialogs;
    dialogs.runDocumentConversion(paths(), FromFsPath(damaged));
    ASSERT_TRUE(*shown);
    EXPECT_TRUE(told.contains("Fax from Anna.tif")) << told.toStdString();
    EXPECT_FALSE(told.contains("Fax3")) << told.toStdString();
    EXPECT_FALSE(told.contains(QString::fromStdString(spool_.path().string())));
    EXPECT_TRUE(details.contains("Fax3Decode1D")) << details.toStdString();
    EXPECT_EQ(state().job.documentPath, u"");
    EXPECT_TRUE(std::filesystem::exists(damaged));  // the user's file stays as it was
}

}  // namespace
}  // namespace miravo::ui::test
