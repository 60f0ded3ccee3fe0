// The desktop program from print to final status: a document printed with
// miravo-print, the program started with its job file (the same start-up
// and dialogs as the miravo binary), the Converting dialog, the send dialog
// filled in, Options, the contact book and the mass-fax list visited, the
// status window following the fax at miravo-server to its final status,
// and the shut-down writing the settings and deleting the job's files.
//
// With MIRAVO_SCREENSHOTS=<folder> in the environment, each dialog is also
// saved there as a PNG on its way (scripts/screenshots.sh runs it so under
// Xvfb).
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPainter>
#include <QPdfWriter>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/Startup.h"
#include "app/Text.h"
#include "app/TextIds.h"
#include "convert/JobFile.h"
#include "tests/convert/ConvertTestSupport.h"
#include "tests/server/ServerHarness.h"
#include "tests/ui/StallWatchdog.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/QtShellDialogs.h"
#include "ui/OpenFax.h"
#include "convert/FaxTiff.h"
#include "ui/DesktopNotification.h"
#include "ui/StatusWindow.h"
#include "ui/TrayIcon.h"
#include "service/SendOutcome.h"

namespace miravo::ui::test {
namespace {

using server::test::ServerProcess;

// The language the run shows (MIRAVO_SCREENSHOT_LANG, English by default).
std::u16string screenshotLanguage() {
    const QByteArray code = qgetenv("MIRAVO_SCREENSHOT_LANG");
    return code.isEmpty() ? u"en" : QString::fromLatin1(code).toStdU16String();
}

// Saves a dialog's picture when screenshots were asked for; pictures of
// another language than English carry its code in their name.
void snapshot(QWidget* dialog, const char* name) {
    const QByteArray folder = qgetenv("MIRAVO_SCREENSHOTS");
    if (folder.isEmpty() || !dialog)
        return;
    QTest::qWait(150);  // let the window system paint it once
    const QString language = QString::fromStdU16String(screenshotLanguage());
    const QString suffix = language == "en" ? QString() : "-" + language;
    dialog->grab().save(QString::fromLocal8Bit(folder) + "/" + name + suffix + ".png", "PNG");
}

// Answers the newer-version prompt with Cancel (OK would open a browser).
std::shared_ptr<bool> cancelVersionPrompt(QString* text) {
    auto fired = std::make_shared<bool>(false);
    auto* poll = new QTimer(qApp);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [=]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        *fired = true;
        *text = box->windowTitle() + "|" + box->text();
        snapshot(box, "version-prompt");
        box->button(QMessageBox::Cancel)->click();
    });
    poll->start();
    return fired;
}

void typeInto(QWidget* dialog, int id, const QString& text) {
    auto* edit = find<QLineEdit>(dialog, id);
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    QTest::keyClicks(edit, text);
}

// A home of the test's own: the settings, the journal and the spool stay in it.
std::filesystem::path PrivateHome(const miravo::test::TempDir& work) {
    const std::filesystem::path home = work / "home";
    std::filesystem::create_directories(home / "config" / "Miravo");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    OverrideApplicationDataFolder(std::nullopt);
    return home;
}

