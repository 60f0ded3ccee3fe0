#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "server/Store.h"
#include "tests/server/ServerHarness.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/AccountDialog.h"
#include "ui/Dialogs.h"

namespace miravo::ui::test {
namespace {

using server::test::kDemoLogin;
using server::test::kDemoPassword;
using server::test::ServerProcess;
using Names = std::vector<std::string>;

// The field names of a request body in order, and one field's value.
Names fieldNames(const std::string& body) {
    Names names;
    const std::string head = "Content-Disposition: form-data; name=\"";
    for (auto at = body.find(head); at != std::string::npos; at = body.find(head, at + 1)) {
        const auto start = at + head.size();
        names.push_back(body.substr(start, body.find('"', start) - start));
    }
    return names;
}

std::string field(const std::string& body, const std::string& name) {
    const std::string head = "name=\"" + name + "\"\r\n\r\n";
    const auto at = body.find(head);
    if (at == std::string::npos)
        return {};
    const auto start = at + head.size();
    return body.substr(start, body.find("\r\n", start) - start);
}

class AccountDialogTest : public UiTest {
  protected:
    void SetUp() override {
        server_ = std::make_unique<ServerProcess>(
            std::vector<std::string>{"--log-requests", log_.path().string()});
        ASSERT_TRUE(server_->start());
        const AppSettings s = server::test::transportSettings(*server_);
        state().settings.serviceHost = s.serviceHost;
        state().settings.objectPath = s.objectPath;
        state().settings.caFile = s.caFile;
        state().settings.userName = fromUtf8(kDemoLogin);
        state().settings.password = fromUtf8(kDemoPassword);
    }

    // Sets the demo account's preferences in the service's own storage.
    void storePreferences(const std::function<void(server::Preferences&)>& change) {
        server::Store store;
        std::string error;
        ASSERT_TRUE(store.open(server_->dataDir() / "miravo.db", error)) << error;
        auto account = store.findAccount(kDemoLogin);
        ASSERT_TRUE(account);
        change(account->preferences);
        ASSERT_EQ(store.setPreferences(account->id, account->preferences), server::StoreResult::Ok);
    }

    // The last request the service received.
    std::string lastBody() {
        std::string body;
        for (int n = 1;; ++n) {
            char name[16];
            std::snprintf(name, sizeof name, "%06d.body", n);
            if (!std::filesystem::exists(log_.path() / name))
                return body;
            body = miravo::test::readBytes(log_.path() / name);
        }
    }

    struct WorkerOutcome {
        QString status;
        bool failed = false;
    };
    // Clicks a Modify button. The worker dialog closes by itself after a
    // success; after a failure its status line is kept and Close pressed.
    WorkerOutcome modify(QDialog* dialog, int button) {
        auto outcome = std::make_shared<WorkerOutcome>();
        whenModal(
            "id110",
            [outcome](QDialog* box) {
                auto* close = find<QPushButton>(box, 1029);
                waitFor([&] { return close->isEnabled() || !box->isVisible(); });
                outcome->status = find<QLabel>(box, 1051)->text();
                if (close->isEnabled()) {
                    outcome->failed = true;
                    click(close);
                }
            },
            5000);
        click(dialog, button);
        return *outcome;
    }

    std::optional<server::Preferences> storedPreferences(const std::string& login) {
        server::Store store;
        std::string error;
        if (!store.open(server_->dataDir() / "miravo.db", error))
            return std::nullopt;
        auto account = store.findAccount(login);
        if (!account)
            return std::nullopt;
        return account->preferences;
    }

    QString text(int id) { return qstr(GetText(state().language, id)); }

