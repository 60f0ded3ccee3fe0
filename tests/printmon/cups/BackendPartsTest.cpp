// The backend's own decisions: which titles and user names are safe, and
// which process stands for the user's desktop session.
#include <unistd.h>

#include <string>

#include "printmon/backend/DocumentTitle.h"
#include "printmon/backend/GraphicalSession.h"
#include "printmon/backend/JobUser.h"
#include "tests/TestSupport.h"

namespace miravo::backend {
namespace {

TEST(SafeDocumentTitle, NeverLeavesItsFolderNorBreaksTheName) {
    const struct {
        std::string title, expected;
    } cases[] = {
        {"Quarterly report", "Quarterly report"},
        {"../../etc/passwd", ".. .. etc passwd"},
        {"a\\b\tc\n\x7f" "d", "a b c d"},
        {"..", "document"},
        {" / ", "document"},
        {"", "document"},
        {"Gr\xC3\xBC\xC3\x9F" "e", "Gr\xC3\xBC\xC3\x9F" "e"},
        {"bad \xC3 \xFF \xED\xA0\x80 end", "bad ? ? ??? end"},
        {std::string(98, 'x') + "\xE2\x82\xAC", std::string(98, 'x')},  // no half character
        {std::string(300, 'y'), std::string(100, 'y')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SafeDocumentTitle(c.title), c.expected) << c.title;
}

TEST(LookUpJobUser, RefusesNamesThatAreNoAccountAndRoot) {
    for (const std::string& name : std::initializer_list<std::string>{"", "../root", ".hidden", "-r", "a/b", "tab\tname",
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

TEST(FindGraphicalSession, TakesTheFirstProcessOfTheUserWithADisplay) {
    test::TempDir proc;
    const auto process = [&](const std::string& pid, const std::string& environment) {
        std::filesystem::create_directories(proc / pid);
        test::writeBytes(proc / pid / "environ", environment);
    };
    using namespace std::string_literals;
    process("7", "PATH=/bin\0HOME=/home/u\0"s);
    process("12", "DISPLAY=\0SHELL=/bin/sh\0"s);
    process("40", "HOME=/home/u\0DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/5/bus\0"
                  "WAYLAND_DISPLAY=wayland-0\0XAUTHORITY=/home/u/.Xauthority\0"
                  "XDG_RUNTIME_DIR=/run/user/5\0DISPLAY=:0\0LANG=C\0"s);
    process("300", "DISPLAY=:1\0"s);
    std::filesystem::create_directories(proc / "self");
    test::writeBytes(proc / "self" / "environ", "DISPLAY=:9\0"s);

    const auto session = FindGraphicalSession(::getuid(), proc.path());
    ASSERT_TRUE(session.has_value());
    EXPECT_EQ(session->pid, 40);
    const SessionVariables expected = {{"DISPLAY", ":0"},
                                       {"WAYLAND_DISPLAY", "wayland-0"},
                                       {"XAUTHORITY", "/home/u/.Xauthority"},
                                       {"XDG_RUNTIME_DIR", "/run/user/5"},
                                       {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/5/bus"},
                                       {"HOME", "/home/u"}};
    EXPECT_EQ(session->variables, expected);
    // Processes of other users never count.
    EXPECT_FALSE(FindGraphicalSession(::getuid() + 1, proc.path()).has_value());
}

}  // namespace
}  // namespace miravo::backend
