// What the dialog tests share: a fresh record with the English texts and
// an application-data folder of its own, controls found by id, and a way
// to act on a modal dialog once it has opened.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDBusConnection>
#include <QProcess>
#include <QTemporaryFile>
#include <QDialog>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/AppState.h"
#include "tests/TestSupport.h"
#include "ui/DialogControls.h"

namespace miravo::ui::test {

// A record as start-up leaves it: English texts from the program folder,
// default settings (no version check), and an application-data folder
// under a temporary folder.
class UiTest : public ::testing::Test {
  protected:
    UiTest();
    ~UiTest() override;

    AppState& state() { return *state_; }
    AppPaths& paths() { return paths_; }
    const miravo::test::TempDir& dataDir() const { return data_; }

  private:
    miravo::test::TempDir data_;
    std::unique_ptr<AppState> state_;
    AppPaths paths_;
};

// The control with `id` below `dialog`; a test failure when missing.
template <class T = QWidget>
T* find(const QWidget* dialog, int id) {
    T* widget = control<T>(dialog, id);
    if (!widget)
        ADD_FAILURE() << "no control id" << id << " of the wanted kind";
    return widget;
}

// Clicks a button with the mouse, as a user would.
void click(QAbstractButton* button);
void click(const QWidget* dialog, int id);

// Lets the event loop run until `condition` holds or `timeoutMs` passed.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

// Once a modal dialog whose objectName is `name` is open, runs `act` on it
// (from its own event loop). Returns a flag that tells whether it ran.
std::shared_ptr<bool> whenModal(const QString& name, std::function<void(QDialog*)> act,
                                int timeoutMs = 20000);

// Escape on a send dialog, throwing away what it holds when it asks.
void closeDiscardingWork(QWidget* dialog);

// A session bus of the test's own, which, unlike a desktop's, lets every
// user of the computer connect (what another user may try is then up to
// our programs); no address when the bus daemon cannot be started.
class PrivateSessionBus {
  public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    // The test's own connection to it.
    QDBusConnection connect() const;
    const QString& address() const { return address_; }

  private:
    QTemporaryFile config_;
    QProcess daemon_;
    QString address_;
};

}  // namespace miravo::ui::test
