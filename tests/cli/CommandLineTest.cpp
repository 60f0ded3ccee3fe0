// The four programs read their command lines alike: --help prints the usage
// and --version the version, both to standard output with status 0 and both
// winning over whatever else is on the line; a line that cannot be used is
// refused with the program's name, the reason and status 2.
#include "tests/convert/ConvertTestSupport.h"

namespace miravo {
namespace {

const std::string kBin = std::string(MIRAVO_BINARY_DIR) + "/bin/";

TEST(CommandLine, HelpVersionAndRefusalAreAlikeInEveryProgram) {
    struct Program {
        std::string name;
        std::string refused;  // a command line the program cannot use
    } programs[] = {
        {"miravo-send", "--to 1 --colour job"},
        {"miravo-print", "--colour file.pdf"},
        {"miravo-server", "--data d --colour"},
        {"miravo", "--import-contacts"},
    };
    for (const Program& p : programs) {
        const std::string run = "{ env -u DISPLAY -u WAYLAND_DISPLAY " + kBin + p.name;
        // Answers go to standard output, refusals to standard error.
        const test::ToolRun help = test::runTool(run + " --help 2>/dev/null; }");
        EXPECT_EQ(help.status, 0) << p.name;
        EXPECT_NE(help.output.find("sage:"), std::string::npos) << p.name << help.output;
        EXPECT_NE(help.output.find("--version"), std::string::npos) << p.name << help.output;

        for (const std::string args : {" --version", " --version junk"}) {
            const test::ToolRun version = test::runTool(run + args + " 2>/dev/null; }");
            EXPECT_EQ(version.status, 0) << p.name << args;
            EXPECT_EQ(version.output, p.name + " " + MIRAVO_VERSION + "\n") << p.name << args;
        }

        const test::ToolRun refused = test::runTool(run + " " + p.refused + " 2>&1 >/dev/null; }");
        EXPECT_EQ(refused.status, 2 << 8) << p.name << refused.output;
        EXPECT_EQ(refused.output.rfind(p.name + ": ", 0), 0u) << p.name << refused.output;
        EXPECT_NE(refused.output.find("sage:"), std::string::npos) << p.name << refused.output;
    }
}

}  // namespace
}  // namespace miravo