TEST(DesktopSend, PrintedDocumentSentThroughTheDialogsToItsFinalStatus) {
    miravo::test::TempDir work;
    const std::filesystem::path home = PrivateHome(work);

    ServerProcess server({"--quiet", "--min-poll-interval", "0", "--delivery-time", "300",
                          "--newest-version", "3.0.2", "--download-url",
                          "https://127.0.0.1/download"});
    ASSERT_TRUE(server.start()) << server.output();

    // The print monitor's part.
    const std::string bin = std::string(MIRAVO_BINARY_DIR) + "/bin";
    const auto print =
        miravo::test::runTool(bin + "/miravo-print --no-launch --out " + (work / "spool").string() +
                              " " MIRAVO_SOURCE_DIR "/data/sample.pdf");
    ASSERT_EQ(print.status, 0) << print.output;
    const std::string job = print.output.substr(0, print.output.find('\n'));
    ASSERT_TRUE(CheckJobFile(FromFsPath(job)));

    // The user's settings: the local service, its CA, the demo account.
    const auto settingsFile = home / "config" / "Miravo" / "app_config.ini";
    miravo::test::writeBytes(
        settingsFile,
        miravo::test::utf16le(
            u"[OPTIONS]\r\nSERV_NAME=127.0.0.1:" + u16(std::to_string(server.port())) +
            u"\r\nOBJ_NAME=api2/proxy.php\r\nCA_FILE=" + fromUtf8(server.caFile().string()) +
            u"\r\nVERSION_HOST=127.0.0.1:" + u16(std::to_string(server.versionPort())) +
            u"\r\nUSER_NAME=demo@miravo.test\r\nUSER_PASS=demo\r\nSAVE_PASS=1"
            u"\r\nTIMEOUT=1000\r\n[SETTINGS]\r\nlang=" + screenshotLanguage() + u"\r\n"));

    QString versionPrompt;
    const auto prompted = cancelVersionPrompt(&versionPrompt);
    bool refusalShown = false;
    QString refusedTitle;

    QString faxId, pages, transfer, firstRow, firstStatus;
    bool closeEnabledAtOnce = false;
    std::shared_ptr<bool> statusSeen;
    // The status window of the send that goes through.
    auto followSend = [&] {
        statusSeen = whenModal(
        "id103",
        [&](QDialog* window) {
            auto* close = find<QPushButton>(window, 2);
            closeEnabledAtOnce = close->isEnabled();
            auto* activityLine = find<QLabel>(window, 1051);
            auto* total = find<QLabel>(window, 1050);
            auto* details = window->findChild<QWidget*>("destinationDetails");
            // The fax is finished when the polling has emptied the activity
            // line and the total cost has come.
            const bool finished = waitFor(
                [&] {
                    return close->isEnabled() && activityLine->text().isEmpty() &&
                           !total->text().isEmpty() && details && details->isVisible();
                },
                60000);
            EXPECT_TRUE(finished);
            faxId = find<QLabel>(window, 1038)->text();
            pages = find<QLabel>(window, 1039)->text();
            transfer = find<QLabel>(window, 1036)->text();
            firstRow = find<QLabel>(window, 1042)->text();
            firstStatus = find<QLabel>(window, 1047)->text();
            snapshot(window, "status-window");
            click(close);
        },
        90000);
    };

    bool optionsSeen = false, accountSeen = false, contactsSeen = false, massFaxSeen = false;
    const auto sendSeen = whenModal(
        "id104",
        [&](QDialog* dialog) {
            EXPECT_EQ(dialog->windowTitle(), "Miravo 3.0.1");
            // The newer version is offered over the dialog before the user
            // goes on (never over a window opened from it).
            EXPECT_TRUE(waitFor([&] { return *prompted; }));
            EXPECT_TRUE(find<QLabel>(dialog, 1021)->text().contains("sample"));

            // A number the service refuses: nothing goes out, and closing
            // the status window gives the dialog back with everything kept.
            typeInto(dialog, 1001, "+49 30 CALL ME");
            typeInto(dialog, 1004, "Anna Berger");
            click(dialog, 1089);
            find<QPlainTextEdit>(dialog, 1090)->setPlainText("Dear Anna,\nthe offer follows.");
            whenModal("id103", [&](QDialog* window) {
                auto* transferLine = find<QLabel>(window, 1036);
                refusalShown = waitFor([&] { return transferLine->text().contains("CALL ME"); });
                waitFor([&] { return !find<QLabel>(window, 1051)->text().isEmpty(); });
                refusedTitle = window->windowTitle();
                snapshot(window, "status-window-refused");
                click(window, 2);
            });
            // Letters are no number the service takes: the dialog says so
            // first, and the user sends anyway.
            const auto warned = whenModal("invalidNumbers", [](QDialog* box) {
                box->findChild<QPushButton*>("sendAnyway")->click();
            });
            click(dialog, 1);
            EXPECT_TRUE(*warned);
            EXPECT_TRUE(dialog->isVisible());
            EXPECT_EQ(find<QLineEdit>(dialog, 1001)->text(), "+49 30 CALL ME");
            EXPECT_EQ(find<QLineEdit>(dialog, 1004)->text(), "Anna Berger");
            EXPECT_EQ(find<QPlainTextEdit>(dialog, 1090)->toPlainText(),
                      "Dear Anna,\nthe offer follows.");
            EXPECT_TRUE(find<QLabel>(dialog, 1021)->text().contains("sample"));
            auto* failure = dialog->findChild<QLabel*>("lastSendFailure");
            ASSERT_NE(failure, nullptr);
            EXPECT_TRUE(failure->isVisible());
            EXPECT_TRUE(failure->text().contains("+49 30 CALL ME")) << failure->text().toStdString();
            snapshot(dialog, "send-dialog-after-failure");
            click(dialog, 1089);
            find<QLineEdit>(dialog, 1001)->clear();
            find<QLineEdit>(dialog, 1004)->clear();

            // Options, and back.
            whenModal("id106", [&](QDialog* options) {
                optionsSeen = true;
                snapshot(options, "options");
                // Account management reads the account's preferences first.
                whenModal("id109", [&](QDialog* account) {
                    accountSeen = true;
                    snapshot(account, "account-management");
                    QTest::keyClick(account, Qt::Key_Escape);
                });
                click(options, 1054);
                QTest::keyClick(options, Qt::Key_Escape);
            });
            click(dialog, 1016);

            // The contact book: fetched from the service on first opening.
            whenModal("id112", [&](QDialog* book) {
                contactsSeen = true;
                snapshot(book, "contact-book");
                // Looked for with the search field.
                auto* search = book->findChild<QLineEdit*>("contactSearch");
                ASSERT_NE(search, nullptr);
                QTest::keyClick(book, Qt::Key_F, Qt::ControlModifier);
                QTest::keyClicks(search, "an");
                snapshot(book, "contact-book-search");
                search->clear();
                whenModal("id111", [&](QDialog* add) {
                    snapshot(add, "add-contact");
                    QTest::keyClick(add, Qt::Key_Escape);
                });
                click(book, 1077);
                QTest::keyClick(book, Qt::Key_Escape);
            });
            click(dialog, 1069);

            // The mass-fax list, seeded from the rows, then back to rows.
            typeInto(dialog, 1001, "+49 30 1234567");
            typeInto(dialog, 1002, "+44 20 7946 0001");
            typeInto(dialog, 1005, "Sales North");
            click(dialog, 1079);
            whenModal("id113", [&](QDialog* list) {
                massFaxSeen = true;
                snapshot(list, "mass-fax-list");
                QTest::keyClick(list, Qt::Key_Escape);
            });
            click(dialog, 1071);
            click(dialog, 1079);
            // One destination: its row shows its own final status.
            find<QLineEdit>(dialog, 1002)->clear();
            find<QLineEdit>(dialog, 1005)->clear();
            typeInto(dialog, 1004, "Anna Berger");

            click(dialog, 1089);
            snapshot(dialog, "send-dialog-cover");
            click(dialog, 1089);
            snapshot(dialog, "send-dialog");
            followSend();
            click(dialog, 1);
        },
        60000);

    std::vector<std::u16string> arguments = {fromUtf8(job)};
    static AppState state;
    QtShellDialogs dialogs;
    StartupEnvironment environment;
    environment.settings.moduleFolder = fromUtf8(bin + "/");
    StallWatchdog watchdog;
    EXPECT_EQ(RunMiravo(arguments, dialogs, state, environment), 0);
    // No exchange or conversion may hold the window thread up.
    std::printf("longest stall of the window thread: %lld ms, ending in %s (goal: at most 100 ms)\n",
                static_cast<long long>(watchdog.longestGapMs()),
                qPrintable(watchdog.longestGapWhere()));
    ::testing::Test::RecordProperty("longest_gui_stall_ms",
                                    static_cast<int>(watchdog.longestGapMs()));
#if !defined(__SANITIZE_ADDRESS__)
    // Sanitised builds run several times slower than the program as shipped:
    // there the figure is only printed.
    EXPECT_LE(watchdog.longestGapMs(), 100);
#endif

    EXPECT_TRUE(*prompted);
    EXPECT_EQ(versionPrompt, "Miravo Printer|" + qstr(GetText(state.language, 122)));
    EXPECT_TRUE(*sendSeen);
    EXPECT_TRUE(optionsSeen);
    EXPECT_TRUE(accountSeen);
    EXPECT_TRUE(contactsSeen);
    EXPECT_TRUE(massFaxSeen);
    EXPECT_TRUE(refusalShown);
    EXPECT_EQ(refusedTitle, qstr(GetText(state.language, text::kTitleNotSent)));
    ASSERT_TRUE(statusSeen && *statusSeen);
    EXPECT_TRUE(closeEnabledAtOnce);
    EXPECT_FALSE(faxId.isEmpty());
    EXPECT_EQ(pages, "3");  // the sample's three pages, as the service counted them
    EXPECT_EQ(transfer, qstr(GetText(state.language, 35)));
    EXPECT_EQ(firstRow, "+49 30 1234567");
    EXPECT_EQ(firstStatus, qstr(GetText(state.language, 35)));  // numbers ending in 67 are delivered

    // The service has the fax final, sent to the one number with its name.
    server::test::Fields poll = {{"action", "get_fax_status"},
                                 {"username", server::test::kDemoLogin},
                                 {"password", server::test::kDemoPassword},
                                 {"faxId", faxId.toStdString()}};
    const auto answer = server::test::viaTransport(server::test::transportSettings(server), poll);
    ASSERT_EQ(server::test::xmlCount(answer.body, "API_RESULT/GET_FAX_STATUS/FAX"), 1u)
        << answer.body;
    EXPECT_EQ(server::test::xmlValue(answer.body, "API_RESULT/GET_FAX_STATUS/FAX/STATUS"), "OK");
    EXPECT_EQ(server::test::xmlValue(answer.body, "API_RESULT/GET_FAX_STATUS/FAX/NAME"),
              "Anna Berger");

    // Shut-down: the job's files are gone, the settings were written back.
    EXPECT_FALSE(std::filesystem::exists(job));
    EXPECT_FALSE(std::filesystem::exists(toUtf8(state.job.documentPath)));
    EXPECT_FALSE(state.job.pageBaseName.empty());
    EXPECT_FALSE(std::filesystem::exists(toUtf8(state.job.pageBaseName) + "_1"));
    EXPECT_NE(
        miravo::test::fromUtf16le(miravo::test::readBytes(settingsFile)).find(u"USER_PASS=demo"),
        std::u16string::npos);
}

