#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <map>
#include <memory>

#include "app/LanguageTable.h"
#include "app/PasswordStore.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "app/TextIds.h"
#include "tests/server/ServerHarness.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Dialogs.h"
#include "ui/Mnemonics.h"
#include "ui/OptionsDialog.h"
#include "ui/QtTranslations.h"

namespace miravo::ui::test {
namespace {

using server::test::kDemoLogin;
using server::test::kDemoPassword;
using server::test::ServerProcess;

class OptionsDialogTest : public UiTest {
  protected:
    // Opens Options, lets `act` work on it, and returns the dialog's result.
    int runOptions(std::function<void(QDialog*)> act) {
        fired_ = whenModal("id106", std::move(act));
        const int result = RunOptionsDialog(paths());
        EXPECT_TRUE(*fired_);
        return result;
    }

    static void chooseLanguage(QDialog* dialog, const QString& name) {
        auto* list = find<QComboBox>(dialog, 1028);
        const int item = list->findText(name);
        ASSERT_GE(item, 0) << name.toStdString();
        list->setCurrentIndex(item);
    }

    void useServer(const ServerProcess& server) {
        const AppSettings s = server::test::transportSettings(server);
        state().settings.serviceHost = s.serviceHost;
        state().settings.objectPath = s.objectPath;
        state().settings.caFile = s.caFile;
    }

    // Presses Check with the boxes set to user and password; the message shown.
    QString check(QDialog* dialog, const QString& user, const QString& password) {
        find<QLineEdit>(dialog, 1006)->setText(user);
        find<QLineEdit>(dialog, 1007)->setText(password);
        QString message, caption;
        const auto shown = whenModal("checkMessage", [&](QDialog* box) {
            message = static_cast<QMessageBox*>(box)->text();
            caption = box->windowTitle();
            box->accept();
        });
        click(dialog, 1023);
        EXPECT_TRUE(*shown);
        EXPECT_EQ(caption, "Miravo");
        return message;
    }

    QString text(int id) { return qstr(GetText(state().language, id)); }

