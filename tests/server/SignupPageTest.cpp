// The sign-up page of the running service: the accounts its form creates
// (usable at once for authentication) or refuses, each answer with the form.
#include <gtest/gtest.h>

#include "app/Text.h"
#include "tests/server/ServerHarness.h"

namespace miravo::server::test {
namespace {

TEST(SignupPage, FormCreatesAnAccountThatAuthenticatesAndRefusesBadInput) {
    ServerProcess server({"--quiet", "--version-port", "-1"});
    ASSERT_TRUE(server.start()) << server.output();
    HttpsClient client(server.caFile());
    const std::string page = "https://127.0.0.1:" + std::to_string(server.port()) + "/signup";

    struct Case {
        const char* body;
        long status;
        const char* says;
    };
    const Case cases[] = {
        {"login=new%40miravo.test&password=s%C3%A9cret+1&confirmation=s%C3%A9cret+1", 200, "is ready"},
        {"login=new%40miravo.test&password=other&confirmation=other", 400, "already an account"},
        {"login=two%40miravo.test&password=a&confirmation=b", 400, "differ"},
        {"login=not-an-address&password=a&confirmation=a", 400, "valid e-mail"},
        {"login=three%40miravo.test&password=&confirmation=", 400, "choose a password"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const RawReply reply = client.post(page, c.body, "application/x-www-form-urlencoded");
        EXPECT_EQ(reply.status, c.status);
        EXPECT_NE(reply.body.find(c.says), std::string::npos) << reply.body;
        EXPECT_NE(reply.body.find("<form method=\"post\""), std::string::npos);
    }

    // The new account signs in with the password it was given.
    const auto login = viaTransport(transportSettings(server), {{"action", "authentication"},
                                                                {"username", "new@miravo.test"},
                                                                {"password", "s\xE9" "cret 1"},
                                                                {"pagescount", "1"}});
    EXPECT_EQ(xmlValue(login.body, "API_RESULT/AUTHENTICATION/RESULT"), "0") << login.body;
}

}  // namespace
}  // namespace miravo::server::test
