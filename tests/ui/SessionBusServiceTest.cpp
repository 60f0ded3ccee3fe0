// What the session bus service starts for each request, and when it ends.
#include <QSignalSpy>
#include <QTest>
#include <string>
#include <vector>

#include "tests/ui/UiTestSupport.h"
#include "ui/SessionBusService.h"

namespace miravo::ui::test {
namespace {

using Starts = std::vector<std::vector<std::string>>;

// A program starter that notes each start in `started` and succeeds.
auto noting(Starts& started) {
    return [&started](const std::vector<std::string>& arguments) {
        started.push_back(arguments);
        return true;
    };
}

TEST(SessionBusService, OpensEachLocalFileInAMiravoOfItsOwn) {
    const struct {
        QStringList uris;
        Starts started;
    } cases[] = {
        {{"file:///home/ann/.cache/Miravo/spool/Report__ps__job_7"},
         {{"/home/ann/.cache/Miravo/spool/Report__ps__job_7"}}},
        {{"file:///s/a%20b__ps__job_1", "file:///s/%C3%BC__ps__job_2"},
         {{"/s/a b__ps__job_1"}, {"/s/\xC3\xBC__ps__job_2"}}},
        // Nothing starts when any URI is not a local file.
        {{"file:///s/ok__ps__job_1", "https://example.org/x.pdf"}, {}},
        {{"file://otherhost/s/x"}, {}},
        {{"not a uri at all"}, {}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        Starts started;
        SessionBusService service(noting(started), {}, 60000);
        service.Open(c.uris, {});
        EXPECT_EQ(started, c.started) << c.uris.join(' ').toStdString();
    }
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
                              [&] { return running > 0; }, 50);
    QSignalSpy idle(&service, &SessionBusService::idle);
    QTest::qWait(200);
    EXPECT_EQ(idle.count(), 0);
    running = 0;
    EXPECT_TRUE(idle.wait(1000));
}

}  // namespace
}  // namespace miravo::ui::test
