#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <thread>

#include "app/LanguageTable.h"
#include "tests/ui/UiTestSupport.h"
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

TEST_F(WorkerDialogTest, EscapeWhileTheTaskRunsWaitsForTheTaskThenEscapeAfterFailureGivesTwo) {
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
        ASSERT_TRUE(waitFor([&] { return find<QPushButton>(dialog, 1029)->isEnabled(); }));
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(RunWorkerDialog(paths(), nullptr), 2);
    EXPECT_TRUE(*fired);
    EXPECT_TRUE(closeWasDisabled);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(taskDone);
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