  private:
    std::shared_ptr<bool> fired_;
};

TEST_F(OptionsDialogTest, SaysWhereTheSavedPasswordIsKept) {
    for (const bool inKeyring : {true, false}) {
        state().settings.savePassword = true;
        state().settings.passwordInKeyring = inKeyring;
        QString shown;
        bool hiddenWhenNotSaved = false;
        runOptions([&](QDialog* dialog) {
            auto* place = dialog->findChild<QLabel*>("passwordPlace");
            shown = place->isVisible() ? place->text() : QString();
            click(dialog, 1005);  // "Save password" off: nothing is kept
            hiddenWhenNotSaved = !place->isVisible();
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        EXPECT_EQ(shown, text(inKeyring ? miravo::text::kKeptInKeyring
                                         : miravo::text::kKeptInSettingsFile));
        EXPECT_TRUE(hiddenWhenNotSaved);
    }
}

// A keyring in memory: `open` false stands for one that would first have to
// start, be made or be unlocked (its own window would come up).
class KeyringInMemory : public PasswordStore {
  public:
    bool open = true;
    int writes = 0;
    std::map<std::u16string, std::u16string> entries;
    bool openWithoutPrompt() override { return open; }
    Result read(const std::u16string& host, const std::u16string& user,
                std::u16string& password) override {
        const auto it = entries.find(host + u"|" + user);
        if (it == entries.end())
            return Result::NotFound;
        password = it->second;
        return Result::Done;
    }
    Result write(const std::u16string& host, const std::u16string& user,
                 const std::u16string& password) override {
        ++writes;
        entries[host + u"|" + user] = password;
        return Result::Done;
    }
    Result remove(const std::u16string& host, const std::u16string& user) override {
        return entries.erase(host + u"|" + user) ? Result::Done : Result::NotFound;
    }
};

// "Save password" ticked: Options names the place the password will really
// have, and it is there when Options is confirmed, not only at exit; a
// keyring that is not open is never used unasked.
TEST_F(OptionsDialogTest, TheSavedPasswordIsWhereOptionsSaysOnceConfirmed) {
    const struct {
        bool open;
        bool confirm;
        int says;
        bool inKeyring;
    } cases[] = {
        {true, true, miravo::text::kGoesToKeyringOnConfirm, true},
        {true, false, miravo::text::kGoesToKeyringOnConfirm, false},
        {false, true, miravo::text::kKeptInFileKeyringClosed, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.open) + " " + std::to_string(c.confirm));
        KeyringInMemory keyring;
        keyring.open = c.open;
        paths().passwords = &keyring;
        paths().settingsPath = FromFsPath(dataDir().path() / "app_config.ini");
        state().settings.serviceHost = u"fax.example";
        state().settings.userName = u"anna@example.test";
        state().settings.password = u"s3cret";
        state().settings.savePassword = false;
        state().settings.passwordInKeyring = false;
        state().settings.keyringMoveAsked = false;
        QString shown;
        runOptions([&](QDialog* dialog) {
            click(dialog, 1005);  // "Save password" on
            shown = dialog->findChild<QLabel*>("passwordPlace")->text();
            if (c.confirm)
                click(dialog, 1029);
            else
                QTest::keyClick(dialog, Qt::Key_Escape);
        });
        paths().passwords = nullptr;
        EXPECT_EQ(shown, text(c.says));
        EXPECT_EQ(state().settings.passwordInKeyring, c.inKeyring);
        EXPECT_EQ(keyring.entries.count(u"fax.example|anna@example.test") == 1, c.inKeyring);
        if (!c.open) {
            EXPECT_EQ(keyring.writes, 0) << "a closed keyring is left alone";
        }
    }
}

// Cancel, Escape and the close box give back every choice the dialog
// offers, the conversion method included; a document converted again with
// another method meanwhile is converted back.
TEST_F(OptionsDialogTest, CancelRestoresEveryControl) {
    state().settings.serviceHost = u"127.0.0.1:1";  // Check gets no answer
    state().settings.userName = u"anna@example.test";
    state().settings.password = u"old";
    state().settings.savePassword = false;
    state().settings.dithering = false;
    state().settings.threshold = true;
    state().settings.defaultRegion = u"DE";
    const AppSettings before = state().settings;
    // What each control shows, read from the dialog itself.
    const auto shown = [this](QDialog* dialog) {
        return QStringList{find<QLineEdit>(dialog, 1006)->text(),
                           find<QLineEdit>(dialog, 1007)->text(),
                           QString::number(find<QCheckBox>(dialog, 1005)->isChecked()),
                           QString::number(find<QCheckBox>(dialog, 1025)->isChecked()),
                           QString::number(find<QRadioButton>(dialog, 1019)->isChecked()),
                           QString::number(find<QRadioButton>(dialog, 1020)->isChecked()),
                           find<QComboBox>(dialog, 1028)->currentText(),
                           dialog->findChild<QComboBox*>("defaultRegion")->currentText()};
    };
    enum class Way { Escape, CancelButton, CloseBox };
    QStringList atFirst;
    runOptions([&](QDialog* dialog) {
        atFirst = shown(dialog);
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    for (const Way way : {Way::Escape, Way::CancelButton, Way::CloseBox}) {
        SCOPED_TRACE(int(way));
        bool hiddenAtFirst = false, shownAfterToggle = false;
        QStringList changed;
        const int result = runOptions([&](QDialog* dialog) {
            auto* password = find<QLineEdit>(dialog, 1007);
            hiddenAtFirst = password->echoMode() == QLineEdit::Password;
            click(dialog, 1025);
            shownAfterToggle = password->echoMode() == QLineEdit::Normal;
            // A mistyped password tried with Check is not kept either.
            check(dialog, "anna@example.test", "mistyped");
            find<QLineEdit>(dialog, 1006)->setText("other@example.test");
            click(dialog, 1005);
            click(dialog, 1019);
            chooseLanguage(dialog, "Deutsch");
            auto* region = dialog->findChild<QComboBox*>("defaultRegion");
            region->setCurrentIndex(region->findData("FR"));
            changed = shown(dialog);
            switch (way) {
                case Way::Escape:
                    QTest::keyClick(dialog, Qt::Key_Escape);
                    break;
                case Way::CancelButton:
                    click(dialog, 2);
                    break;
                case Way::CloseBox:
                    dialog->close();
                    break;
            }
        });
        EXPECT_EQ(result, kOptionsCancelled);
        EXPECT_TRUE(hiddenAtFirst);
        EXPECT_TRUE(shownAfterToggle);
        for (int i = 0; i < atFirst.size(); ++i)
            EXPECT_NE(changed[i], atFirst[i]) << "control " << i << " was not changed";
        const AppSettings& after = state().settings;
        EXPECT_EQ(after.userName, before.userName);
        EXPECT_EQ(after.password, before.password);
        EXPECT_EQ(after.savePassword, before.savePassword);
        EXPECT_EQ(after.showPassword, before.showPassword);
        EXPECT_EQ(after.dithering, before.dithering);
        EXPECT_EQ(after.threshold, before.threshold);
        EXPECT_EQ(after.defaultRegion, before.defaultRegion);
        EXPECT_EQ(paths().languageCode, u"en");
        EXPECT_EQ(LanguageCode(state().language), u"en");
        // Opened again, the dialog shows what it showed at first.
        runOptions([&](QDialog* dialog) {
            EXPECT_EQ(shown(dialog), atFirst);
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
    }
}

TEST_F(OptionsDialogTest, CloseTakesOverCredentialsAndSwitchesLanguage) {
    const int result = runOptions([&](QDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Options");
        find<QLineEdit>(dialog, 1006)->setText("bert@example.test");
        find<QLineEdit>(dialog, 1007)->setText("new secret");
        chooseLanguage(dialog, "Deutsch");
        click(dialog, 1029);
    });
    EXPECT_EQ(result, kOptionsClosed);
    EXPECT_EQ(state().settings.userName, u"bert@example.test");
    EXPECT_EQ(state().settings.password, u"new secret");
    EXPECT_EQ(paths().languageCode, u"de");
    ASSERT_EQ(LanguageCode(state().language), u"de");

    // Opened again, it speaks German and shows German as the language.
    QString title, check, language;
    QString regionLabel, usRegion;
    runOptions([&](QDialog* dialog) {
        title = dialog->windowTitle();
        check = WithoutMnemonic(find<QPushButton>(dialog, 1023)->text());
        language = find<QComboBox>(dialog, 1028)->currentText();
        if (const char* folder = std::getenv("MIRAVO_SCREENSHOTS"))
            dialog->grab().save(QString::fromUtf8(folder) + "/options-region-de.png");
        // The default region of number checking is chosen here too.
        regionLabel = WithoutMnemonic(
            dialog->findChild<QLabel*>("defaultRegionLabel")->text());
        auto* region = dialog->findChild<QComboBox*>("defaultRegion");
        usRegion = region->itemText(region->findData("US"));
        region->setCurrentIndex(region->findData("FR"));
        click(dialog, 1029);
    });
    EXPECT_EQ(regionLabel, text(331));
    // No English region names in a German dialog.
    EXPECT_TRUE(usRegion.startsWith("US")) << usRegion.toStdString();
    EXPECT_FALSE(usRegion.contains("United States")) << usRegion.toStdString();
    EXPECT_EQ(state().settings.defaultRegion, u"FR");
    EXPECT_EQ(title, text(18));
    EXPECT_NE(title, "Options");
    EXPECT_EQ(check, text(26));
    EXPECT_EQ(language, "Deutsch");
}

// Qt's own texts (standard buttons, a text field's context menu, the file
// dialog) change with the language chosen in Options, and back.
TEST_F(OptionsDialogTest, QtsOwnTextsFollowTheChosenLanguage) {
    struct Row {
        const char* language;
        const char* cancel;
        const char* undo;
    };
    const Row rows[] = {{"Deutsch", "Abbrechen", "Rückgängig"},
                        {"English", "Cancel", "Undo"}};
    for (const Row& row : rows) {
        runOptions([&](QDialog* dialog) {
            chooseLanguage(dialog, QString::fromUtf8(row.language));
            click(dialog, 1029);
        });
        QMessageBox box(QMessageBox::Question, "Miravo", "?", QMessageBox::Ok | QMessageBox::Cancel);
        EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QString::fromUtf8(row.cancel))
            << row.language;
        QLineEdit field;
        std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        EXPECT_TRUE(WithoutMnemonic(menu->actions().value(0)->text())
                        .startsWith(QString::fromUtf8(row.undo)))
            << row.language << ": " << menu->actions().value(0)->text().toStdString();
    }
}

TEST_F(OptionsDialogTest, MethodClickConvertsTheArgumentAgainEvenWhenAlreadySelected) {
    // Started with "/config": the argument is copied back, but names no job file.
    state().job.jobArgument = u"/config";
    state().job.documentPath = u"/tmp/doc_res__2.tif";
    runOptions([&](QDialog* dialog) {
        click(dialog, 1020);  // already selected
        EXPECT_EQ(state().job.jobFilePath, u"/config");
        state().job.jobFilePath = u"again";
        click(dialog, 1019);
        EXPECT_EQ(state().job.jobFilePath, u"/config");
        click(dialog, 1029);
    });
    EXPECT_TRUE(state().settings.dithering);
    EXPECT_FALSE(state().settings.threshold);

    // Without an argument the document stays.
    state().job.jobArgument.clear();
    state().job.documentPath = u"/tmp/doc_res__2.tif";
    runOptions([&](QDialog* dialog) {
        click(dialog, 1020);
        click(dialog, 1029);
    });
    EXPECT_EQ(state().job.documentPath, u"/tmp/doc_res__2.tif");
    EXPECT_TRUE(state().settings.threshold);

    // The third entry: automatic, and only it.
    runOptions([&](QDialog* dialog) {
        EXPECT_FALSE(find<QRadioButton>(dialog, 1096)->isChecked());
        click(dialog, 1096);
        EXPECT_FALSE(find<QRadioButton>(dialog, 1020)->isChecked());
        click(dialog, 1029);
    });
    EXPECT_EQ(MethodOf(state().settings), ConversionMethod::Automatic);
    EXPECT_FALSE(state().settings.threshold || state().settings.dithering);
    runOptions([&](QDialog* dialog) {
        EXPECT_TRUE(find<QRadioButton>(dialog, 1096)->isChecked());
        dialog->close();
    });
}

TEST_F(OptionsDialogTest, CheckWordsTheServiceVerdictAndSendsNoNumbersForNoRecipients) {
    miravo::test::TempDir log;
    ServerProcess server({"--log-requests", log.path().string()});
    ASSERT_TRUE(server.start());
    useServer(server);
    state().job.documentPath = u"/tmp/doc_res__4.tif";
    ASSERT_TRUE(state().job.recipients.empty());

    QString wrong, right, untrusted;
    const int result = runOptions([&](QDialog* dialog) {
        wrong = check(dialog, QString::fromStdString(kDemoLogin), "wrong");
        right = check(dialog, QString::fromStdString(kDemoLogin),
                      QString::fromStdString(kDemoPassword));
        // Without the service's CA its certificate is not trusted: said so.
        const std::u16string caFile = state().settings.caFile;
        state().settings.caFile.clear();
        untrusted = check(dialog, QString::fromStdString(kDemoLogin),
                          QString::fromStdString(kDemoPassword));
        state().settings.caFile = caFile;
        find<QLineEdit>(dialog, 1007)->setText("typed, never checked");
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(result, kOptionsCancelled);
    EXPECT_EQ(wrong, text(84));
    EXPECT_EQ(right, qstr(GetText(state().language, miravo::text::kCheckAccepted,
                                  state().settings.serviceHost)));
    EXPECT_EQ(untrusted, qstr(GetText(state().language, miravo::text::kUntrustedCertificate,
                                      state().settings.serviceHost)));
    // Cancel takes nothing over, not even what Check tried.
    EXPECT_TRUE(state().settings.password.empty());
    EXPECT_EQ(state().job.documentPath, u"/tmp/doc_res__4.tif");

    const std::string body = miravo::test::readBytes(log.path() / "000002.body");
    EXPECT_NE(body.find("name=\"action\"\r\n\r\nauthentication\r\n"), std::string::npos);
    EXPECT_NE(body.find("name=\"pagescount\"\r\n\r\n1\r\n"), std::string::npos);
    EXPECT_EQ(body.find("numbers["), std::string::npos);
}

TEST_F(OptionsDialogTest, CheckWithoutAnAnswerDoesNotBlameTheCredentials) {
    ServerProcess server({"--fault", "close,action=authentication"});
    ASSERT_TRUE(server.start());
    useServer(server);
    QString message;
    runOptions([&](QDialog* dialog) {
        message = check(dialog, QString::fromStdString(kDemoLogin), "demo");
        dialog->close();
    });
    EXPECT_EQ(message, text(999));
    EXPECT_EQ(state().job.send.errorCode, 999);
}

// The window keeps handling events while Check waits for the service.
TEST_F(OptionsDialogTest, CheckWaitsForTheServiceWithoutFreezingTheWindow) {
    ServerProcess server({"--fault", "delay:600,action=authentication"});
    ASSERT_TRUE(server.start());
    useServer(server);
    int ticksWhileChecking = 0;
    QString message;
    runOptions([&](QDialog* dialog) {
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (!dialog->isEnabled())
                ++ticksWhileChecking;
        });
        ticker.start(10);
        message = check(dialog, QString::fromStdString(kDemoLogin), "demo");
        EXPECT_TRUE(dialog->isEnabled());
        dialog->close();
    });
    EXPECT_GT(ticksWhileChecking, 0);
    EXPECT_EQ(message, qstr(GetText(state().language, miravo::text::kCheckAccepted,
                                    state().settings.serviceHost)));
}

TEST_F(OptionsDialogTest, LinkWithoutABrowserSaysSoAndGivesTheAddress) {
    const AddressOpener previous = SetAddressOpener([](const QUrl&) { return false; });
    state().settings.subscribe = u"https://127.0.0.1:8443/signup";
    QString said;
    runOptions([&](QDialog* dialog) {
        const auto told = whenModal("noBrowser", [&](QDialog* box) {
            said = static_cast<QMessageBox*>(box)->text();
            box->accept();
        });
        QTest::mouseClick(find<QLabel>(dialog, 1026), Qt::LeftButton);
        EXPECT_TRUE(*told);
        dialog->close();
    });
    SetAddressOpener(previous);
    EXPECT_EQ(said, qstr(GetText(state().language, 227, u"https://127.0.0.1:8443/signup")));
}

TEST_F(OptionsDialogTest, LinkTurnsToTheClickedColourForTheRestOfTheRun) {
    ForgetSignUpLinkClicked();
    std::vector<QUrl> opened;
    const AddressOpener previous =
        SetAddressOpener([&](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    state().settings.subscribe = u"https://127.0.0.1:8443/signup";
    QColor before, after, reopened;
    QString shown;
    bool underlined = false;
    runOptions([&](QDialog* dialog) {
        auto* link = find<QLabel>(dialog, 1026);
        shown = link->text();
        underlined = link->font().underline();
        before = link->palette().color(QPalette::WindowText);
        QTest::mouseClick(link, Qt::LeftButton);
        after = link->palette().color(QPalette::WindowText);
        dialog->close();
    });
    // A SUBSCRIBE that is no web address is not handed to the desktop.
    state().settings.subscribe = u"/usr/bin/xterm";
    runOptions([&](QDialog* dialog) {
        auto* link = find<QLabel>(dialog, 1026);
        reopened = link->palette().color(QPalette::WindowText);
        QTest::mouseClick(link, Qt::LeftButton);
        dialog->close();
    });
    SetAddressOpener(previous);
    ForgetSignUpLinkClicked();

    EXPECT_EQ(shown, "https://127.0.0.1:8443/signup");
    EXPECT_TRUE(underlined);
    EXPECT_EQ(before.rgb(), kLinkColour);
    EXPECT_EQ(after.rgb(), kClickedLinkColour);
    EXPECT_EQ(reopened.rgb(), kClickedLinkColour);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl("https://127.0.0.1:8443/signup"));
}

// With MIRAVO_SCREENSHOTS=<folder> (scripts/screenshots.sh), Options with
// the password kept in the desktop's keyring is saved there as
// options-keyring.png (or options-keyring-<code>.png).
TEST_F(OptionsDialogTest, KeyringScreenshot) {
    const QByteArray folder = qgetenv("MIRAVO_SCREENSHOTS");
    if (folder.isEmpty())
        GTEST_SKIP() << "no MIRAVO_SCREENSHOTS folder";
    const QString code = qEnvironmentVariable("MIRAVO_SCREENSHOT_LANG", "en");
    ASSERT_EQ(LoadLanguage(state().language, paths().languageFile, code.toStdU16String()), 1);
    paths().languageCode = code.toStdU16String();
    state().settings.userName = u"anna@example.test";
    state().settings.password = u"secret";
    state().settings.savePassword = true;
    state().settings.passwordInKeyring = true;
    const QString name = code == "en" ? "options-keyring" : "options-keyring-" + code;
    runOptions([&](QDialog* dialog) {
        QTest::qWait(300);
        EXPECT_TRUE(dialog->grab().save(QString::fromLocal8Bit(folder) + "/" + name + ".png", "PNG"));
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
}

// With MIRAVO_SCREENSHOTS, Qt's own file dialog and a text field's context
// menu in the language the screenshots are taken in (file-dialog-<code>.png,
// context-menu-<code>.png): Qt's texts follow the program's language.
TEST_F(OptionsDialogTest, QtsOwnTextsScreenshot) {
    const QByteArray folder = qgetenv("MIRAVO_SCREENSHOTS");
    if (folder.isEmpty())
        GTEST_SKIP() << "no MIRAVO_SCREENSHOTS folder";
    const QString code = qEnvironmentVariable("MIRAVO_SCREENSHOT_LANG", "en");
    ApplyQtTranslations(code.toStdU16String());
    const QString suffix = code == "en" ? QString() : "-" + code;
    // A folder as a user's documents look: a subfolder and two PDFs.
    QTemporaryDir documents;
    ASSERT_TRUE(QDir(documents.path()).mkdir("Archive"));
    for (const char* name : {"Invoice 42.pdf", "Letter to the tax office.pdf"}) {
        QFile file(documents.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("%PDF-1.4\n");
    }
    QFileDialog files(nullptr, "Miravo", documents.path(), "PDF (*.pdf)");
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.resize(760, 460);
    files.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&files));
    QTest::qWait(300);
    EXPECT_TRUE(files.grab().save(QString::fromLocal8Bit(folder) + "/file-dialog" + suffix + ".png"));
    files.reject();

    QLineEdit field("+49 30 1234567");
    field.resize(300, field.sizeHint().height());
    field.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&field));
    field.selectAll();
    std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    menu->popup(field.mapToGlobal(QPoint(20, field.height())));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu.get()));
    QTest::qWait(200);
    EXPECT_TRUE(menu->grab().save(QString::fromLocal8Bit(folder) + "/context-menu" + suffix + ".png"));
    ApplyQtTranslations(u"en");
}

}  // namespace
}  // namespace miravo::ui::test
