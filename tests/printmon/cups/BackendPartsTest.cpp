// The backend's own decisions: which titles, user names and senders are
// accepted, what may reach the print system's status channel, where the
// user's session bus is, and what its children inherit.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "printmon/backend/ChildProcess.h"
#include "printmon/backend/DocumentTitle.h"
#include "printmon/backend/JobAccess.h"
#include "printmon/backend/JobUser.h"
#include "printmon/backend/SessionBus.h"
#include "printmon/backend/StatusLine.h"
#include "tests/TestSupport.h"

namespace miravo::backend {
namespace {

namespace fs = std::filesystem;

TEST(SafeDocumentTitle, NeverLeavesItsFolderNorBreaksTheName) {
    const struct {
        std::string title, expected;
    } cases[] = {
        {"Quarterly report", "Quarterly report"},
        {"../../etc/passwd", "etc passwd"},
        {".bashrc", "bashrc"},
        {" . .hidden", "hidden"},
        {"a\\b\tc\n\x7f"
         "d",
         "a b c d"},
        {"..", "document"},
        {" / ", "document"},
        {"", "document"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"bad \xC3 \xFF \xED\xA0\x80 end", "bad ? ? ??? end"},
        // C1 controls and direction overrides vanish: "invoice" + RLO + "fdp.exe".
        {"in\xC2\x85voice\xE2\x80\xAE"
         "fdp.exe",
         "invoicefdp.exe"},
        {"\xE2\x81\xA6x\xE2\x81\xA9\xE2\x80\x8F\xD8\x9C"
         "y\xC2\x9B",
         "xy"},
        {std::string(98, 'x') + "\xE2\x82\xAC", std::string(98, 'x')},  // no half character
        {std::string(300, 'y'), std::string(100, 'y')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SafeDocumentTitle(c.title), c.expected) << c.title;
}

TEST(LookUpJobUser, RefusesNamesThatAreNoAccountAndRoot) {
    for (const std::string& name :
         std::initializer_list<std::string>{"", "../root", ".hidden", "-r", "a/b", "tab\tname",
                                            std::string(300, 'u'), "no-such-user-here", "root"}) {
        std::string error;
        EXPECT_FALSE(LookUpJobUser(name, error).has_value()) << name;
        EXPECT_FALSE(error.empty()) << name;
    }
    std::string error;
    const auto nobody = LookUpJobUser("nobody", error);
    ASSERT_TRUE(nobody.has_value()) << error;
    EXPECT_NE(nobody->uid, 0u);
}

TEST(JobRefusal, OnlyTheAuthenticatedOwnerOfALoginAccount) {
    const JobUser user{"ann", 1500, 1500, "/home/ann"};
    const struct {
        const char* authUid;
        uid_t uidMin;
        const char* refusedFor;  // a word of the reason, or null when accepted
    } cases[] = {
        {"1500", 1000, nullptr},
        {nullptr, 1000, "without authentication"},
        {"", 1000, "without authentication"},
        {"1501", 1000, "sent by user id 1501"},
        {"0", 1000, "sent by user id 0"},
        {"1500 ", 1000, "not a user id"},
        {"+1500", 1000, "not a user id"},
        {"1500\nSTATE: +x", 1000, "not a user id"},
        {"1500", 2000, "system account"},
    };
    for (const auto& c : cases) {
        const auto refusal = JobRefusal(user, c.authUid, c.uidMin);
        if (!c.refusedFor) {
            EXPECT_FALSE(refusal.has_value()) << *refusal;
            continue;
        }
        ASSERT_TRUE(refusal.has_value()) << (c.authUid ? c.authUid : "(none)");
        EXPECT_NE(refusal->find(c.refusedFor), std::string::npos) << *refusal;
    }
}

TEST(LoginUidMin, ReadsTheSettingOrFallsBackTo1000) {
    test::TempDir dir;
    const struct {
        std::string text;
        uid_t expected;
    } cases[] = {
        {"# UID_MIN 5\nUID_MIN\t\t\t 1200\nUID_MAX 60000\n", 1200},
        {"UID_MIN_X 7\nSYS_UID_MIN 100\n", 1000},
        {"UID_MIN 500 # old systems\nUID_MIN 600\n", 600},
        {"UID_MIN lots\n", 1000},
        {"", 1000},
    };
    for (const auto& c : cases) {
        test::writeBytes(dir / "login.defs", c.text);
        EXPECT_EQ(LoginUidMin(dir / "login.defs"), c.expected) << c.text;
    }
    EXPECT_EQ(LoginUidMin(dir / "missing"), 1000u);
}

TEST(StatusValue, NoValueCanStartALineOfItsOwn) {
    const struct {
        std::string value, expected;
        bool control;
    } cases[] = {
        {":0", ":0", false},
        {":0\nPPD: DefaultPageSize=Letter\nSTATE: +other-error",
         ":0PPD: DefaultPageSize=LetterSTATE: +other-error", true},
        {"a\rb\x1b[2Jc\x7f", "ab[2Jc", true},
        {"C1 \xC2\x85 next line", "C1  next line", true},
        {"Gr\xC3\xBC\xC3\x9F", "Gr\xC3\xBC\xC3\x9F", false},
        {std::string(299, 'x') + "\xC3\xBC", std::string(299, 'x'), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StatusValue(c.value), c.expected) << c.value;
        EXPECT_EQ(HoldsControlCharacters(c.value), c.control) << c.value;
    }
}

// A listening socket at `path`.
int listenAt(const fs::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    return fd;
}

TEST(UserBusSocket, OnlyTheUsersOwnFolderAndSocket) {
    test::TempDir root;
    const uid_t self = ::getuid();
    const auto folder = [&](const std::string& name, mode_t mode) {
        fs::create_directories(root / name / std::to_string(self));
        ::chmod((root / name / std::to_string(self)).c_str(), mode);
        return root / name / std::to_string(self);
    };
    const fs::path good = folder("good", 0700);
    const int listening = listenAt(good / "bus");
    test::writeBytes(folder("plainfile", 0700) / "bus", "not a socket");
    const int open = listenAt(folder("open", 0777) / "bus");
    fs::create_directories(root / "linked");
    fs::create_directory_symlink(good, root / "linked" / std::to_string(self));
    folder("nobus", 0700);

    const struct {
        std::string root;
        bool found;
    } cases[] = {{"good", true},    {"plainfile", false}, {"open", false},
                 {"linked", false}, {"nobus", false},     {"missing", false}};
    for (const auto& c : cases) {
        std::string reason;
        const auto socket = UserBusSocket(self, root / c.root, reason);
        EXPECT_EQ(socket.has_value(), c.found) << c.root << ": " << reason;
        EXPECT_EQ(reason.empty(), c.found) << c.root;
    }
    std::string reason;
    EXPECT_FALSE(UserBusSocket(self + 1, root / "good", reason).has_value());
    ::close(listening);
    ::close(open);
}

TEST(FileUri, EncodesEveryByteAPathMayHold) {
    EXPECT_EQ(FileUri("/home/ann/.cache/Miravo/spool/Report__ps__job_12"),
              "file:///home/ann/.cache/Miravo/spool/Report__ps__job_12");
    EXPECT_EQ(FileUri("/s/a b%#?\n\xC3\xBC"), "file:///s/a%20b%25%23%3F%0A%C3%BC");
}

TEST(RunProgram, TheChildGetsOnlyItsStandardDescriptorsAndTheGivenEnvironment) {
    test::TempDir dir;
    test::writeBytes(dir / "inherited-by-mistake", "");
    // Inheritable on purpose, as the print service's channels are.
    const int leaked = ::open((dir / "inherited-by-mistake").c_str(), O_RDONLY);
    ASSERT_GE(leaked, 3);
    const ProgramRun run = RunProgram(
        "/bin/sh", {"-c", "for f in /proc/$$/fd/*; do echo \"fd $(readlink $f)\"; done; env"},
        {"ONLY=this"});
    ::close(leaked);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::set<std::string> variables;
    std::istringstream output(run.output);
    for (std::string line; std::getline(output, line);) {
        EXPECT_EQ(line.find("inherited-by-mistake"), std::string::npos) << run.output;
        if (line.rfind("fd ", 0) != 0 && line.rfind("PWD=", 0) != 0)  // PWD: the shell's own
            variables.insert(line);
    }
    EXPECT_NE(run.output.find("fd /dev/null"), std::string::npos) << run.output;
    EXPECT_EQ(variables, std::set<std::string>{"ONLY=this"}) << run.output;
}

TEST(RunProgram, ACancelStopsTheProgramItWaitsFor) {
    HandleTermination();
    std::thread cancel([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(::getpid(), SIGTERM);
    });
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun run = RunProgram("/bin/sleep", {"30"}, {});
    cancel.join();
    EXPECT_TRUE(run.started);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(TerminationRequested());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace miravo::backend