// A PDF of `pages` pages, each with a black block whose place tells the
// page (and the document, by `document`) apart.
void writePdf(const std::filesystem::path& path, int pages, int document) {
    QPdfWriter pdf(QString::fromStdString(path.string()));
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setResolution(72);
    QPainter painter(&pdf);
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            pdf.newPage();
        painter.fillRect(40 + 120 * page, 60 + 200 * document, 160, 90, Qt::black);
    }
}

// Prints a document as the print monitor does: the job file.
std::string printJob(const std::filesystem::path& spool, const std::filesystem::path& document) {
    const std::string bin = std::string(MIRAVO_BINARY_DIR) + "/bin";
    const auto print = miravo::test::runTool(bin + "/miravo-print --no-launch --out " +
                                             spool.string() + " '" + document.string() + "'");
    EXPECT_EQ(print.status, 0) << print.output;
    return print.output.substr(0, print.output.find('\n'));
}

// The fax document one document alone is converted into.
std::vector<miravo::test::TiffPage> aloneConverted(const std::filesystem::path& spool,
                                                   const std::filesystem::path& document) {
    const std::string bin = std::string(MIRAVO_BINARY_DIR) + "/bin";
    const auto converted =
        miravo::test::runTool(bin + "/miravo-send --convert-only " + printJob(spool, document));
    EXPECT_EQ(converted.status, 0) << converted.output;
    const auto start = converted.output.find("document: ");
    if (start == std::string::npos)
        return {};
    const std::string path = converted.output.substr(
        start + 10, converted.output.find('\n', start) - start - 10);
    // Turned here as the fax turns it, to compare with the sent one.
    const auto pages = miravo::test::readTiff(path);
    const auto turned = std::filesystem::path(path + ".turned.tif");
    if (!pages.empty() && ComposeFaxTiff({{path, 0, 1}}, turned).ok) {
        auto all = pages;
        all.push_back(miravo::test::readTiff(turned).front());
        return all;
    }
    return pages;
}

