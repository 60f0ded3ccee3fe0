#include "service/AccountPreferences.h"

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "tests/service/LoopbackServer.h"
#include "tests/service/SendTestSupport.h"

namespace miravo {
namespace {

using test::formField;
using test::formFieldNames;
using Names = std::vector<std::string>;

AppSettings credentials() {
    AppSettings s;
    s.userName = u"anna@example.test";
    s.password = u"pässword";
    return s;
}

std::vector<std::string> names(const MultipartForm& form) {
    return formFieldNames(toUtf8(form.body()));
}

TEST(AccountPreferencesForms, ReadingFormIsActionAndCredentialsOnly) {
    const MultipartForm form = PreferencesReadForm(credentials());
    EXPECT_EQ(toUtf8(form.body()),
              "----AaB03x\r\nContent-Disposition: form-data; name=\"action\"\r\n\r\n"
              "get_user_preferences\r\n"
              "----AaB03x\r\nContent-Disposition: form-data; name=\"username\"\r\n\r\n"
              "anna@example.test\r\n"
              "----AaB03x\r\nContent-Disposition: form-data; name=\"password\"\r\n\r\n"
              "p\xC3\xA4ssword\r\n");
    // The longest credentials the settings hold still fit the small form.
    AppSettings longest;
    longest.userName = std::u16string(259, u'u');
    longest.password = std::u16string(259, u'p');
    EXPECT_EQ(names(PreferencesReadForm(longest)), (Names{"action", "username", "password"}));
}

TEST(AccountPreferencesForms, EmailAndPasswordUpdatesCarryTheirOneField) {
    const MultipartForm email = EmailUpdateForm(credentials(), u"new@example.test");
    EXPECT_EQ(names(email), (Names{"action", "username", "password", "newEmail"}));
    EXPECT_EQ(formField(toUtf8(email.body()), "action"), "update_user_preferences");
    EXPECT_EQ(formField(toUtf8(email.body()), "newEmail"), "new@example.test");
    EXPECT_EQ(names(PasswordUpdateForm(credentials(), u"secret")),
              (Names{"action", "username", "password", "newPassword"}));
}

TEST(AccountPreferencesForms, ParametersUpdateLeavesOutWhatMustNotBeSent) {
    AccountPreferences p;
    p.headerEditable = true;
    p.faxHeader = u"Anna Example";
    p.pdfFormat = true;
    p.emailAlertOn = true;
    p.smsNumber = u"+49 30 1234567";
    const std::string all = toUtf8(ParametersUpdateForm(credentials(), p).body());
    EXPECT_EQ(formFieldNames(all),
              (Names{"action", "username", "password", "faxHeader", "redirectToEmail",
                     "redirectFileFormat", "smsAlert", "emailAlert", "smsNumber"}));
    EXPECT_EQ(formField(all, "redirectToEmail"), "OFF");
    EXPECT_EQ(formField(all, "redirectFileFormat"), "PDF");
    EXPECT_EQ(formField(all, "smsAlert"), "OFF");
    EXPECT_EQ(formField(all, "emailAlert"), "ON");

    // Header not editable, redirection on, empty SMS number.
    p.headerEditable = false;
    p.redirectionOn = true;
    p.pdfFormat = false;
    p.smsAlertOn = true;
    p.smsNumber.clear();
    const std::string some = toUtf8(ParametersUpdateForm(credentials(), p).body());
    EXPECT_EQ(formFieldNames(some), (Names{"action", "username", "password", "redirectToEmail",
                                           "redirectFileFormat", "smsAlert"}));
    EXPECT_EQ(formField(some, "redirectToEmail"), "ON");
    EXPECT_EQ(formField(some, "redirectFileFormat"), "TIFF");
    EXPECT_EQ(formField(some, "smsAlert"), "ON");

    // An editable but empty header is left out too.
    p.headerEditable = true;
    p.faxHeader.clear();
    EXPECT_EQ(names(ParametersUpdateForm(credentials(), p)).size(), 6u);
}

std::string preferencesAnswer(const std::string& inner) {
    return test::xmlAnswer("<GET_USER_PREFERENCES>" + inner + "</GET_USER_PREFERENCES>");
}

TEST(AccountPreferencesAnswer, ValuesAreComparedExactlyAndMissingOnesReadAsOff) {
    const auto full = ReadAccountPreferences(preferencesAnswer(
        "<RESULT>0</RESULT><REDIRECTION_TO_EMAIL>ON</REDIRECTION_TO_EMAIL>"
        "<REDIRECTION_FILE_FORMAT>PDF</REDIRECTION_FILE_FORMAT><SMS_ALERT>ON</SMS_ALERT>"
        "<EMAIL_ALERT>ON</EMAIL_ALERT><FAX_HEADER_STRING>Anna &amp; Co</FAX_HEADER_STRING>"
        "<FAX_HEADER_EDITABLE>1</FAX_HEADER_EDITABLE><SMS_NUMBER>+4930123</SMS_NUMBER>"));
    ASSERT_TRUE(full);
    EXPECT_EQ(*full, (AccountPreferences{true, true, true, true, u"Anna & Co", true, u"+4930123"}));

    const auto lower = ReadAccountPreferences(
        preferencesAnswer("<RESULT>0</RESULT><REDIRECTION_TO_EMAIL>on</REDIRECTION_TO_EMAIL>"
                          "<REDIRECTION_FILE_FORMAT>pdf</REDIRECTION_FILE_FORMAT>"
                          "<FAX_HEADER_EDITABLE>01</FAX_HEADER_EDITABLE>"
                          "<FAX_HEADER_STRING>" +
                          std::string(300, 'h') + "</FAX_HEADER_STRING>"));
    ASSERT_TRUE(lower);
    EXPECT_FALSE(lower->redirectionOn);
    EXPECT_FALSE(lower->pdfFormat);
    EXPECT_FALSE(lower->smsAlertOn);
    EXPECT_FALSE(lower->emailAlertOn);
    EXPECT_FALSE(lower->headerEditable);
    EXPECT_EQ(lower->faxHeader.size(), 259u);
    EXPECT_TRUE(lower->smsNumber.empty());
}

TEST(AccountPreferencesAnswer, OnlyResultZeroCounts) {
    EXPECT_FALSE(ReadAccountPreferences(std::nullopt));
    EXPECT_FALSE(ReadAccountPreferences(std::string_view("not xml")));
    EXPECT_FALSE(ReadAccountPreferences(preferencesAnswer("<RESULT>00</RESULT>")));
    EXPECT_FALSE(ReadAccountPreferences(
        test::xmlAnswer("<ERROR>107</ERROR><GET_USER_PREFERENCES><RESULT>1</RESULT>"
                        "</GET_USER_PREFERENCES>")));
    // An update verdict is not a reading verdict, nor the other way round.
    const std::string updated =
        test::xmlAnswer("<UPDATE_USER_PREFERENCES><RESULT>0</RESULT></UPDATE_USER_PREFERENCES>");
    EXPECT_TRUE(PreferencesUpdated(updated));
    EXPECT_FALSE(ReadAccountPreferences(updated));
    EXPECT_FALSE(PreferencesUpdated(preferencesAnswer("<RESULT>0</RESULT>")));
    EXPECT_FALSE(PreferencesUpdated(std::nullopt));
}

// The tasks' verdicts in the status line, against a scripted loopback service.
class AccountPreferencesTask : public test::SendFixture {
  protected:
    int run(const WorkerTask& task, test::RecordingReport& report) {
        AppPaths paths;
        paths.state = &state_;
        return task(paths, report);
    }
};

TEST_F(AccountPreferencesTask, VerdictGoesIntoTheStatusLineAndTheAnswerIntoMemory) {
    const std::string good = preferencesAnswer("<RESULT>0</RESULT><SMS_ALERT>ON</SMS_ALERT>");
    answer("get_user_preferences", {good});
    auto kept = std::make_shared<PreferencesAnswer>();
    test::RecordingReport report;
    EXPECT_EQ(run(ReadPreferencesTask(kept), report), 1);
    EXPECT_EQ(report.title, GetText(state_.language, 59));
    EXPECT_EQ(report.label(1051), u"OK");
    EXPECT_EQ(kept->answer(), good);
    ASSERT_EQ(server_->requests().size(), 1u);
    EXPECT_EQ(formField(server_->requests()[0].body, "username"), "demo@miravo.test");

    answer("update_user_preferences",
           {test::xmlAnswer("<ERROR>107</ERROR><UPDATE_USER_PREFERENCES><RESULT>1</RESULT>"
                            "</UPDATE_USER_PREFERENCES>")});
    test::RecordingReport refused;
    EXPECT_EQ(run(UpdatePreferencesTask(PasswordUpdateForm(state_.settings, u"x"), kept), refused),
              0);
    EXPECT_EQ(refused.label(1051), GetText(state_.language, 84));
    EXPECT_FALSE(PreferencesUpdated(kept->answer()));
}

TEST_F(AccountPreferencesTask, NoUsableAnswerIsNeverShownAsOk) {
    // An answer without RESULT or ERROR, and no answer at all.
    answer("get_user_preferences", {test::xmlAnswer(""), "<drop>"});
    for (int i = 0; i < 2; ++i) {
        auto kept = std::make_shared<PreferencesAnswer>();
        test::RecordingReport report;
        EXPECT_EQ(run(ReadPreferencesTask(kept), report), 0);
        EXPECT_EQ(report.label(1051), GetText(state_.language, 999));
        EXPECT_TRUE(kept->finished());
        EXPECT_FALSE(ReadAccountPreferences(kept->answer()));
    }
}

TEST_F(AccountPreferencesTask, ClosedWindowEndsTheTaskWithoutAnExchange) {
    auto kept = std::make_shared<PreferencesAnswer>();
    test::RecordingReport report;
    report.open = false;
    EXPECT_EQ(run(ReadPreferencesTask(kept), report), 0);
    EXPECT_TRUE(server_->requests().empty());
    EXPECT_FALSE(report.hasLabel(1051));
    EXPECT_TRUE(kept->finished());
    EXPECT_FALSE(kept->answer());
}

TEST_F(AccountPreferencesTask, ValueHoldingTheDelimiterIsNotSent) {
    auto kept = std::make_shared<PreferencesAnswer>();
    test::RecordingReport report;
    const MultipartForm form =
        EmailUpdateForm(state_.settings, u"a@b.test\r\n----AaB03x\r\nContent-Disposition");
    EXPECT_EQ(run(UpdatePreferencesTask(form, kept), report), 0);
    EXPECT_EQ(report.label(1051), GetText(state_.language, 79));
    EXPECT_TRUE(server_->requests().empty());
    EXPECT_TRUE(kept->finished());
    EXPECT_FALSE(kept->answer());
}

}  // namespace
}  // namespace miravo
