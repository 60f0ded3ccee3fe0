// The sending status window against miravo-server, its notification-area
// icon (a stand-in icon: the offscreen platform has no notification area)
// and the credentials prompt it opens for the send worker.
#include <QApplication>
#include <QClipboard>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "tests/server/ServerHarness.h"
#include "tests/service/HostileService.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CredentialsDialog.h"
#include "ui/Dialogs.h"
#include "ui/Mnemonics.h"
#include "ui/StatusWindow.h"
#include "app/TextIds.h"

namespace miravo::ui::test {
namespace {

using server::test::ServerProcess;

class FakeTray final : public TrayIcon {
  public:
    explicit FakeTray(bool available) : available_(available) {}
    bool available() const override { return available_; }
    void show(const QIcon& icon) override {
        shown_ = true;
        icon_ = icon;
    }
    void hide() override { shown_ = false; }
    bool shown() const override { return shown_; }
    void setProgress(const QString& text) override { progress_ = text; }
    void notify(const QString& summary, const QString& body) override {
        told_ << summary + "|" + body;
    }
    void doubleClick() { showWindowsChosen(); }
    void quit() { quitChosen(); }
    QIcon icon_;
    QString progress_;
    QStringList told_;

  private:
    bool available_;
    bool shown_ = false;
};

class StatusWindowTest : public UiTest {
  protected:
    static void SetUpTestSuite() {
        for (const char* name :
             {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            ::unsetenv(name);
        server_ = new ServerProcess({"--quiet", "--version-port", "-1", "--min-poll-interval", "0",
                                     "--delivery-time", "400"});
        if (!server_->start())
            ADD_FAILURE() << server_->output();
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(server_->running());
        miravo::test::writeBytes(dataDir() / "fax_res__1.tif", server::test::faxDocument());
        state().job.documentPath = fromUtf8((dataDir() / "fax_res__1.tif").string());
        const AppSettings service = server::test::transportSettings(*server_);
        AppSettings& settings = state().settings;
        settings.serviceHost = service.serviceHost;
        settings.objectPath = service.objectPath;
        settings.caFile = service.caFile;
        settings.userName = fromUtf8(server::test::kDemoLogin);
        settings.password = fromUtf8(server::test::kDemoPassword);
        settings.timeoutMs = 40;
        options_.timing.stepPauseMs = 20;
        options_.timing.pollPauseMs = 20;
        options_.timing.closeTickMs = 5;
        Recipient single;
        single.kind = Single;
        single.number = u"+49 30 1234567";
        state().job.recipients = {single};
    }

    QString text(int id) { return qstr(GetText(state().language, id)); }
    static QString label(const QWidget* window, int id) { return find<QLabel>(window, id)->text(); }

    std::unique_ptr<StatusWindow> window(bool trayAvailable = false,
                                         QWidget* sendDialog = nullptr) {
        auto tray = std::make_unique<FakeTray>(trayAvailable);
        tray_ = tray.get();
        auto made =
            std::make_unique<StatusWindow>(paths(), sendDialog, std::move(tray), sendDialog);
        made->setSendOptions(options_);
        return made;
    }

    static ServerProcess* server_;
    SendOptions options_;
    FakeTray* tray_ = nullptr;
};

ServerProcess* StatusWindowTest::server_ = nullptr;

TEST_F(StatusWindowTest, SendFillsTheLabelsAndCloseIsEnabledFromTheStart) {
    auto status = window();
    bool closeEnabledAtFirst = false, openAtFirst = false;
    bool faxIdWhenFinished = false, finished = false, noBarWhileAuthenticating = false;
    QTimer::singleShot(0, status.get(), [&] {
        auto* close = find<QPushButton>(status.get(), 2);
        closeEnabledAtFirst = close->isEnabled();
        noBarWhileAuthenticating = find<QProgressBar>(status.get(), 1013)->isHidden();
        openAtFirst = state().job.statusWindowOpen;
        finished = waitFor([&] {
            return label(status.get(), 1047) == text(35) &&
                   status->windowTitle() == text(text::kOutcomeAllDelivered);
        });
        faxIdWhenFinished = !label(status.get(), 1038).isEmpty();
        click(close);
    });
    EXPECT_EQ(status->exec(), kStatusWindowClosed);
    EXPECT_TRUE(closeEnabledAtFirst);
    EXPECT_TRUE(noBarWhileAuthenticating);
    EXPECT_TRUE(openAtFirst);
    EXPECT_TRUE(faxIdWhenFinished);
    ASSERT_TRUE(finished);
    EXPECT_FALSE(state().job.statusWindowOpen);
    EXPECT_FALSE(status->workerRunning());

    const QWidget* w = status.get();
    // The title says how the fax came out.
    EXPECT_EQ(w->windowTitle(), text(text::kOutcomeAllDelivered));
    EXPECT_TRUE(status->faxSent());
    EXPECT_EQ(find<QGroupBox>(w, 1004)->title(), text(12));
    EXPECT_EQ(WithoutMnemonic(find<QPushButton>(w, 2)->text()), text(5));
    EXPECT_EQ(label(w, 1037), text(35));
    EXPECT_EQ(label(w, 1036), text(35));
    EXPECT_EQ(label(w, 1038), qstr(state().job.send.faxId));
    EXPECT_EQ(label(w, 1039), "1");
    EXPECT_EQ(label(w, 1040), "0.10 " + text(32));
    EXPECT_EQ(label(w, 1042), "+49 30 1234567");
    EXPECT_EQ(label(w, 1050), "0.10 " + text(32));
    EXPECT_EQ(label(w, 1051), "");
    // The animation ran during the polling and stopped with it.
    EXPECT_FALSE(status->pollingAnimation());
    EXPECT_EQ(find<QProgressBar>(w, 1013)->value(), 0);
}

TEST_F(StatusWindowTest, CloseDuringThePollingWaitsForTheWorkerWhileTheWindowKeepsRunning) {
    state().settings.timeoutMs = 700;  // the worker sleeps this long after each poll
    auto status = window();
    bool animating = false, visibleAfterClick = false, closeDisabledAfterClick = false;
    bool keptAfterNo = false;
    std::chrono::steady_clock::time_point clicked;
    QTimer::singleShot(0, status.get(), [&] {
        auto* close = find<QPushButton>(status.get(), 2);
        auto* bar = find<QProgressBar>(status.get(), 1013);
        ASSERT_TRUE(waitFor([&] { return close->isEnabled(); }));
        animating = waitFor([&] { return status->pollingAnimation() && bar->value() > 0; }, 2000);
        // The fax is under way: closing asks first, and keeping on follows it.
        auto asked = whenModal("stopFollowingQuestion", [](QDialog* box) {
            QTest::keyClick(box, Qt::Key_Escape);
        });
        click(close);
        keptAfterNo = *asked && status->isVisible() && close->isEnabled();
        asked = whenModal("stopFollowingQuestion", [](QDialog* box) {
            auto* question = static_cast<QMessageBox*>(box);
            for (QAbstractButton* button : question->buttons())
                if (question->buttonRole(button) == QMessageBox::AcceptRole)
                    button->click();
        });
        clicked = std::chrono::steady_clock::now();
        click(close);
        visibleAfterClick = *asked && status->isVisible();
        closeDisabledAfterClick = !close->isEnabled();
    });
    EXPECT_EQ(status->exec(), kStatusWindowClosed);
    EXPECT_TRUE(animating);
    EXPECT_TRUE(keptAfterNo);
    EXPECT_TRUE(visibleAfterClick);
    EXPECT_TRUE(closeDisabledAfterClick);
    // The worker's pause (and any exchange) ends with the window: within a second.
    EXPECT_LT(std::chrono::steady_clock::now() - clicked, std::chrono::seconds(1));
    EXPECT_FALSE(status->workerRunning());
    // The polling ended with the window, before the fax was delivered.
    EXPECT_NE(label(status.get(), 1047), text(35));
}

// A service that hangs in the middle of an exchange: Close, the close box
// or Escape end the window and its worker within a second all the same.
TEST_F(StatusWindowTest, ClosingDuringAHangingExchangeEndsWindowAndWorkerWithinASecond) {
    miravo::test::ClearProxyEnvironment();
    const auto certificates = miravo::test::TestCertificates::make({"IP:127.0.0.1"});
    miravo::test::writeBytes(dataDir() / "ca.pem", certificates.caPem);
    const std::vector<std::function<void(StatusWindow*)>> closings = {
        [](StatusWindow* w) { click(w, 2); },
        [](StatusWindow* w) { w->close(); },
        [](StatusWindow* w) { QTest::keyClick(w, Qt::Key_Escape); },
    };
    int round = 0;
    for (const miravo::test::HostileCase& hostile : miravo::test::HostileCases()) {
        if (hostile.kind != miravo::test::HostileCase::Kind::Drip &&
            hostile.kind != miravo::test::HostileCase::Kind::Endless)
            continue;
        for (const auto& closeWindow : closings) {
            SCOPED_TRACE(std::string(hostile.name) + " closing " + std::to_string(round++ % 3));
            miravo::test::LoopbackServer service(&certificates);
            miravo::test::ServeHostile(service, hostile);
            AppSettings& settings = state().settings;
            settings.serviceHost = u"127.0.0.1:" + fromUtf8(std::to_string(service.port()));
            settings.caFile = fromUtf8((dataDir() / "ca.pem").string());
            settings.timeoutMs = 30000;
            auto status = window();
            bool hanging = false;
            std::chrono::steady_clock::time_point closed;
            QTimer::singleShot(0, status.get(), [&] {
                hanging = waitFor([&] {
                    for (const auto& request : service.requests())
                        if (request.body.find(hostile.action) != std::string::npos)
                            return true;
                    return false;
                });
                QTest::qWait(300);
                closed = std::chrono::steady_clock::now();
                closeWindow(status.get());
            });
            EXPECT_EQ(status->exec(), kStatusWindowClosed);
            EXPECT_TRUE(hanging);
            EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::seconds(1));
            EXPECT_FALSE(status->workerRunning());
        }
    }
}

// Closed by the worker while in the notification area: the send dialog
// hidden with the window comes back and the icon goes.
TEST_F(StatusWindowTest, CloseWindowSettingLetsTheWorkerCloseTheWindowWithOne) {
    state().settings.closeWindow = true;
    QDialog send;
    send.show();
    auto status = window(true, &send);
    bool hidden = false;
    QTimer::singleShot(0, status.get(), [&] {
        status->setWindowState(Qt::WindowMinimized);
        hidden = !send.isVisible();
    });
    EXPECT_EQ(status->exec(), kStatusWindowClosedByWorker);
    EXPECT_EQ(label(status.get(), 1047), text(35));
    EXPECT_FALSE(state().job.statusWindowOpen);
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(send.isVisible());
    EXPECT_FALSE(tray_->shown());
}

TEST_F(StatusWindowTest, MissingCredentialsAreAskedForOverTheWindowAndTheSendGoesOn) {
    state().settings.userName.clear();
    state().settings.password.clear();
    state().settings.closeWindow = true;
    auto status = window();
    bool ownedByWindow = false;
    const auto asked = whenModal("id107", [&](QDialog* dialog) {
        ownedByWindow = dialog->parentWidget() == status.get();
        QTest::keyClicks(find<QLineEdit>(dialog, 1006), "demo@miravo.test");
        QTest::keyClicks(find<QLineEdit>(dialog, 1007), "demo");
        click(dialog, 1);
    });
    EXPECT_EQ(status->exec(), kStatusWindowClosedByWorker);
    EXPECT_TRUE(*asked);
    EXPECT_TRUE(ownedByWindow);
    EXPECT_EQ(state().settings.password, u"demo");
    EXPECT_EQ(label(status.get(), 1047), text(35));
}

TEST_F(StatusWindowTest, ClosingTheCredentialsPromptAfterARefusalEndsTheSend) {
    state().settings.password = u"wrong";
    QDialog send;
    QString shownName, owner;
    const auto asked = whenModal("id107", [&](QDialog* dialog) {
        shownName = find<QLineEdit>(dialog, 1006)->text();
        owner = dialog->parentWidget() ? dialog->parentWidget()->objectName() : QString();
        click(dialog, 2);
    });
    EXPECT_EQ(RunStatusWindow(paths(), &send), kStatusWindowClosedByWorker);
    EXPECT_TRUE(*asked);
    EXPECT_EQ(shownName, "demo@miravo.test");
    EXPECT_EQ(owner, "id103");
    EXPECT_EQ(state().settings.password, u"wrong");
}

// The send dialog runs its own modal loop under the status window; both
// loops must survive the round trip through the notification area.
TEST_F(StatusWindowTest, MinimisingIntoTheTrayHidesBothWindowsAndDoubleClickBringsThemBack) {
    QDialog send;
    int statusResult = -1;
    bool hidden = false, iconShown = false, loopsKept = false, restored = false;
    bool iconRemoved = false, modalAgain = false;
    QTimer::singleShot(0, &send, [&] {
        auto status = window(true, &send);
        QTimer::singleShot(0, status.get(), [&] {
            status->setWindowState(Qt::WindowMinimized);
            hidden = !status->isVisible() && !send.isVisible();
            iconShown = tray_->shown() && !tray_->icon_.isNull();
            QTest::qWait(50);
            loopsKept = true;
            tray_->doubleClick();
            restored = status->isVisible() && send.isVisible() && !status->isMinimized();
            iconRemoved = !tray_->shown();
            modalAgain = QApplication::activeModalWidget() == status.get();
            auto* close = find<QPushButton>(status.get(), 2);
            ASSERT_TRUE(waitFor([&] { return close->isEnabled(); }));
            click(close);
        });
        statusResult = status->exec();
        send.done(5);
    });
    EXPECT_EQ(send.exec(), 5);
    EXPECT_EQ(statusResult, kStatusWindowClosed);
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(iconShown);
    EXPECT_TRUE(loopsKept);
    EXPECT_TRUE(restored);
    EXPECT_TRUE(iconRemoved);
    EXPECT_TRUE(modalAgain);
}

TEST_F(StatusWindowTest, WithoutANotificationAreaMinimisingHidesNothing) {
    QDialog send;
    send.show();
    auto status = window(false, &send);
    bool visible = false;
    QTimer::singleShot(0, status.get(), [&] {
        status->setWindowState(Qt::WindowMinimized);
        visible = status->isVisible() && send.isVisible() && !tray_->shown();
        status->setWindowState(Qt::WindowNoState);
        auto* close = find<QPushButton>(status.get(), 2);
        ASSERT_TRUE(waitFor([&] { return close->isEnabled(); }));
        click(close);
    });
    EXPECT_EQ(status->exec(), kStatusWindowClosed);
    EXPECT_TRUE(visible);
}

// A refusal that arrives after the user pressed Close asks nobody.
TEST_F(StatusWindowTest, PromptAfterTheWindowWasClosedGivesUpWithoutAsking) {
    auto status = window();
    DialogCredentialsPrompt prompt(*status);
    const auto asked = whenModal(
        "id107", [](QDialog* dialog) { dialog->done(1); }, 5000);
    for (const bool open : {false, true}) {
        state().job.statusWindowOpen = open;
        std::atomic<bool> done{false};
        bool answer = !open;
        std::thread worker([&] {
            answer = prompt.ask(state());
            done = true;
        });
        waitFor([&] { return done.load(); });
        worker.join();
        EXPECT_EQ(answer, open);
        EXPECT_EQ(*asked, open);
    }
}

// With several destinations the rows say "Mass fax list"; once the polling
// has ended a folded list tells each number's outcome and copies as text.
TEST_F(StatusWindowTest, DetailsListEachDestinationOnceThePollingHasEnded) {
    Recipient a, b, c;
    a.kind = b.kind = c.kind = Single;
    a.number = u"+49 30 1234567";
    a.name = u"Anna";
    b.number = u"+49 30 1234501";
    b.name = u"Ben";
    c.number = u"+49 30 1234504";  // no name
    state().job.recipients = {a, b, c};
    auto status = window();
    bool offeredDuringPolling = true, foldedAtFirst = false;
    QString copied;
    QTimer::singleShot(0, status.get(), [&] {
        auto& details = status->destinationDetails();
        auto* close = find<QPushButton>(status.get(), 2);
        ASSERT_TRUE(waitFor([&] { return status->pollingAnimation(); }));
        offeredDuringPolling = details.isVisible();
        ASSERT_TRUE(waitFor([&] { return details.isVisible(); }));
        foldedAtFirst = !details.unfolded();
        details.unfold(true);
        details.copy();
        copied = QGuiApplication::clipboard()->text();
        click(close);
    });
    EXPECT_EQ(status->exec(), kStatusWindowClosed);
    EXPECT_FALSE(offeredDuringPolling);
    EXPECT_TRUE(foldedAtFirst);
    const QStringList lines = copied.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << copied.toStdString();
    EXPECT_EQ(lines[1], "+49 30 1234567\tAnna\t" + text(35) + "\t0.10 " + text(32));
    EXPECT_EQ(lines[2], "+49 30 1234501\tBen\t" + text(44) + "\t0.00 " + text(32));
    EXPECT_EQ(lines[3], "+49 30 1234504\t\t" + text(42) + "\t0.00 " + text(32));
}

// Every way a send can fail ends with the failure in its step's verdict and
// the status line, no bar, and Close enabled; even with CLOSE_WND the
// window waits for the user.
TEST_F(StatusWindowTest, EveryFailedSendShowsItsFailureAndLeavesCloseEnabled) {
    struct Case {
        const char* name;
        std::vector<std::string> faults;  // none: no server, a missing document
        int verdict;
        int statusLine;
        const char* why = nullptr;  // for a failure on this side: its reason, in the status line
    };
    const std::vector<Case> cases = {
        {"dropped upload", {"close,action=convert_and_transfer"}, 1036, 202},
        {"empty transfer answer", {"empty,action=convert_and_transfer"}, 1036, 202},
        {"service error on transfer", {"error:110,action=convert_and_transfer"}, 1036, 205},
        {"service error on authentication", {"error:110,action=authentication"}, 1037, 205},
        {"missing document", {}, 1036, 427, "gone_res__1.tif cannot be read: No such file"},
    };
    state().settings.closeWindow = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<ServerProcess> faulty;
        const AppSettings sound = server::test::transportSettings(*server_);
        state().settings.serviceHost = sound.serviceHost;
        state().settings.caFile = sound.caFile;
        if (c.faults.empty()) {
            state().job.documentPath = fromUtf8((dataDir() / "gone_res__1.tif").string());
        } else {
            std::vector<std::string> args = {"--quiet", "--version-port", "-1"};
            for (const std::string& fault : c.faults)
                args.insert(args.end(), {"--fault", fault});
            faulty = std::make_unique<ServerProcess>(args);
            ASSERT_TRUE(faulty->start()) << faulty->output();
            state().settings.serviceHost = server::test::transportSettings(*faulty).serviceHost;
            state().settings.caFile = server::test::transportSettings(*faulty).caFile;
        }
        auto status = window();
        bool ended = false, barHidden = false, animating = true, pricesCleared = false;
        QString verdict, statusLine;
        QTimer::singleShot(0, status.get(), [&] {
            auto* line = find<QLabel>(status.get(), 1051);
            ended = waitFor([&] {
                return c.why ? line->text().startsWith(text(c.statusLine).section('%', 0, 0)) &&
                                   line->text().contains(c.why)
                             : line->text() == text(c.statusLine);
            });
            // Given time, the window does not close by itself.
            QTest::qWait(100);
            barHidden = find<QProgressBar>(status.get(), 1013)->isHidden();
            animating = status->pollingAnimation();
            verdict = label(status.get(), c.verdict);
            pricesCleared = label(status.get(), 1039).isEmpty() && label(status.get(), 1040).isEmpty();
            statusLine = line->text();
            click(status.get(), 2);
        });
        EXPECT_EQ(status->exec(), kStatusWindowClosed);
        EXPECT_TRUE(ended) << statusLine.toStdString();
        EXPECT_TRUE(barHidden);
        EXPECT_FALSE(animating);
        // "Failed", or the service's code ("#110 ...", "#999 ..." for no usable answer).
        EXPECT_TRUE(verdict == text(36) || verdict.startsWith("#")) << verdict.toStdString();
        EXPECT_NE(verdict, text(35));
        if (c.verdict == 1036)
            EXPECT_TRUE(pricesCleared);
    }
}

// A stopped service: said within two seconds, on the authentication line
// and the status line, and Close ends the retrying within a second. The
// send did not go out, and the window says why for the send dialog.
TEST_F(StatusWindowTest, StoppedServiceIsSaidAtOnceAndCloseEndsTheRetrying) {
    ServerProcess stopped({"--quiet", "--version-port", "-1"});
    ASSERT_TRUE(stopped.start());
    state().settings.serviceHost = server::test::transportSettings(stopped).serviceHost;
    stopped.stop();
    options_.timing = {};  // the real pauses: 1 s, then 2 s...
    auto status = window();
    bool said = false;
    QString statusLine;
    std::chrono::steady_clock::time_point clicked;
    QTimer::singleShot(0, status.get(), [&] {
        const QString retrying = qstr(GetText(state().language, text::kRetryingUnreachable, 1, 2));
        said = waitFor([&] { return label(status.get(), 1051) == retrying; }, 2000);
        statusLine = label(status.get(), 1051);
        clicked = std::chrono::steady_clock::now();
        click(status.get(), 2);
    });
    EXPECT_EQ(status->exec(), kStatusWindowClosed);
    EXPECT_LT(std::chrono::steady_clock::now() - clicked, std::chrono::seconds(1));
    EXPECT_TRUE(said) << statusLine.toStdString();
    EXPECT_EQ(label(status.get(), 1037), text(text::kServiceUnreachable));
    EXPECT_FALSE(status->faxSent());
    EXPECT_EQ(status->failure(), text(text::kNotSent) + " " + text(text::kServiceUnreachable));
}

// Sent while the windows were in the notification area: the end is told on
// the desktop, the icon's tooltip followed the fax, and the icon stays for
// the user to come back to; its Quit ends the run.
TEST_F(StatusWindowTest, SendEndingWhileHiddenIsToldOnTheDesktop) {
    QDialog send;
    bool told = false, stillThere = false;
    QString progress, toldText;
    QTimer::singleShot(0, &send, [&] {
        auto status = window(true, &send);
        QTimer::singleShot(0, status.get(), [&] {
            status->setWindowState(Qt::WindowMinimized);
            told = waitFor([&] { return !tray_->told_.isEmpty(); });
            toldText = tray_->told_.value(0);
            progress = tray_->progress_;
            QTest::qWait(100);
            stillThere = tray_->shown() && status->workerRunning() == false;
            tray_->quit();
        });
        status->exec();
        send.done(5);
    });
    EXPECT_EQ(send.exec(), 5);
    EXPECT_TRUE(told);
    EXPECT_EQ(toldText, "Miravo|" + text(text::kOutcomeAllDelivered));
    EXPECT_TRUE(stillThere);
    EXPECT_EQ(progress, "Miravo: " + text(text::kOutcomeAllDelivered));
}

using CredentialsDialogTest = UiTest;

TEST_F(CredentialsDialogTest, OkTakesTheEntriesAsTheyAreUpToTheFieldWidth) {
    state().settings.userName = u"old@miravo.test";
    state().settings.password = u"old";
    QString title, shownName, closeText;
    bool hidden = false;
    whenModal("id107", [&](QDialog* dialog) {
        title = dialog->windowTitle();
        closeText = WithoutMnemonic(find<QPushButton>(dialog, 2)->text());
        auto* name = find<QLineEdit>(dialog, 1006);
        auto* password = find<QLineEdit>(dialog, 1007);
        shownName = name->text();
        hidden = password->echoMode() == QLineEdit::Password;
        name->setText(QString(300, 'n'));
        password->clear();  // accepted as it is
        click(dialog, 1);
    });
    EXPECT_TRUE(RunCredentialsDialog(state(), nullptr));
    EXPECT_EQ(title, qstr(GetText(state().language, 16)));
    EXPECT_EQ(closeText, qstr(GetText(state().language, 1)));
    EXPECT_EQ(shownName, "old@miravo.test");
    EXPECT_TRUE(hidden);
    EXPECT_EQ(state().settings.userName, std::u16string(259, u'n'));
    EXPECT_EQ(state().settings.password, u"");
}

TEST_F(CredentialsDialogTest, SavePasswordCountsAtOnceAndCloseOrEscapeKeepTheNames) {
    state().settings.userName = u"demo@miravo.test";
    state().settings.password = u"demo";
    whenModal("id107", [&](QDialog* dialog) {
        find<QLineEdit>(dialog, 1006)->setText("changed");
        QTest::keyClick(find<QCheckBox>(dialog, 1005), Qt::Key_Space);
        click(dialog, 2);
    });
    EXPECT_FALSE(RunCredentialsDialog(state(), nullptr));
    EXPECT_TRUE(state().settings.savePassword);
    EXPECT_EQ(state().settings.userName, u"demo@miravo.test");

    bool ticked = false;
    whenModal("id107", [&](QDialog* dialog) {
        ticked = find<QCheckBox>(dialog, 1005)->isChecked();
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_FALSE(RunCredentialsDialog(state(), nullptr));
    EXPECT_TRUE(ticked);
    EXPECT_EQ(state().settings.password, u"demo");
}

}  // namespace
}  // namespace miravo::ui::test