// One fax of several documents: a 2-page PDF printed, a 1-page PDF printed
// into the open fax, a PNG dropped onto the dialog; the PNG's page moved
// to the front with the keyboard, page 2 turned, page 3 removed; sent. The
// service keeps one TIFF of those pages in that order.
TEST(DesktopSend, SeveralDocumentsOrderedTurnedAndRemovedAreSentAsOneFax) {
    miravo::test::TempDir work;
    const std::filesystem::path home = PrivateHome(work);
    ServerProcess server({"--quiet", "--min-poll-interval", "0", "--delivery-time", "0"});
    ASSERT_TRUE(server.start()) << server.output();
    miravo::test::writeBytes(
        home / "config" / "Miravo" / "app_config.ini",
        miravo::test::utf16le(
            u"[OPTIONS]\r\nSERV_NAME=127.0.0.1:" + u16(std::to_string(server.port())) +
            u"\r\nOBJ_NAME=api2/proxy.php\r\nCA_FILE=" + fromUtf8(server.caFile().string()) +
            u"\r\nUSER_NAME=demo@miravo.test\r\nUSER_PASS=demo\r\nSAVE_PASS=1"
            u"\r\nTIMEOUT=1000\r\n[SETTINGS]\r\nlang=" + screenshotLanguage() + u"\r\n"));

    writePdf(work / "letter.pdf", 2, 0);
    writePdf(work / "invoice.pdf", 1, 1);
    QImage picture(800, 500, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter(&picture).fillRect(100, 100, 500, 60, Qt::black);
    ASSERT_TRUE(picture.save(QString::fromStdString((work / "plan.png").string())));
    const auto letter = aloneConverted(work / "check", work / "letter.pdf");
    const auto invoice = aloneConverted(work / "check", work / "invoice.pdf");
    const auto plan = aloneConverted(work / "check", work / "plan.png");
    ASSERT_EQ(letter.size(), 3u);  // its two pages, then its first turned
    ASSERT_EQ(invoice.size(), 2u);
    ASSERT_EQ(plan.size(), 2u);

    const std::string firstJob = printJob(work / "spool", work / "letter.pdf");
    QStringList captions;
    QString description;
    static AppState state;
    const auto sendSeen = whenModal(
        "id104",
        [&](QDialog* dialog) {
            auto* list = dialog->findChild<QListWidget*>("faxPageList");
            ASSERT_NE(list, nullptr);
            EXPECT_EQ(list->count(), 2);
            // Printed while the dialog is open, and given to it.
            auto* open = dynamic_cast<OpenFax*>(dialog);
            ASSERT_NE(open, nullptr);
            open->addDocuments({QString::fromStdString(printJob(work / "spool", work / "invoice.pdf"))});
            EXPECT_EQ(list->count(), 3);
            // Dropped.
            QMimeData dropped;
            dropped.setUrls({QUrl::fromLocalFile(QString::fromStdString((work / "plan.png").string()))});
            QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &dropped, Qt::LeftButton,
                            Qt::NoModifier);
            static_cast<QObject&>(*dialog).event(&drop);
            EXPECT_TRUE(drop.isAccepted());
            ASSERT_TRUE(waitFor([&] { return list->count() == 4; }, 60000));
            // The PNG's page to the front, by the keyboard alone.
            list->setFocus(Qt::TabFocusReason);
            list->setCurrentRow(3);
            for (int i = 0; i < 3; ++i)
                QTest::keyClick(list, Qt::Key_Up, Qt::ControlModifier);
            EXPECT_EQ(list->currentRow(), 0);
            // Page 2 turned with its button, page 3 removed with Delete.
            list->setCurrentRow(1);
            auto* turn = dialog->findChild<QPushButton*>("turnPage");
            ASSERT_NE(turn, nullptr);
            turn->setFocus(Qt::TabFocusReason);
            QTest::keyClick(turn, Qt::Key_Space);
            list->setFocus(Qt::TabFocusReason);
            list->setCurrentRow(2);
            QTest::keyClick(list, Qt::Key_Delete);
            ASSERT_EQ(list->count(), 3);
            for (int i = 0; i < list->count(); ++i)
                captions << list->item(i)->toolTip();
            description = open->description();
            EXPECT_TRUE(find<QLabel>(dialog, 1021)->isVisible());
            auto* pages = dialog->findChild<QLabel*>("documentPages");
            EXPECT_TRUE(pages->text().contains("3")) << pages->text().toStdString();
            typeInto(dialog, 1001, "+49 30 1234567");
            waitFor([&] { return false; }, 300);  // the thumbnails are drawn
            snapshot(dialog, "send-dialog-documents");
            whenModal("id103", [&](QDialog* window) {
                auto* close = find<QPushButton>(window, 2);
                // Sent once the service has told the final status and cost.
                EXPECT_TRUE(waitFor([&] {
                    return close->isEnabled() && find<QLabel>(window, 1051)->text().isEmpty() &&
                           !find<QLabel>(window, 1050)->text().isEmpty();
                }, 60000));
                click(close);
            }, 90000);
            click(dialog, 1);
            // A send that did not go out must not leave the test waiting.
            if (dialog->isVisible())
                closeDiscardingWork(dialog);
        },
        60000);

    std::vector<std::u16string> arguments = {fromUtf8(firstJob)};
    QtShellDialogs dialogs;
    StartupEnvironment environment;
    environment.settings.moduleFolder = fromUtf8(std::string(MIRAVO_BINARY_DIR) + "/bin/");
    EXPECT_EQ(RunMiravo(arguments, dialogs, state, environment), 0);
    ASSERT_TRUE(*sendSeen);
    ASSERT_EQ(captions.size(), 3);
    const char* names[] = {"plan.png", "letter", "invoice"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(captions[i].contains(names[i])) << captions[i].toStdString();
    }
    EXPECT_TRUE(description.contains("plan.png")) << description.toStdString();

    // The service's one document: the PNG's page, the letter's first page
    // turned, the invoice's page.
    const auto sent = miravo::test::readTiff(server.dataDir() / "faxes" / "1" / "document.tif");
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].bits.bits, plan[0].bits.bits);
    EXPECT_EQ(sent[1].bits.bits, letter[2].bits.bits);
    EXPECT_NE(sent[1].bits.bits, letter[0].bits.bits);
    EXPECT_EQ(sent[2].bits.bits, invoice[0].bits.bits);
    for (const auto& page : sent) {
        EXPECT_EQ(page.width, 1728u);
        EXPECT_EQ(page.height, 2292u);
    }
    EXPECT_FALSE(std::filesystem::exists(server.dataDir() / "faxes" / "2"));
}

