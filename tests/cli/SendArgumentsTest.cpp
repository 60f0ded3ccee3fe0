// miravo-send's command line and the exit status each end of a send gives.
#include <gtest/gtest.h>

#include "app/Text.h"
#include "cli/Send.h"
#include "tests/TestSupport.h"

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
    EXPECT_TRUE(a.moreInputs.empty());
    // Several documents make one fax, in the order given.
    SendArguments several;
    ASSERT_TRUE(ParseSendArguments({"--to", "1", "a.pdf", "b.png", "c.pdf"}, several, error));
    EXPECT_EQ(several.input, "a.pdf");
    EXPECT_EQ(several.moreInputs, (std::vector<std::string>{"b.png", "c.pdf"}));
}

TEST(SendArguments, RefusedCommandLines) {
    const std::vector<std::vector<std::string>> bad = {
        {"job"},                                     // no number
        {"--to", "1"},                               // no document
        {"--to", ":Name", "job"},                    // empty number
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

TEST(SendArguments, NumberLists) {
    miravo::test::TempDir dir;
    auto write = [&](const std::string& name, const std::string& text) {
        const std::string path = (dir / name).string();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        return path;
    };
    const std::string txt = write("list.txt", "+49 30 1\r\n\r\n+49 30 2\n+49 30 1\n");
    const std::string csv = write("list.csv", "Name;Fax\n\"Berger; Anna\";+49 30 3\nKim;+49 30 4\n");
    struct Case {
        std::string file, column;
        bool ok;
        std::vector<std::u16string> numbers;
    } cases[] = {
        {txt, "", true, {u"+49 30 1", u"+49 30 2"}},
        {txt, "2", false, {}},  // a plain list has no columns
        {csv, "fax", true, {u"+49 30 3", u"+49 30 4"}},
        {csv, "2", true, {u"+49 30 3", u"+49 30 4"}},
        {csv, "", true, {u"Berger; Anna", u"Kim"}},
        {csv, "Phone", false, {}},
        {csv, "3", false, {}},
        {(dir / "missing.txt").string(), "", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::u16string> numbers;
        std::string error;
        EXPECT_EQ(ReadNumberList(c.file, c.column, u';', numbers, error), c.ok)
            << c.file << " " << c.column;
        if (c.ok)
            EXPECT_EQ(numbers, c.numbers) << c.file << " " << c.column;
        else
            EXPECT_FALSE(error.empty());
    }
    SendArguments a;
    std::string error;
    ASSERT_TRUE(ParseSendArguments({"--list", csv, "--column", "Fax", "--strict", "job"}, a, error))
        << error;
    EXPECT_EQ(a.listFile, csv);
    EXPECT_EQ(a.column, "Fax");
    EXPECT_TRUE(a.strict);
    EXPECT_FALSE(ParseSendArguments({"--to", "1", "--column", "2", "job"}, a, error));
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
    SendSummary unreadable = summary(SendEnd::Failed, Outcome::Failed);
    unreadable.last.documentFault = true;  // the document failed during the upload
    EXPECT_EQ(ExitStatusFor(unreadable, send), kExitDocument);
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
