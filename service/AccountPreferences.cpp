#include "service/AccountPreferences.h"

#include <cstdint>
#include <utility>

#include "app/AppSettings.h"
#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "app/Text.h"
#include "app/WorkerReport.h"
#include "service/ResultReader.h"
#include "app/TextIds.h"
#include "app/ControlIds.h"

namespace miravo {

namespace {

constexpr std::u16string_view kPreferencesPath = u"API_RESULT/GET_USER_PREFERENCES/";
constexpr std::size_t kValueRoom = 260;

std::u16string onOff(bool on) {
    return on ? u"ON" : u"OFF";
}

MultipartForm credentialsForm(const AppSettings& settings, std::u16string_view action,
                              std::size_t capacity) {
    MultipartForm form(capacity);
    form.add(u"action", action);
    form.add(u"username", settings.userName);
    form.add(u"password", settings.password);
    return form;
}

MultipartForm updateForm(const AppSettings& settings) {
    return credentialsForm(settings, u"update_user_preferences", kLargeFormCapacity);
}

std::shared_ptr<const ApiAnswer> parseAnswer(std::optional<std::string_view> bytes) {
    if (!bytes)
        return nullptr;
    return ApiAnswer::parse(bytes->substr(0, bytes->find('\0')));
}

bool resultIsZero(const ApiAnswer& answer, std::u16string_view resultPath) {
    std::u16string text;
    answer.value(resultPath, text, kValueRoom, 0);
    return text == u"0";
}

int runTask(AppPaths& paths, WorkerReport& report, const MultipartForm* given,
            std::u16string_view resultPath, PreferencesAnswer& answer) {
    AppState* state = paths.state;
    if (!state) {
        answer.finish(std::nullopt);
        return 0;
    }
    const AppSettings& settings = state->settings;
    const LanguageTable& language = state->language;
    report.setTitle(GetText(language, text::kAccountPreferences));

    const MultipartForm form = given ? *given : PreferencesReadForm(settings);
    return PostTaskForm(*state, report, controlid::kStatusLine, form, resultPath, answer);
}

}  // namespace

MultipartForm PreferencesReadForm(const AppSettings& settings) {
    return credentialsForm(settings, u"get_user_preferences", kSmallFormCapacity);
}

MultipartForm EmailUpdateForm(const AppSettings& settings, std::u16string_view newEmail) {
    MultipartForm form = updateForm(settings);
    form.add(u"newEmail", newEmail);
    return form;
}

MultipartForm PasswordUpdateForm(const AppSettings& settings, std::u16string_view newPassword) {
    MultipartForm form = updateForm(settings);
    form.add(u"newPassword", newPassword);
    return form;
}

MultipartForm ParametersUpdateForm(const AppSettings& settings, const AccountPreferences& p) {
    MultipartForm form = updateForm(settings);
    if (p.headerEditable)
        form.add(u"faxHeader", p.faxHeader);
    form.add(u"redirectToEmail", onOff(p.redirectionOn));
    form.add(u"redirectFileFormat", p.pdfFormat ? u"PDF" : u"TIFF");
    form.add(u"smsAlert", onOff(p.smsAlertOn));
    if (!p.redirectionOn)
        form.add(u"emailAlert", onOff(p.emailAlertOn));
    form.add(u"smsNumber", p.smsNumber);
    return form;
}

std::optional<AccountPreferences> ReadAccountPreferences(std::optional<std::string_view> answer) {
    const auto parsed = parseAnswer(answer);
    if (!parsed || !resultIsZero(*parsed, kReadPreferencesResultPath))
        return std::nullopt;
    auto value = [&](std::u16string_view name) {
        std::u16string out;
        parsed->value(std::u16string(kPreferencesPath) + std::u16string(name), out, kValueRoom, 0);
        return out;
    };
    AccountPreferences p;
    p.redirectionOn = value(u"REDIRECTION_TO_EMAIL") == u"ON";
    p.pdfFormat = value(u"REDIRECTION_FILE_FORMAT") == u"PDF";
    p.smsAlertOn = value(u"SMS_ALERT") == u"ON";
    p.emailAlertOn = value(u"EMAIL_ALERT") == u"ON";
    p.faxHeader = value(u"FAX_HEADER_STRING");
    p.headerEditable = value(u"FAX_HEADER_EDITABLE") == u"1";
    p.smsNumber = value(u"SMS_NUMBER");
    return p;
}

bool PreferencesUpdated(std::optional<std::string_view> answer) {
    const auto parsed = parseAnswer(answer);
    return parsed && resultIsZero(*parsed, kUpdatePreferencesResultPath);
}

WorkerTask ReadPreferencesTask(std::shared_ptr<PreferencesAnswer> answer) {
    if (!answer)
        answer = std::make_shared<PreferencesAnswer>();
    return [answer = std::move(answer)](AppPaths& paths, WorkerReport& report) {
        return runTask(paths, report, nullptr, kReadPreferencesResultPath, *answer);
    };
}

WorkerTask UpdatePreferencesTask(MultipartForm form, std::shared_ptr<PreferencesAnswer> answer) {
    if (!answer)
        answer = std::make_shared<PreferencesAnswer>();
    return [form = std::move(form), answer = std::move(answer)](AppPaths& paths,
                                                                WorkerReport& report) {
        return runTask(paths, report, &form, kUpdatePreferencesResultPath, *answer);
    };
}

}  // namespace miravo
