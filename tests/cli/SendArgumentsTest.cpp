// miravo-send's command line and the exit status each end of a send gives.
#include <gtest/gtest.h>

#include "app/Text.h"
#include "cli/Send.h"

namespace miravo::cli {
namespace {

TEST(SendArguments, FullCommandLine) {
    SendArguments a;
    std::string error;
    ASSERT_TRUE(ParseSendArguments({"--settings", "s.ini", "--to", "+49 1:Anna: B", "--to", "+33 2",
                                    "--cover", "Hi", "--report", "no", "--retries", "0",
                                    "--timeout", "30", "job"},
                                   a, error))
        << error;
    EXPECT_EQ(a.settingsFile, "s.ini");
    ASSERT_EQ(a.to.size(), 2u);
    EXPECT_EQ(a.to[0].number, u"+49 1");
    EXPECT_EQ(a.to[0].name, u"Anna: B");  // split at the first colon only
    EXPECT_EQ(a.to[1].name, u"");
    EXPECT_EQ(a.cover, std::optional<std::u16string>(u"Hi"));
    EXPECT_EQ(a.report, "no");
    EXPECT_EQ(a.retries, 0);
    EXPECT_EQ(a.timeoutSeconds, 30);
    EXPECT_EQ(a.input, "job");
}

TEST(SendArguments, RefusedCommandLines) {
    const std::vector<std::vector<std::string>> bad = {
        {"job"},                                     // no number
        {"--to", "1"},                               // no document
        {"--to", ":Name", "job"},                    // empty number
        {"--to", "1", "job", "other"},               // two documents
        {"--to", "1", "--report", "maybe", "job"},   // unknown report choice
        {"--to", "1", "--retries", "many", "job"},   // not a number
        {"--to", "1", "--retries", "99999", "job"},  // beyond the limit
        {"--to", "1", "--timeout", "0", "job"},      // no time at all
        {"--to", "1", "--colour", "job"},            // unknown option
        {"--to"},                                    // value missing
    };
    for (const auto& args : bad) {
        SendArguments a;
        std::string error;
        EXPECT_FALSE(ParseSendArguments(args, a, error)) << args.back();
        EXPECT_FALSE(error.empty());
    }
    // Long values are cut to their fields.
    SendArguments a;
    std::string error;
    ASSERT_TRUE(ParseSendArguments(
        {"--to", std::string(300, '1'), "--cover", std::string(7000, 'c'), "job"}, a, error));
    EXPECT_EQ(a.to[0].number.size(), 259u);
    EXPECT_EQ(a.cover->size(), 5999u);
}

TEST(SendExitStatus, EachEndHasItsOwnStatus) {
    SendState send;
    auto summary = [](SendEnd end, Outcome transport = Outcome::Answer, bool requested = true) {
        SendSummary s;
        s.end = end;
        s.last.requested = requested;
        s.last.transport = transport;
        return s;
    };
    SendSummary done = summary(SendEnd::Finished);
    done.destinations = {{u"1", u"0.1", u"OK"}, {u"2", u"0.1", u"OK"}};
    EXPECT_EQ(ExitStatusFor(done, send), kExitOk);
    done.destinations[1].status = u"BU";
    EXPECT_EQ(ExitStatusFor(done, send), kExitDestinationsFailed);
    done.destinations[1].status = u"";
    EXPECT_EQ(ExitStatusFor(done, send), kExitDestinationsFailed);
    done.destinations.clear();  // ended without word of the fax
    EXPECT_EQ(ExitStatusFor(done, send), kExitServiceError);

    EXPECT_EQ(ExitStatusFor(summary(SendEnd::CredentialsCancelled), send), kExitCredentials);
    EXPECT_EQ(ExitStatusFor(summary(SendEnd::CredentialsCancelled, Outcome::Failed), send),
              kExitUnreachable);
    EXPECT_EQ(ExitStatusFor(summary(SendEnd::Unreachable, Outcome::HostNotReached), send),
              kExitUnreachable);
    EXPECT_EQ(ExitStatusFor(summary(SendEnd::Stopped), send), kExitInterrupted);
    EXPECT_EQ(ExitStatusFor(summary(SendEnd::Refused, Outcome::Refused), send), kExitDocument);
    EXPECT_EQ(ExitStatusFor(summary(SendEnd::Failed, Outcome::Failed, false), send), kExitDocument);
    // No usable answer: the service answered badly, or nothing came in time.
    for (const Outcome badAnswer : {Outcome::Answer, Outcome::HttpStatus, Outcome::TooLong}) {
        SendSummary s = summary(SendEnd::Failed, badAnswer);
        s.last.unusable = true;
        EXPECT_EQ(ExitStatusFor(s, send), kExitServiceError);
    }
    for (const Outcome noAnswer : {Outcome::TimedOut, Outcome::Failed}) {
        SendSummary s = summary(SendEnd::Failed, noAnswer);
        s.last.unusable = true;
        EXPECT_EQ(ExitStatusFor(s, send), kExitUnreachable);
    }
    send.errorCode = 110;
    EXPECT_EQ(ExitStatusFor(summary(SendEnd::Failed), send), kExitServiceError);
    send.errorCode = 107;
    EXPECT_EQ(ExitStatusFor(summary(SendEnd::Failed), send), kExitCredentials);
}

}  // namespace
}  // namespace miravo::cli