// A transfer whose connection drops: the status window says the fax was
// not sent (and is pictured so for the README).
class DesktopFailedTransfer : public UiTest {
  protected:
    // The screenshot language and its logo, the demo account on `server`,
    // and a one-page document for Anna Berger: a send ready to start.
    void prepareSend(ServerProcess& server) {
        const std::u16string language = screenshotLanguage();
        ASSERT_EQ(LoadLanguage(state().language, paths().languageFile, language), 1);
        paths().languageCode = language;
        state().settings.logoPath = paths().moduleFolder + u"images/" + language + u"_logo.gif";
        LoadLogo(paths(), state());
        const AppSettings service = server::test::transportSettings(server);
        state().settings.serviceHost = service.serviceHost;
        state().settings.objectPath = service.objectPath;
        state().settings.caFile = service.caFile;
        state().settings.userName = fromUtf8(server::test::kDemoLogin);
        state().settings.password = fromUtf8(server::test::kDemoPassword);
        miravo::test::writeBytes(dataDir() / "offer_res__1.tif", server::test::faxDocument());
        state().job.documentPath = FromFsPath(dataDir() / "offer_res__1.tif");
        state().job.recipients = {Contact::entry(u"0", u"Anna Berger", u"+49 30 1234567", u"")};
    }
};

