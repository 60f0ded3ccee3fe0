#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "app/LanguageTable.h"
#include "service/CoverPage.h"
#include "tests/service/HostileService.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Mnemonics.h"
#include "ui/WorkerDialog.h"

namespace miravo::ui::test {
namespace {

using WorkerDialogTest = UiTest;

TEST_F(WorkerDialogTest, SucceedingTaskClosesWithOneAndTheCallerSeesItsWork) {
    int worked = 0;
    state().job.workerTask = [&](AppPaths&, WorkerReport& report) {
        report.setTitle(u"Cover page");
        worked = 42;
        return 1;
    };
    EXPECT_EQ(RunWorkerDialog(paths(), nullptr), kWorkerDialogSucceeded);
    EXPECT_EQ(worked, 42);
}

TEST_F(WorkerDialogTest, FailingTaskKeepsItsMessageAndCloseReturns1029) {
    state().job.workerTask = [](AppPaths&, WorkerReport& report) {
        report.setTitle(u"Account management");
        report.setLabel(1051, u"Authentication failed");
        return 0;
    };
    QString title, message;
    const auto fired = whenModal("id110", [&](QDialog* dialog) {
        auto* close = find<QPushButton>(dialog, 1029);
        ASSERT_TRUE(waitFor([&] { return close->isEnabled(); }));
        title = dialog->windowTitle();
        message = find<QLabel>(dialog, 1051)->text();
        click(close);
    });
    EXPECT_EQ(RunWorkerDialog(paths(), nullptr), kWorkerDialogClosed);
    EXPECT_TRUE(*fired);
    EXPECT_EQ(title, "Account management");
    EXPECT_EQ(message, "Authentication failed");
}

// A task that does not look at its window: Escape cancels, yet the dialog
// waits for the task before it ends.
TEST_F(WorkerDialogTest, EscapeWhileTheTaskRunsCancelsAndWaitsForTheTask) {
    std::atomic<bool> release{false};
    std::atomic<bool> taskDone{false};
    state().job.workerTask = [&](AppPaths&, WorkerReport&) {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        taskDone = true;
        return 0;
    };
    bool stayedOpen = false;
    bool closeWasDisabled = false;
    const auto fired = whenModal("id110", [&](QDialog* dialog) {
        closeWasDisabled = !find<QPushButton>(dialog, 1029)->isEnabled();
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTest::qWait(100);
        stayedOpen = dialog->isVisible() && !taskDone;
        release = true;
    });
    EXPECT_EQ(RunWorkerDialog(paths(), nullptr), kWorkerDialogCancelled);
    EXPECT_TRUE(*fired);
    EXPECT_TRUE(closeWasDisabled);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(taskDone);
}

// Cancel, Escape and the close box reach the task at once; a task that
// claims success after being cancelled still ends the dialog as cancelled.
TEST_F(WorkerDialogTest, CancellingEndsTheTaskWithinASecondAndNeverReportsSuccess) {
    const std::vector<std::pair<const char*, std::function<void(QDialog*)>>> ways = {
        {"Cancel", [](QDialog* d) { click(d, 2); }},
        {"Escape", [](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }},
        {"close box", [](QDialog* d) { d->close(); }},
    };
    for (const auto& [name, cancel] : ways) {
        SCOPED_TRACE(name);
        state().job.workerTask = [](AppPaths&, WorkerReport& report) {
            while (report.isOpen())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            report.close(kWorkerDialogSucceeded);
            return 1;
        };
        std::chrono::steady_clock::time_point cancelled;
        QString cancelText;
        whenModal("id110", [&](QDialog* dialog) {
            cancelText = WithoutMnemonic(find<QPushButton>(dialog, 2)->text());
            QTest::qWait(50);
            cancelled = std::chrono::steady_clock::now();
            cancel(dialog);
        });
        EXPECT_EQ(RunWorkerDialog(paths(), nullptr), kWorkerDialogCancelled);
        EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(1));
        EXPECT_EQ(cancelText, qstr(GetText(state().language, text::kCancel)));
    }
}

// The cover page's exchange with a service that drips its answer is given
// up within a second of Cancel.
TEST_F(WorkerDialogTest, CancelAbandonsAHangingCoverPageExchange) {
    miravo::test::ClearProxyEnvironment();
    const auto certificates = miravo::test::TestCertificates::make({"IP:127.0.0.1"});
    miravo::test::writeBytes(dataDir() / "ca.pem", certificates.caPem);
    miravo::test::LoopbackServer service(&certificates);
    miravo::test::ServeHostile(service, {"drip", "convert", miravo::test::HostileCase::Kind::Drip, {}});
    AppSettings& settings = state().settings;
    settings.serviceHost = u"127.0.0.1:" + fromUtf8(std::to_string(service.port()));
    settings.objectPath = u"api2/proxy.php";
    settings.caFile = fromUtf8((dataDir() / "ca.pem").string());
    settings.timeoutMs = 30000;
    state().job.coverText = u"Hello";
    state().job.workerTask = CoverPageTask;
    bool asked = false;
    std::chrono::steady_clock::time_point cancelled;
    whenModal("id110", [&](QDialog* dialog) {
        asked = waitFor([&] { return !service.requests().empty(); });
        QTest::qWait(300);
        cancelled = std::chrono::steady_clock::now();
        click(dialog, 2);
    });
    EXPECT_EQ(RunWorkerDialog(paths(), nullptr), kWorkerDialogCancelled);
    EXPECT_TRUE(asked);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(1));
}

TEST_F(WorkerDialogTest, TaskThatClosesTheDialogItselfEndsItWithItsResult) {
    state().job.workerTask = [](AppPaths&, WorkerReport& report) {
        report.close(0);
        return 0;  // the cover-page task's contract: close, then report failure
    };
    EXPECT_EQ(RunWorkerDialog(paths(), nullptr), 0);
}

TEST_F(WorkerDialogTest, BarMovesWhileTheTaskRunsAndWrapsAtTheEnd) {
    std::atomic<bool> release{false};
    state().job.workerTask = [&](AppPaths&, WorkerReport&) {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return 1;
    };
    bool moved = false, wrapped = false;
    whenModal("id110", [&](QDialog* dialog) {
        auto* bar = find<QProgressBar>(dialog, 1013);
        moved = waitFor([&] { return bar->value() >= 3; });
        bar->setValue(bar->maximum());
        wrapped = waitFor([&] { return bar->value() < 5; });
        release = true;
    });
    EXPECT_EQ(RunWorkerDialog(paths(), nullptr), 1);
    EXPECT_TRUE(moved);
    EXPECT_TRUE(wrapped);
}

TEST_F(WorkerDialogTest, NoTaskOpensNothing) {
    state().job.workerTask = nullptr;
    EXPECT_EQ(RunWorkerDialog(paths(), nullptr), 0);
}

}  // namespace
}  // namespace miravo::ui::test
