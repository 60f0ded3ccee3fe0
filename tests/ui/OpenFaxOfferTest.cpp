// Documents printed while a fax is open, offered to it over a private
// session bus: the open fax runs in a program of its own (a stand-in that
// notes what reaches its addDocuments), the offer runs here.
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QImage>
#include <QTest>
#include <future>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/LanguageTable.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/OpenFaxChoiceDialog.h"
#include "ui/OpenFaxOffer.h"
#include "ui/OpenFaxPublication.h"
#include "app/Paths.h"
#include "ui/Dialogs.h"
#include "ui/SendDialog.h"
#include "ui/SessionBusService.h"

namespace miravo::ui::test {
namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::string>;

const QString kHelper = QStringLiteral(MIRAVO_BINARY_DIR "/bin/miravo-test-open-fax");
// Runs a program as another user than this test's.
const QStringList kAsAnotherUser = {"setpriv", "--reuid=65534", "--regid=65534",
                                    "--clear-groups", "--"};

// A program with an open fax described as `description`, on `bus`.
class FaxProgram {
  public:
    FaxProgram(const PrivateSessionBus& bus, const QString& description, QStringList runAs = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        process_.setProcessEnvironment(environment);
        runAs << kHelper << description;
        process_.start(runAs.takeFirst(), runAs);
        process_.waitForStarted();
        const QString ready = nextLine();
        if (ready.startsWith(QStringLiteral("ready ")))
            name_ = ready.mid(6);
    }
    ~FaxProgram() { end(); }

    const QString& name() const { return name_; }
    // The next line it writes, or empty when none comes in time.
    QString nextLine(int milliseconds = 10000) {
        QDeadlineTimer deadline(milliseconds);
        while (!process_.canReadLine() && !deadline.hasExpired() &&
               process_.state() == QProcess::Running)
            process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        return QString::fromLocal8Bit(process_.readLine()).trimmed();
    }
    void withdraw() {
        process_.write("withdraw\n");
        EXPECT_EQ(nextLine(), QStringLiteral("withdrawn"));
    }
    void end() {
        process_.kill();
        process_.waitForFinished();
    }

  private:
    QProcess process_;
    QString name_;
};

class OpenFaxOfferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (bus_.address().isEmpty() || !QFile::exists(kHelper))
            GTEST_SKIP() << "no bus daemon or no stand-in program";
        connection_ = bus_.connect();
        ASSERT_TRUE(connection_.isConnected());
        for (const char* name : {"letter.pdf", "invoice 2.pdf"}) {
            files_.push_back((dir_.path() / name).string());
            std::ofstream(files_.back()) << "%PDF-1.4\n";
        }
        fs::permissions(dir_.path(), fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
    }

    PrivateSessionBus bus_;
    QDBusConnection connection_{QString()};
    miravo::test::TempDir dir_;
    Files files_;
};

// What the user chooses is where the documents go; a fax that closed (or
// was withdrawn) while the user chose takes nothing and leaves them for a
// new fax; with no fax open nobody is asked.
TEST_F(OpenFaxOfferTest, PrintedDocumentsGoWhereTheUserChooses) {
    FaxProgram one(bus_, QStringLiteral("Letter - 2 pages"));
    FaxProgram two(bus_, QStringLiteral("Offer 4711 - 3 pages"));
    ASSERT_FALSE(one.name().isEmpty() || two.name().isEmpty());
    // Faxes are offered by the order of their names.
    FaxProgram* first = one.name() < two.name() ? &one : &two;
    FaxProgram* second = first == &one ? &two : &one;
    const QString added = QString::fromStdString("added " + files_[0] + "|" + files_[1]);
    enum Meanwhile { Nothing, Withdrawn, Ended };
    const struct {
        std::optional<std::size_t> choice;
        Meanwhile meanwhile;  // to the chosen fax, while the user chooses
        int offered;
        bool taken;
    } cases[] = {
        {std::nullopt, Nothing, 2, false}, {0, Nothing, 2, true}, {1, Nothing, 2, true},
        {0, Withdrawn, 2, false},          {0, Ended, 1, false},  {0, Nothing, 0, false},
    };
    for (const auto& c : cases) {
        FaxProgram* chosen = c.choice == 0 && c.offered == 2 ? first : second;
        int offered = 0;
        const bool taken = OfferToOpenFax(connection_, files_, [&](const auto& faxes) {
            offered = static_cast<int>(faxes.size());
            if (c.meanwhile == Withdrawn)
                chosen->withdraw();
            if (c.meanwhile == Ended)
                chosen->end();
            return c.choice;
        });
        const std::string what = std::to_string(c.choice.value_or(9)) + "/" +
                                 std::to_string(c.meanwhile) + "/" + std::to_string(c.offered);
        EXPECT_EQ(offered, c.offered) << what;
        EXPECT_EQ(taken, c.taken) << what;
        for (FaxProgram* fax : {first, second})
            EXPECT_EQ(fax->nextLine(taken && fax == chosen ? 10000 : 200),
                      taken && fax == chosen ? added : QString())
                << what;
    }
}