TEST_F(DesktopFailedTransfer, StatusWindowShowsTheDroppedUpload) {
    ServerProcess server({"--quiet", "--version-port", "-1", "--fault",
                          "close,action=convert_and_transfer"});
    ASSERT_TRUE(server.start()) << server.output();
    ASSERT_NO_FATAL_FAILURE(prepareSend(server));
    StatusWindow window(paths(), nullptr);
    QString statusLine;
    QTimer::singleShot(0, &window, [&] {
        auto* line = find<QLabel>(&window, 1051);
        // Close is enabled throughout: wait for the status line's verdict.
        waitFor([&] { return line->text() == qstr(GetText(state().language, 202)); });
        statusLine = line->text();
        snapshot(&window, "status-window-failed");
        auto* close = find<QPushButton>(&window, 2);
        if (close->isEnabled())
            click(close);
        else
            static_cast<QDialog&>(window).done(0);  // the failure never came: end the test, not the run
    });
    window.exec();
    EXPECT_EQ(statusLine, qstr(GetText(state().language, 202)));
}

// A notification area that records what the window tells it.
class RecordingTray final : public TrayIcon {
  public:
    bool available() const override { return false; }
    void show(const QIcon&) override {}
    void hide() override {}
    bool shown() const override { return false; }
    void setProgress(const QString& text) override { tooltip = text; }
    void notify(const QString&, const QString&) override {}
    QString tooltip;
};

