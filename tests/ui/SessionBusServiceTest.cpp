// What the session bus service starts for each request, and when it ends.
#include <sys/stat.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/ui/UiTestSupport.h"
#include "ui/SessionBusService.h"

namespace miravo::ui::test {
namespace {

namespace fs = std::filesystem;
using Starts = std::vector<std::vector<std::string>>;

// A program starter that notes each start in `started` and succeeds.
auto noting(Starts& started) {
    return [&started](const std::vector<std::string>& arguments) {
        started.push_back(arguments);
        return true;
    };
}

std::string contentOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Open takes absolute file URIs of readable regular files only, a few at a
// time, and starts one program for them all, in order: everything else is
// refused with a bus error, starts nothing and leaves every file it names
// as it was.
TEST(SessionBusService, OpensOnlyAFewDocumentsAsOneFaxAfterTheEndOfOptions) {
    PrivateSessionBus bus;
    QDBusConnection connection = bus.connect();
    if (!connection.isConnected())
        GTEST_SKIP() << "no session bus daemon";
    Starts started;
    SessionBusService service(noting(started), {}, 60000);
    ASSERT_TRUE(connection.registerObject(kBusObjectPath, &service, QDBusConnection::ExportAllSlots));

    miravo::test::TempDir dir;
    const fs::path ok = dir / "ok.pdf", second = dir / "b c.pdf", target = dir / "X",
                   fifo = dir / "fifo";
    std::ofstream(ok) << "%PDF-1.4\n";
    std::ofstream(second) << "%PDF-1.4\n";
    std::ofstream(target) << "keep me";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(dir / "folder");

    QStringList thirty;
    for (int i = 0; i < 30; ++i)
        thirty << QString::fromStdString("file://" + ok.string());
    const QString okUri = QString::fromStdString("file://" + ok.string());
    const struct {
        QStringList uris;
        Starts started;
    } cases[] = {
        {{QString::fromStdString("file:--export-contacts=" + target.string())}, {}},
        {{"file:-h"}, {}},
        {{"file:rel"}, {}},
        {{"file:"}, {}},
        {{QString::fromStdString("file://host" + ok.string())}, {}},
        {{QString::fromStdString("file://" + (dir / "missing").string())}, {}},
        {{QString::fromStdString("file://" + fifo.string())}, {}},
        {{QString::fromStdString("file://" + (dir / "folder").string())}, {}},
        {thirty, {}},
        {{QString::fromStdString("file://" + ok.string() + "%00.x")}, {}},
        {{okUri, "file:-h"}, {}},  // one refused URI refuses the call
        {{okUri}, {{"--", ok.string()}}},
        {{QString::fromStdString("file://localhost" + ok.string())}, {{"--", ok.string()}}},
        {{QString::fromStdString("file://" + (dir / "b%20c.pdf").string()), okUri},
         {{"--", second.string(), ok.string()}}},
    };
    for (const auto& c : cases) {
        const std::string what = c.uris.join(' ').left(120).toStdString();
        started.clear();
        QDBusMessage call = QDBusMessage::createMethodCall(
            connection.baseService(), kBusObjectPath, "org.freedesktop.Application", "Open");
        call << c.uris << QVariantMap();
        const QDBusMessage reply = connection.call(call, QDBus::BlockWithGui, 10000);
        EXPECT_EQ(started, c.started) << what;
        EXPECT_EQ(reply.type() == QDBusMessage::ErrorMessage, c.started.empty()) << what;
    }
    EXPECT_EQ(contentOf(target), "keep me");
    EXPECT_EQ(contentOf(ok), "%PDF-1.4\n");
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
}

// No more windows than the cap run at once; ended ones make room again.
TEST(SessionBusService, RefusesToStartMoreThanTheCapOfRunningPrograms) {
    miravo::test::TempDir dir;
    const fs::path ok = dir / "ok.pdf";
    std::ofstream(ok) << "%PDF-1.4\n";
    const QStringList most(kMaxDocumentsPerOpen, QString::fromStdString("file://" + ok.string()));
    Starts started;
    int running = 0;
    SessionBusService service(
        [&](const std::vector<std::string>& arguments) {
            started.push_back(arguments);
            ++running;
            return true;
        },
        [&] { return running; }, 60000);
    for (int i = 0; i < kMaxRunningPrograms + 2; ++i)
        service.Open(most, {});
    EXPECT_EQ(started.size(), std::size_t(kMaxRunningPrograms));
    EXPECT_EQ(started.front().size(), std::size_t(kMaxDocumentsPerOpen + 1));
    service.Activate({});
    EXPECT_EQ(started.size(), std::size_t(kMaxRunningPrograms));
    running = kMaxRunningPrograms - 1;
    service.Open(most, {});
    EXPECT_EQ(started.size(), std::size_t(kMaxRunningPrograms + 1));
    service.Activate({});
    EXPECT_EQ(started.size(), std::size_t(kMaxRunningPrograms + 1));
}

TEST(SessionBusService, ActivateStartsThePlainProgramAndActionsStartNothing) {
    Starts started;
    SessionBusService service(noting(started), {}, 60000);
    service.ActivateAction("send", {}, {});
    EXPECT_TRUE(started.empty());
    service.Activate({});
    EXPECT_EQ(started, Starts{{}});
}

TEST(SessionBusService, EndsWhenIdleButNotWhileAProgramItStartedRuns) {
    int running = 1;
    SessionBusService service([](const std::vector<std::string>&) { return true; },
                              [&] { return running; }, 50);
    QSignalSpy idle(&service, &SessionBusService::idle);
    QTest::qWait(200);
    EXPECT_EQ(idle.count(), 0);
    running = 0;
    EXPECT_TRUE(idle.wait(1000));
}

}  // namespace
}  // namespace miravo::ui::test
