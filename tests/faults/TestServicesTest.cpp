// A test that dies, however it dies, takes the services it started with it:
// no miravo-server is left running for a test machine to collect.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/server/ServerHarness.h"

namespace miravo::test {
namespace {

TEST(TestServices, EndWithTheTestThatStartedThem) {
    for (const int death : {SIGKILL, SIGSEGV}) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t test = ::fork();
        if (test == 0) {
            // A test that starts the service and then crashes or is killed.
            server::test::ServerProcess server({"--quiet"});
            pid_t started = server.start() ? server.pid() : -1;
            (void)!::write(fds[1], &started, sizeof started);
            ::pause();
            ::_exit(0);
        }
        ::close(fds[1]);
        pid_t service = -1;
        ASSERT_EQ(::read(fds[0], &service, sizeof service), static_cast<ssize_t>(sizeof service));
        ::close(fds[0]);
        ASSERT_GT(service, 0) << "the service did not start";
        ::kill(test, death);
        ::waitpid(test, nullptr, 0);
        bool gone = false;
        for (int i = 0; i < 250 && !gone; ++i) {
            // The service is reparented away from us: gone once no signal
            // reaches it, or a zombie its new parent has yet to collect.
            std::ifstream stat("/proc/" + std::to_string(service) + "/stat");
            std::string line;
            std::getline(stat, line);
            const std::size_t close = line.rfind(')');
            gone = ::kill(service, 0) != 0 ||
                   (close != std::string::npos && line.compare(close, 3, ") Z") == 0);
            if (!gone)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!gone)
            ::kill(service, SIGKILL);
        EXPECT_TRUE(gone) << "miravo-server outlived its test (signal " << death << ")";
    }
}

}  // namespace
}  // namespace miravo::test