// A send to two numbers followed to its end: the summary row, the title and
// the tray's tooltip say the outcome, with nothing left waiting (pictured
// for the README: all delivered, some failed, none delivered).
TEST_F(DesktopFailedTransfer, SummaryRowTitleAndTrayTellTheOutcomeOfTwoNumbers) {
    ServerProcess server({"--quiet", "--version-port", "-1", "--min-poll-interval", "0",
                          "--delivery-time", "300"});
    ASSERT_TRUE(server.start()) << server.output();
    ASSERT_NO_FATAL_FAILURE(prepareSend(server));
    state().settings.timeoutMs = 40;
    // Numbers ending in 67 and 68 are delivered, in 00 the line is busy.
    const struct {
        const char* picture;
        const char16_t* first;
        const char16_t* second;
        std::size_t delivered, failed;
    } cases[] = {
        {"status-window-all-delivered", u"+49 30 1234567", u"+49 30 1234568", 2, 0},
        {"status-window-some-failed", u"+49 30 1234567", u"+49 30 1234500", 1, 1},
        {"status-window-none-delivered", u"+49 30 1234500", u"+49 30 7654300", 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.picture);
        state().job.recipients = {Contact::entry(u"0", u"Anna Berger", c.first, u""),
                                  Contact::entry(u"0", u"Bernd Kurz", c.second, u"")};
        state().job.massFaxOn = false;
        auto tray = std::make_unique<RecordingTray>();
        RecordingTray* recorded = tray.get();
        StatusWindow window(paths(), nullptr, std::move(tray));
        SendOptions options;
        options.timing.stepPauseMs = 20;
        options.timing.pollPauseMs = 20;
        window.setSendOptions(options);
        QString row, title, tooltip, activity;
        QTimer::singleShot(0, &window, [&] {
            waitFor([&] { return !window.outcome().isEmpty(); }, 60000);
            row = find<QLabel>(&window, 1047)->text();
            title = window.windowTitle();
            tooltip = recorded->tooltip;
            activity = find<QLabel>(&window, 1051)->text();
            snapshot(&window, c.picture);
            click(&window, 2);
        });
        window.exec();
        OutcomeCounts counts;
        counts.total = 2;
        counts.delivered = c.delivered;
        counts.failed = c.failed;
        const QString expected = qstr(OutcomeText(state().language, counts));
        EXPECT_EQ(window.outcome(), expected);
        EXPECT_EQ(row, expected);
        EXPECT_EQ(title, expected);
        EXPECT_EQ(tooltip, qstr(GetText(state().language, text::kTrayProgress, u16str(expected))));
        EXPECT_TRUE(activity.isEmpty()) << activity.toStdString();
    }
}