// The open fax takes local files its user may read, a few at a time, and
// nothing else: what it refuses never reaches addDocuments.
TEST_F(OpenFaxOfferTest, AnOpenFaxTakesOnlyReadableLocalFiles) {
    FaxProgram open(bus_, QStringLiteral("Letter - 2 pages"));
    ASSERT_FALSE(open.name().isEmpty());
    fs::create_directory(dir_.path() / "folder");
    const QString ok = QString::fromStdString("file://" + files_[0]);
    const struct {
        QStringList uris;
        bool taken;
    } cases[] = {
        {{"file:--export-contacts=/tmp/x"}, false},
        {{QString::fromStdString("file://" + (dir_.path() / "folder").string())}, false},
        {QStringList(kMaxDocumentsPerOpen + 1, ok), false},
        {{ok, "relative.pdf"}, false},  // one refused refuses all
        {{ok}, true},
    };
    for (const auto& c : cases) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            open.name(), OpenFaxPath(open.name()), kOpenFaxInterface, "AddDocuments");
        call << c.uris;
        const QDBusMessage reply = connection_.call(call, QDBus::Block, 10000);
        const QString what = c.uris.join(' ').left(80);
        EXPECT_EQ(reply.type() == QDBusMessage::ReplyMessage, c.taken) << what.toStdString();
        EXPECT_EQ(open.nextLine(c.taken ? 10000 : 200),
                  c.taken ? "added " + QString::fromStdString(files_[0]) : QString())
            << what.toStdString();
    }
}

// Another user on the same bus neither reaches an open fax nor has its own
// "open fax" offered: either way nothing is handed over or shown.
TEST_F(OpenFaxOfferTest, AnotherUserIsRefusedBothWays) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    if (QProcess::execute(kAsAnotherUser.first(),
                          QStringList(kAsAnotherUser.mid(1)) << "test" << "-x" << kHelper) != 0)
        GTEST_SKIP() << "the build folder is not open to other users";
    const std::string shared = "/tmp/miravo-open-fax-" + std::to_string(::getpid()) + ".pdf";
    std::ofstream(shared) << "%PDF-1.4\n";
    fs::permissions(shared, fs::perms::others_read, fs::perm_options::add);

    FaxProgram ours(bus_, QStringLiteral("Letter - 2 pages"));
    ASSERT_FALSE(ours.name().isEmpty());
    const QString path = OpenFaxPath(ours.name());
    for (const QString& method : {QStringLiteral("Description"), QStringLiteral("AddDocuments")}) {
        QStringList call = kAsAnotherUser;
        call << "dbus-send" << "--bus=" + bus_.address() << "--print-reply"
             << "--dest=" + ours.name() << path << QString(kOpenFaxInterface) + "." + method;
        if (method == "AddDocuments")
            call << QString::fromStdString("array:string:file://" + shared);
        QProcess sender;
        sender.setProcessChannelMode(QProcess::MergedChannels);
        sender.start(call.takeFirst(), call);
        ASSERT_TRUE(sender.waitForFinished(10000));
        const QString said = QString::fromLocal8Bit(sender.readAll());
        EXPECT_NE(sender.exitCode(), 0) << method.toStdString() << ": " << said.toStdString();
        EXPECT_TRUE(said.contains("AccessDenied")) << said.toStdString();
        EXPECT_FALSE(said.contains("Letter")) << said.toStdString();
    }
    EXPECT_EQ(ours.nextLine(300), QString());

    ours.end();
    FaxProgram theirs(bus_, QStringLiteral("Not yours"), kAsAnotherUser);
    ASSERT_FALSE(theirs.name().isEmpty());
    EXPECT_TRUE(FindOpenFaxes(connection_).empty());
    EXPECT_FALSE(OfferToOpenFax(connection_, {shared}, [](const auto&) {
        return std::optional<std::size_t>(0);
    }));
    EXPECT_EQ(theirs.nextLine(300), QString());
    fs::remove(shared);
}

