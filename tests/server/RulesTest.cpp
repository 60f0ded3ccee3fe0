// Delivery rules, fault rules and the command line of the service.
#include <gtest/gtest.h>

#include "server/Delivery.h"
#include "server/Faults.h"
#include "server/Options.h"
#include "server/Service.h"

namespace miravo::server {
namespace {

TEST(ServerDeliveryTest, NumbersAreNormalisedOrRefused) {
    EXPECT_EQ(normalizeNumber("+49 (30) 123-45.67/8"), "+493012345678");
    EXPECT_EQ(normalizeNumber("01234"), "01234");
    EXPECT_EQ(normalizeNumber(std::string(20, '9')), std::string(20, '9'));
    EXPECT_FALSE(normalizeNumber(std::string(21, '9')));
    EXPECT_FALSE(normalizeNumber("1234"));
    EXPECT_FALSE(normalizeNumber("12 34a5"));
    EXPECT_FALSE(normalizeNumber("12+345"));
    EXPECT_FALSE(normalizeNumber("++12345"));
    EXPECT_FALSE(normalizeNumber("[Sales]"));
    EXPECT_FALSE(normalizeNumber(""));
}

TEST(ServerDeliveryTest, FinalStatusByLastTwoDigits) {
    EXPECT_EQ(finalStatusFor("0301234500"), "BU");
    EXPECT_EQ(finalStatusFor("0301234501"), "NA");
    EXPECT_EQ(finalStatusFor("0301234502"), "FA");
    EXPECT_EQ(finalStatusFor("0301234503"), "NF");
    EXPECT_EQ(finalStatusFor("0301234504"), "CR");
    EXPECT_EQ(finalStatusFor("0301234505"), "OK");
    EXPECT_EQ(finalStatusFor("0301234510"), "OK");
    EXPECT_EQ(finalStatusFor("+4930123456"), "OK");
}

TEST(ServerDeliveryTest, CostsAndMoney) {
    EXPECT_DOUBLE_EQ(expectedCost(3, 0.10), 0.30);
    EXPECT_DOUBLE_EQ(deliveryCost(3, 0.10, "OK"), 0.30);
    EXPECT_DOUBLE_EQ(deliveryCost(3, 0.10, "BU"), 0.0);
    EXPECT_EQ(money(expectedCost(7, 0.07)), "0.49");
    EXPECT_EQ(money(0), "0.00");
    EXPECT_EQ(money(12.5), "12.50");
}

TEST(ServerDeliveryTest, CleanTextDropsControlsAndRepairsUtf8) {
    EXPECT_EQ(cleanText("a\x01"
                        "b\tc\r\nd"),
              "ab\tc\r\nd");
    EXPECT_EQ(cleanText("J\xc3\xbcrgen"), "J\xc3\xbcrgen");
    EXPECT_EQ(cleanText("bad\xff"), "bad\xef\xbf\xbd");
}

TEST(ServerFaultsTest, ParsesEveryKindWithOptions) {
    std::string error;
    auto rule = parseFaultRule("error:301,action=get_fax_status,after=1,count=2", error);
    ASSERT_TRUE(rule) << error;
    EXPECT_EQ(rule->kind, FaultKind::Error);
    EXPECT_EQ(rule->value, 301);
    EXPECT_EQ(rule->action, "get_fax_status");
    EXPECT_EQ(rule->after, 1);
    EXPECT_EQ(rule->count, 2);
    EXPECT_EQ(describe(*rule), "error:301,action=get_fax_status,after=1,count=2");
    for (const char* ok : {"delay:250", "close", "empty", "truncate", "refuse:2,after=3"})
        EXPECT_TRUE(parseFaultRule(ok, error)) << ok;
    for (const char* bad : {"", "explode", "delay", "delay:-1", "delay:x", "close:3", "error:0",
                            "refuse:0", "empty,count=0", "empty,colour=red", "empty,action="})
        EXPECT_FALSE(parseFaultRule(bad, error)) << bad;
}

TEST(ServerFaultsTest, DecisionsFollowActionAfterAndCount) {
    FaultPlan plan;
    std::string error;
    ASSERT_TRUE(plan.add("error:301,action=get_fax_status,after=1,count=2", error));
    ASSERT_TRUE(plan.add("delay:50", error));
    ASSERT_TRUE(plan.add("truncate,action=get_fax_status", error));
    EXPECT_FALSE(plan.decide("authentication").outcome);  // other action: delay only
    EXPECT_EQ(plan.decide("authentication").delayMs, 50);
    // First status poll is skipped by "after", so truncate (the next rule) hits.
    EXPECT_EQ(plan.decide("get_fax_status").outcome, FaultKind::Truncate);
    auto second = plan.decide("get_fax_status");
    EXPECT_EQ(second.outcome, FaultKind::Error);
    EXPECT_EQ(second.errorCode, 301);
    EXPECT_EQ(second.text(), "delay:50+error:301");
    EXPECT_EQ(plan.decide("get_fax_status").outcome, FaultKind::Error);
    EXPECT_EQ(plan.decide("get_fax_status").outcome, FaultKind::Truncate);  // count used up
    EXPECT_EQ(FaultDecision().text(), "-");
}

TEST(ServerFaultsTest, RefusalAtStartAndAfterARequest) {
    FaultPlan plan;
    std::string error;
    EXPECT_EQ(plan.refuseAtStart(), 0);
    ASSERT_TRUE(plan.add("refuse:2", error));
    ASSERT_TRUE(plan.add("refuse:3,after=2", error));
    ASSERT_TRUE(plan.add("refuse:4,after=1,action=get_fax_status", error));
    EXPECT_EQ(plan.refuseAtStart(), 2);
    EXPECT_EQ(plan.refuseAfter("authentication"), 0);
    EXPECT_EQ(plan.refuseAfter("authentication"), 3);
    EXPECT_EQ(plan.refuseAfter("authentication"), 0);  // once only
    EXPECT_EQ(plan.refuseAfter("get_fax_status"), 4);  // its own action only
    EXPECT_FALSE(plan.decide("authentication").any());
}

TEST(ServerOptionsTest, ServeOptions) {
    Options o;
    std::string error;
    ASSERT_TRUE(parseOptions({"--data",
                              "/tmp/x",
                              "--port",
                              "0",
                              "--version-port",
                              "-1",
                              "--demo",
                              "--path",
                              "api/x.php",
                              "--min-poll-interval",
                              "250",
                              "--delivery-time",
                              "100",
                              "--rate",
                              "0.25",
                              "--fault",
                              "close",
                              "--fault",
                              "empty,count=1",
                              "--max-destinations",
                              "3"},
                             o, error))
        << error;
    EXPECT_EQ(o.command, Command::Serve);
    EXPECT_EQ(o.dataDir, "/tmp/x");
    EXPECT_EQ(o.service.dataDir, "/tmp/x");
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.versionPort, -1);
    EXPECT_TRUE(o.demo);
    EXPECT_EQ(o.objectPath, "/api/x.php");
    EXPECT_EQ(o.service.minPollIntervalMs, 250);
    EXPECT_EQ(o.service.deliveryMs, 100);
    EXPECT_DOUBLE_EQ(o.service.rate, 0.25);
    EXPECT_EQ(o.faults.size(), 2u);
    EXPECT_EQ(o.service.maxDestinations, 3u);
}

TEST(ServerOptionsTest, DefaultsMatchTheClientsDefaults) {
    Options o;
    std::string error;
    ASSERT_TRUE(parseOptions({"--data", "d"}, o, error));
    EXPECT_EQ(o.host, "127.0.0.1");
    EXPECT_EQ(o.port, 8443);
    EXPECT_EQ(o.versionPort, 8080);
    EXPECT_EQ(o.objectPath, "/api2/proxy.php");
}

TEST(ServerOptionsTest, UserAndContactCommands) {
    Options o;
    std::string error;
    ASSERT_TRUE(
        parseOptions({"user", "add", "--data", "d", "ann@x.test", "pw", "--credit", "5"}, o, error))
        << error;
    EXPECT_EQ(o.command, Command::UserAdd);
    EXPECT_EQ(o.user, "ann@x.test");
    EXPECT_EQ(o.password, "pw");
    EXPECT_DOUBLE_EQ(o.credit, 5.0);
    Options c;
    ASSERT_TRUE(parseOptions(
        {"contact", "add", "--data", "d", "ann@x.test", "Bob", "12345", "--group", "Team"}, c,
        error));
    EXPECT_EQ(c.command, Command::ContactAdd);
    EXPECT_EQ(c.contactGroup, "Team");
}

TEST(ServerOptionsTest, RefusesWhatCannotBeUsed) {
    std::string error;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--port", "1"},
                                               {"--data", "d", "--port", "70000"},
                                               {"--data", "d", "--port"},
                                               {"--data", "d", "--rate", "cheap"},
                                               {"--data", "d", "--colour", "red"},
                                               {"--data", "d", "extra"},
                                               {"user", "add", "--data", "d", "onlyname"},
                                               {"--data", "d", "--max-body", "10"}}) {
        Options o;
        EXPECT_FALSE(parseOptions(args, o, error)) << (args.empty() ? "" : args.back());
    }
}