    miravo::test::TempDir log_;
    std::unique_ptr<ServerProcess> server_;
};

bool checked(const QDialog* dialog, int id) {
    return find<QRadioButton>(dialog, id)->isChecked();
}
bool enabled(const QDialog* dialog, int id) {
    return find<QWidget>(dialog, id)->isEnabled();
}

TEST_F(AccountDialogTest, ReadingFillsTheControlsAndRedirectionGovernsTheEmailAlert) {
    storePreferences([](server::Preferences& p) {
        p.redirectToEmail = "ON";
        p.fileFormat = "TIFF";
        p.smsAlert = "ON";
        p.emailAlert = "OFF";
        p.faxHeader = "Demo & Co";
        p.smsNumber = "+49 30 1234567";
    });
    bool shown = false;
    whenModal("id109", [&](QDialog* dialog) {
        shown = true;
        EXPECT_EQ(dialog->windowTitle(), text(59));
        EXPECT_TRUE(checked(dialog, 1069));
        EXPECT_TRUE(checked(dialog, 1073));
        EXPECT_TRUE(checked(dialog, 1078));
        EXPECT_TRUE(checked(dialog, 1076));
        EXPECT_EQ(find<QLineEdit>(dialog, 1067)->text(), "Demo & Co");
        EXPECT_TRUE(enabled(dialog, 1067));
        EXPECT_EQ(find<QLineEdit>(dialog, 1082)->text(), "+49 30 1234567");
        EXPECT_TRUE(find<QLineEdit>(dialog, 1006)->text().isEmpty());
        EXPECT_FALSE(enabled(dialog, 1075));
        EXPECT_FALSE(enabled(dialog, 1076));
        EXPECT_FALSE(enabled(dialog, 1056));
        EXPECT_FALSE(enabled(dialog, 1064));
        click(dialog, 1070);
        EXPECT_TRUE(enabled(dialog, 1075));
        click(dialog, 1069);
        EXPECT_FALSE(enabled(dialog, 1076));
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(RunAccountDialog(paths(), nullptr), kAccountCancelled);
    EXPECT_TRUE(shown);
    EXPECT_EQ(fieldNames(lastBody()), (Names{"action", "username", "password"}));
}

TEST_F(AccountDialogTest, ParametersUpdateLeavesOutWhatMustNotBeSent) {
    storePreferences([](server::Preferences& p) {
        p.redirectToEmail = "ON";
        p.faxHeader = "Fixed by the service";
        p.headerEditable = false;
        p.smsNumber = "+49 30 1234567";
    });
    WorkerOutcome outcome;
    whenModal("id109", [&](QDialog* dialog) {
        EXPECT_FALSE(enabled(dialog, 1067));
        find<QLineEdit>(dialog, 1082)->clear();
        click(dialog, 1072);
        outcome = modify(dialog, 1080);
        click(dialog, 1029);
    });
    EXPECT_EQ(RunAccountDialog(paths(), nullptr), kAccountClosed);
    EXPECT_FALSE(outcome.failed);
    const auto stored = storedPreferences(kDemoLogin);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->fileFormat, "PDF");
    EXPECT_EQ(stored->faxHeader, "Fixed by the service");
    const std::string body = lastBody();
    EXPECT_EQ(fieldNames(body), (Names{"action", "username", "password", "redirectToEmail",
                                       "redirectFileFormat", "smsAlert"}));
    EXPECT_EQ(field(body, "action"), "update_user_preferences");
    EXPECT_EQ(field(body, "redirectFileFormat"), "PDF");
}

TEST_F(AccountDialogTest, EmailModifyNeedsEqualTextsAndAFailureKeepsTheLogin) {
    WorkerOutcome outcome;
    whenModal("id109", [&](QDialog* dialog) {
        auto* email = find<QLineEdit>(dialog, 1006);
        auto* confirm = find<QLineEdit>(dialog, 1055);
        QTest::keyClicks(email, "taken");
        QTest::keyClicks(confirm, "taken");
        EXPECT_TRUE(enabled(dialog, 1056));
        QTest::keyClick(confirm, Qt::Key_Backspace);
        EXPECT_FALSE(enabled(dialog, 1056));
        QTest::keyClicks(confirm, "n");
        EXPECT_TRUE(enabled(dialog, 1056));
        // The service refuses an address that is none.
        outcome = modify(dialog, 1056);
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(RunAccountDialog(paths(), nullptr), kAccountCancelled);
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.status, text(92));  // 116
    EXPECT_EQ(state().settings.userName, fromUtf8(kDemoLogin));
}

TEST_F(AccountDialogTest, NewPasswordAndEmailBecomeTheLoginAndOptionsShowsThem) {
    WorkerOutcome password, email, parameters;
    QString shownUser, shownPassword;
    whenModal("id106", [&](QDialog* options) {
        whenModal("id109", [&](QDialog* dialog) {
            QTest::keyClicks(find<QLineEdit>(dialog, 1007), "n3w pass");
            QTest::keyClicks(find<QLineEdit>(dialog, 1063), "n3w pass");
            password = modify(dialog, 1064);
            QTest::keyClicks(find<QLineEdit>(dialog, 1006), "renamed@miravo.test");
            QTest::keyClicks(find<QLineEdit>(dialog, 1055), "renamed@miravo.test");
            email = modify(dialog, 1056);
            // The next request logs in with both.
            click(dialog, 1078);
            parameters = modify(dialog, 1080);
            click(dialog, 1029);
        });
        click(options, 1054);
        shownUser = find<QLineEdit>(options, 1006)->text();
        shownPassword = find<QLineEdit>(options, 1007)->text();
        options->close();
    });
    RunOptionsDialog(paths());
    EXPECT_FALSE(password.failed) << password.status.toStdString();
    EXPECT_FALSE(email.failed) << email.status.toStdString();
    EXPECT_FALSE(parameters.failed) << parameters.status.toStdString();
    const auto stored = storedPreferences("renamed@miravo.test");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->smsAlert, "ON");
    EXPECT_EQ(state().settings.password, u"n3w pass");
    EXPECT_EQ(state().settings.userName, u"renamed@miravo.test");
    EXPECT_EQ(shownUser, "renamed@miravo.test");
    EXPECT_EQ(shownPassword, "n3w pass");
    const std::string body = lastBody();
    EXPECT_EQ(field(body, "username"), "renamed@miravo.test");
    EXPECT_EQ(field(body, "password"), "n3w pass");
}

// The worker dialog words what the account task does while it runs.
TEST_F(AccountDialogTest, WorkerDialogSaysWhatTheAccountTaskDoes) {
    ServerProcess slow({"--fault", "delay:500,action=get_user_preferences", "--fault",
                        "delay:500,action=update_user_preferences"});
    ASSERT_TRUE(slow.start());
    state().settings.serviceHost = server::test::transportSettings(slow).serviceHost;
    state().settings.caFile = server::test::transportSettings(slow).caFile;
    QString reading, saving;
    const auto read = whenModal("id110", [&](QDialog* box) {
        reading = find<QLabel>(box, 1051)->text();
    });
    const auto account = whenModal("id109", [&](QDialog* dialog) {
        whenModal("id110", [&](QDialog* box) { saving = find<QLabel>(box, 1051)->text(); });
        click(dialog, 1080);
        dialog->reject();
    });
    EXPECT_EQ(RunAccountDialog(paths(), nullptr), kAccountCancelled);
    EXPECT_TRUE(*read && *account);
    EXPECT_EQ(reading, text(207));
    EXPECT_EQ(saving, text(208));
}

TEST_F(AccountDialogTest, FailedReadingNeverShowsTheDialog) {
    state().settings.password = u"wrong";
    QString status;
    const auto worker = whenModal("id110", [&](QDialog* box) {
        auto* close = find<QPushButton>(box, 1029);
        ASSERT_TRUE(waitFor([&] { return close->isEnabled(); }));
        status = find<QLabel>(box, 1051)->text();
        click(close);
    });
    const auto account = whenModal(
        "id109", [](QDialog* dialog) { dialog->reject(); }, 2000);
    EXPECT_EQ(RunAccountDialog(paths(), nullptr), kAccountNotRead);
    QTest::qWait(50);
    EXPECT_TRUE(*worker);
    EXPECT_FALSE(*account);
    EXPECT_EQ(status, text(84));
}

}  // namespace
}  // namespace miravo::ui::test
