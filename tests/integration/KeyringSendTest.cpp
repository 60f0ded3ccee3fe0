// miravo-send and the desktop's keyring: a private session bus with an
// unlocked GNOME Keyring takes the password out of the settings file at the
// first send and gives it to the next; without a keyring nothing changes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/ProfileIni.h"
#include "app/Text.h"
#include "cli/Send.h"
#include "tests/integration/SendCommandRunner.h"
#include "tests/server/ServerHarness.h"

namespace miravo {
namespace {

namespace fs = std::filesystem;
using server::test::ServerProcess;

// Starts `argv` with `input` on its standard input; its first output line
// comes back in `firstLine` when asked for.
pid_t spawn(std::vector<std::string> argv, const std::string& input, std::string* firstLine) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
        return -1;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        test::DieWithParent(parent);
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[1]);
        close(out[0]);
        std::vector<char*> v;
        for (auto& a : argv)
            v.push_back(a.data());
        v.push_back(nullptr);
        execvp(v[0], v.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    (void)!write(in[1], input.data(), input.size());
    close(in[1]);
    if (firstLine) {
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            firstLine->push_back(c);
    }
    close(out[0]);
    return pid;
}

void stop(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

class KeyringSendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_ = std::make_unique<ServerProcess>(
            std::vector<std::string>{"--quiet", "--version-port", "-1", "--delivery-time", "0"});
        ASSERT_TRUE(server_->start()) << server_->output();
        if (const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS"))
            oldBus_ = bus;
    }
    void TearDown() override {
        stop(keyring_);
        stop(bus_);
        if (oldBus_)
            setenv("DBUS_SESSION_BUS_ADDRESS", oldBus_->c_str(), 1);
        else
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

    // A session bus of our own and a keyring unlocked with an empty password.
    bool startKeyring() {
        std::string address;
        bus_ = spawn({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, "", &address);
        if (address.empty())
            return false;
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        const fs::path data = dir_ / "keyring";
        setenv("XDG_DATA_HOME", data.c_str(), 1);
        keyring_ = spawn({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
                         "\n", nullptr);
        unsetenv("XDG_DATA_HOME");
        for (int i = 0; i < 100 && !fs::exists(data / "keyrings/login.keyring"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return fs::exists(data / "keyrings/login.keyring");
    }

    void writeSettings() {
        test::writeBytes(dir_ / "settings.ini",
                         "[OPTIONS]\nSERV_NAME=127.0.0.1:" + std::to_string(server_->port()) +
                             "\nCA_FILE=" + server_->caFile().string() +
                             "\nUSER_NAME=demo@miravo.test\nUSER_PASS=demo\nSAVE_PASS=1\n");
    }
    test::CommandRun send() {
        test::writeBytes(dir_ / "letter.tif", server::test::faxDocument());
        return test::RunSendCommand(dir_.path(),
                                    {"--to", "+49 30 1234567", (dir_ / "letter.tif").string()});
    }
    std::u16string settingsText() {
        return test::fromUtf16le(test::readBytes(dir_ / "settings.ini"));
    }
    std::optional<std::u16string> setting(std::u16string_view key) {
        return ProfileFile::load(dir_ / "settings.ini").value(u"OPTIONS", key);
    }

    test::TempDir dir_;
    std::unique_ptr<ServerProcess> server_;
    std::optional<std::string> oldBus_;
    pid_t bus_ = -1;
    pid_t keyring_ = -1;
};

TEST_F(KeyringSendTest, FirstSendMovesThePasswordAndTheNextReadsIt) {
    if (!startKeyring())
        GTEST_SKIP() << "no dbus-daemon or gnome-keyring-daemon";
    writeSettings();
    const test::CommandRun first = send();
    ASSERT_EQ(first.status, cli::kExitOk) << first.out;
    const std::u16string moved = settingsText();
    EXPECT_EQ(moved.find(u"demo@"), moved.find(u"demo"));  // the user name only
    EXPECT_EQ(setting(u"USER_PASS"), u"") << toUtf8(moved);
    EXPECT_EQ(setting(u"PASS_STORE"), u"keyring");
    EXPECT_EQ(first.out.find("demo\n"), std::string::npos) << first.out;

    const test::CommandRun second = send();
    EXPECT_EQ(second.status, cli::kExitOk) << second.out;
    EXPECT_NE(second.out.find("Authentication: OK"), std::string::npos) << second.out;
}

TEST_F(KeyringSendTest, WithoutAKeyringThePasswordStaysInTheFile) {
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir_ / "no-bus").string()).c_str(), 1);
    writeSettings();
    for (int run = 0; run < 2; ++run) {
        const test::CommandRun sent = send();
        EXPECT_EQ(sent.status, cli::kExitOk) << sent.out;
        EXPECT_EQ(setting(u"USER_PASS"), u"demo");
        EXPECT_EQ(setting(u"PASS_STORE"), std::nullopt);
    }
}

// A session bus on which the keyring daemon could be started on demand, but
// none runs (a first login, a desktop without one open): the password stays
// in the file, the daemon is never started (it would show its own "new
// keyring" window before ours), and the send goes through.
TEST_F(KeyringSendTest, AKeyringThatIsNotRunningIsNeverStarted) {
    const fs::path services = dir_ / "services";
    fs::create_directories(services);
    const fs::path started = dir_ / "keyring-started";
    test::writeBytes(services / "keyring.sh",
                     "#!/bin/sh\ntouch '" + started.string() + "'\nsleep 30\n");
    fs::permissions(services / "keyring.sh", fs::perms::owner_all);
    test::writeBytes(services / "org.freedesktop.secrets.service",
                     "[D-BUS Service]\nName=org.freedesktop.secrets\nExec=" +
                         (services / "keyring.sh").string() + "\n");
    test::writeBytes(
        dir_ / "bus.conf",
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
        "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:tmpdir=" + dir_.path().string() +
            "</listen><servicedir>" + services.string() +
            "</servicedir><policy context=\"default\"><allow send_destination=\"*\"/>"
            "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n");
    std::string address;
    bus_ = spawn({"dbus-daemon", "--config-file=" + (dir_ / "bus.conf").string(), "--nofork",
                  "--print-address=1"},
                 "", &address);
    if (address.empty())
        GTEST_SKIP() << "no dbus-daemon";
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    writeSettings();
    for (int run = 0; run < 2; ++run) {
        const test::CommandRun sent = send();
        EXPECT_EQ(sent.status, cli::kExitOk) << sent.out;
        EXPECT_EQ(setting(u"USER_PASS"), u"demo");
        EXPECT_EQ(setting(u"PASS_STORE"), std::nullopt);
    }
    EXPECT_FALSE(fs::exists(started)) << "the keyring daemon was started";
}

}  // namespace
}  // namespace miravo