// Numbers are decimal only; the last of a repeated option counts, every
// --fault is kept; --help and --version win over everything else.
TEST(ServerOptionsTest, NumbersRepeatsHelpAndVersion) {
    struct Case {
        std::vector<std::string> args;
        bool parses;
        Command command;
        int port;
    } cases[] = {
        {{"--data", "d", "--port", "010"}, true, Command::Serve, 10},
        {{"--data", "d", "--port", "0x10"}, false, Command::Serve, 8443},
        {{"--data", "d", "--port", " 1"}, false, Command::Serve, 8443},
        {{"--data", "d", "--port", "1", "--port", "2"}, true, Command::Serve, 2},
        {{"--data", "d", "extra", "--help"}, true, Command::Help, 8443},
        {{"--version"}, true, Command::Version, 8443},
        {{"user", "add", "-h"}, true, Command::Help, 8443},
    };
    for (const Case& c : cases) {
        Options o;
        std::string error;
        EXPECT_EQ(parseOptions(c.args, o, error), c.parses) << c.args.back() << " " << error;
        if (c.parses) {
            EXPECT_EQ(o.command, c.command) << c.args.back();
            EXPECT_EQ(o.port, c.port) << c.args.back();
        }
    }
    Options faults;
    std::string error;
    ASSERT_TRUE(parseOptions({"--fault", "close", "--data", "d", "--fault", "empty"}, faults, error));
    EXPECT_EQ(faults.faults, (std::vector<std::string>{"close", "empty"}));
}

TEST(ServerFormTest, DestinationsPairNumbersWithNamesByIndex) {
    FormData form;
    form.parts = {{"numbers[1]", "", "", "111"}, {"names[2]", "", "", "Bob"},
                  {"numbers[2]", "", "", "222"}, {"names[1]", "", "", "Ann"},
                  {"numbers[x", "", "", "333"},  {"numbers[3]", "", "", "444"}};
    const auto d = formDestinations(form);
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[0], (std::pair<std::string, std::string>{"111", "Ann"}));
    EXPECT_EQ(d[1], (std::pair<std::string, std::string>{"222", "Bob"}));
    EXPECT_EQ(d[2], (std::pair<std::string, std::string>{"444", ""}));
}

TEST(ServerFormTest, PlausibleEmail) {
    EXPECT_TRUE(plausibleEmail("ann@example.test"));
    for (const char* bad :
         {"", "ann", "@x.test", "ann@", "ann@x", "a@b@c.test", "a b@c.test", "ann@x.", "ann@.x"})
        EXPECT_FALSE(plausibleEmail(bad)) << bad;
}

}  // namespace
}  // namespace miravo::server