// A service that is not running: the status window says so at once and
// keeps trying with growing pauses (pictured for the README).
TEST_F(DesktopFailedTransfer, StatusWindowSaysTheServiceCannotBeReached) {
    ServerProcess server({"--quiet", "--version-port", "-1"});
    ASSERT_TRUE(server.start()) << server.output();
    ASSERT_NO_FATAL_FAILURE(prepareSend(server));
    server.stop();
    StatusWindow window(paths(), nullptr);
    QString second;
    QTimer::singleShot(0, &window, [&] {
        auto* line = find<QLabel>(&window, 1051);
        const QString retrying =
            qstr(GetText(state().language, text::kRetryingUnreachable, 2, 3));
        waitFor([&] { return line->text() == retrying; }, 5000);
        second = line->text();
        snapshot(&window, "status-window-unreachable");
        click(&window, 2);
    });
    window.exec();
    EXPECT_EQ(second, qstr(GetText(state().language, text::kRetryingUnreachable, 2, 3)));
    EXPECT_EQ(find<QLabel>(&window, 1037)->text(),
              qstr(GetText(state().language, text::kServiceUnreachable)));
}

// A private session bus, and on it the test notification service
// (started with `serviceArguments`).
class PrivateNotificationBus {
  public:
    PrivateNotificationBus() {
        for (QProcess* p : {&service_, &bus_}) {
            const pid_t parent = ::getpid();
            p->setChildProcessModifier([parent] { miravo::test::DieWithParent(parent); });
        }
        bus_.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
        if (bus_.waitForReadyRead(10000))
            address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    }
    ~PrivateNotificationBus() {
        for (QProcess* p : {&service_, &bus_}) {
            p->kill();
            p->waitForFinished();
        }
    }
    const QString& address() const { return address_; }
    // Starts the notification service; true once it has taken its name.
    bool startService(const QStringList& serviceArguments = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
        service_.setProcessEnvironment(environment);
        service_.start(QStringLiteral(NOTIFICATION_SERVICE_STUB), serviceArguments);
        return service_.waitForReadyRead(10000) && service_.readLine().trimmed() == "ready";
    }
    // What the service printed since last asked.
    QByteArray serviceOutput() {
        service_.waitForReadyRead(2000);
        return service_.readAll().trimmed();
    }

  private:
    QProcess bus_;
    QProcess service_;
    QString address_;
};

// The end of a send told on the desktop: a private session bus with a
// notification service on it takes the message, and a click on the message
// comes back to the program.
TEST(DesktopNotificationOnTheSessionBus, MessageShownAndItsClickReported) {
    PrivateNotificationBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";

    DesktopNotification notification(bus.address());
    bool clicked = false;
    notification.onClicked([&] { clicked = true; });
    // No notification service yet: the caller falls back to the tray's message.
    EXPECT_FALSE(notification.show(QStringLiteral("Fax sent"), QStringLiteral("none")));

    ASSERT_TRUE(bus.startService());
    EXPECT_TRUE(notification.show(QStringLiteral("Fax sent"),
                                  QStringLiteral("The fax was delivered.")));
    EXPECT_TRUE(waitFor([&] { return clicked; }, 10000));
    EXPECT_EQ(bus.serviceOutput(), "Fax sent|The fax was delivered.");
}

// The window that showed the message has gone (the run ends by itself with
// CLOSE_WND): the program waits for the message to be answered. A click
// still opens Sent faxes; a message nobody clicks is taken back when the
// wait ends, so that none is left on the desktop that would do nothing.
TEST(DesktopNotificationOnTheSessionBus, MessageOutlivingItsWindowIsStillAnswered) {
    const struct {
        bool userClicks;
        bool sentFaxesOpened;
        const char* serviceSaysAfter;
    } cases[] = {{true, true, ""}, {false, false, "closed 1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.userClicks ? "clicked" : "not clicked");
        PrivateNotificationBus bus;
        ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
        ASSERT_TRUE(bus.startService(c.userClicks ? QStringList{}
                                                  : QStringList{QStringLiteral("--no-click")}));
        auto notification = std::make_unique<DesktopNotification>(bus.address());
        ASSERT_TRUE(notification->show(QStringLiteral("Fax sent"), QStringLiteral("Delivered.")));
        EXPECT_EQ(bus.serviceOutput(), "Fax sent|Delivered.");
        KeepUntilAnswered(std::move(notification));  // its window is gone

        bool sentFaxesOpened = false;
        WaitForKeptNotifications([&] { sentFaxesOpened = true; }, 1500);
        EXPECT_EQ(sentFaxesOpened, c.sentFaxesOpened);
        EXPECT_EQ(bus.serviceOutput(), c.serviceSaysAfter);
    }
}

}  // namespace
}  // namespace miravo::ui::test