// The question by keyboard alone: arrows choose the fax, Enter adds to it,
// Escape makes a new fax, Tab reaches either button.
TEST(OpenFaxChoiceDialog, IsAnsweredByKeyboardAlone) {
    const std::vector<OpenFaxOnBus> faxes = {{"a", "Letter - 2 pages"}, {"b", "Offer - 3 pages"}};
    LanguageTable language;
    LoadLanguage(language, u"" MIRAVO_SOURCE_DIR "/data/lang.ini", u"en");
    const struct {
        std::vector<Qt::Key> keys;
        std::optional<std::size_t> chosen;
    } cases[] = {
        {{Qt::Key_Return}, 0},
        {{Qt::Key_Down, Qt::Key_Return}, 1},
        {{Qt::Key_Down, Qt::Key_Tab, Qt::Key_Space}, 1},
        {{Qt::Key_Escape}, std::nullopt},
        {{Qt::Key_Down, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Space}, std::nullopt},
    };
    for (const auto& c : cases) {
        OpenFaxChoiceDialog dialog(language, faxes);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        for (const Qt::Key key : c.keys)
            QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.chosen(), c.chosen);
    }
}

// With MIRAVO_SCREENSHOTS=<folder>, the question with two open faxes is
// saved there as open-fax-choice.png, or open-fax-choice-<code>.png in the
// language MIRAVO_SCREENSHOT_LANG names.
TEST(OpenFaxChoiceDialog, Screenshot) {
    const QByteArray folder = qgetenv("MIRAVO_SCREENSHOTS");
    if (folder.isEmpty())
        GTEST_SKIP() << "no MIRAVO_SCREENSHOTS folder";
    const QString code = qEnvironmentVariable("MIRAVO_SCREENSHOT_LANG", "en");
    LanguageTable language;
    ASSERT_EQ(LoadLanguage(language, u"" MIRAVO_SOURCE_DIR "/data/lang.ini", u16str(code)), 1);
    OpenFaxChoiceDialog dialog(
        language, {{"a", "Quarterly report, Invoice 2025-118 - 14 pages"}, {"b", "Offer 4711 - 3 pages"}});
    dialog.show();
    QTest::qWait(200);
    const QString name = code == "en" ? "open-fax-choice" : "open-fax-choice-" + code;
    EXPECT_TRUE(dialog.grab().save(QString::fromLocal8Bit(folder) + "/" + name + ".png", "PNG"));
}

// The real send dialog on this session's bus: while it is open, a document
// printed meanwhile joins its fax at the end; once it is closed, nothing
// reaches it any more. (Bus calls run beside the dialog's event loop, as
// they come from another program.)
using OpenSendDialogTest = UiTest;

TEST_F(OpenSendDialogTest, APrintedDocumentJoinsTheOpenFaxUntilItCloses) {
    PrivateSessionBus bus;
    if (bus.address().isEmpty())
        GTEST_SKIP() << "no bus daemon";
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    const QDBusConnection printer = bus.connect();
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(Qt::white);
    ASSERT_TRUE(picture.save(QString::fromStdString((dataDir() / "printed.png").string())));
    const Files printed = {(dataDir() / "printed.png").string()};
    const auto ready = [](const auto& future) {
        return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    };
    QStringList captions;
    bool added = false;
    const auto seen = whenModal("id104", [&](QDialog* dialog) {
        auto* list = dialog->findChild<QListWidget*>("faxPageList");
        auto faxes = std::async(std::launch::async, [&] { return FindOpenFaxes(printer); });
        if (waitFor([&] { return ready(faxes); }, 30000)) {
            const std::vector<OpenFaxOnBus> open = faxes.get();
            if (open.size() == 1) {
                auto adding = std::async(std::launch::async, [&] {
                    return AddToOpenFax(printer, open[0].busName, printed);
                });
                waitFor([&] { return ready(adding) && list->count() == 1; }, 30000);
                added = ready(adding) && adding.get();
            }
        }
        for (int i = 0; i < list->count(); ++i)
            captions << list->item(i)->toolTip();
        closeDiscardingWork(dialog);
    });
    EXPECT_EQ(RunSendDialog(paths()), kSendDialogClosed);
    ASSERT_TRUE(*seen);
    EXPECT_TRUE(added);
    ASSERT_EQ(captions.size(), 1);
    EXPECT_TRUE(captions[0].contains("printed.png")) << captions[0].toStdString();
    EXPECT_TRUE(std::async(std::launch::async, [&] { return FindOpenFaxes(printer); }).get().empty());
}

}  // namespace
}  // namespace miravo::ui::test
