#include "ui/ToolOptions.h"

#include <gtest/gtest.h>

namespace miravo::ui {
namespace {

// Only the options read here are taken from the dialogs' command line.
TEST(ToolOptionsTest, ReadsItsOwnOptionsAndLeavesEveryOtherCommandLine) {
    using K = ToolOptions::Kind;
    struct Case {
        std::vector<std::string> args;
        K kind;
        std::string file;
    } cases[] = {
        {{}, K::None, ""},
        {{"/config"}, K::None, ""},
        {{"/tmp/job.txt", "--help"}, K::None, ""},
        {{"--", "--export-contacts=x.vcf"}, K::None, ""},
        {{"--", "-h"}, K::None, ""},
        {{"-platform", "offscreen"}, K::None, ""},
        {{"--help"}, K::Help, ""},
        {{"--version", "junk"}, K::Version, ""},
        {{"--import-contacts", "a.vcf"}, K::ImportContacts, "a.vcf"},
        {{"--export-contacts=b c.vcf"}, K::ExportContacts, "b c.vcf"},
        {{"--import-contacts"}, K::Refused, ""},
        {{"--import-contacts", "a.vcf", "extra"}, K::Refused, ""},
        {{"--import-contacts", "a.vcf", "--export-contacts", "b.vcf"}, K::Refused, ""},
    };
    for (const Case& c : cases) {
        const ToolOptions got = ParseToolOptions(c.args);
        const std::string line = c.args.empty() ? "(none)" : c.args.front();
        EXPECT_EQ(got.kind, c.kind) << line;
        EXPECT_EQ(got.file, c.file) << line;
        EXPECT_EQ(got.error.empty(), c.kind != K::Refused) << line;
    }
}

}  // namespace
}  // namespace miravo::ui
