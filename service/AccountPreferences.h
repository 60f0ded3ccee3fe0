// The account preferences the service keeps for the user: the request that
// reads them ("get_user_preferences"), the three update requests of the
// account dialog ("update_user_preferences": new login e-mail, new
// password, the parameters), the two background tasks the worker dialog
// runs for them, and the reading of their answers.
//
// A task hands its answer to the dialog through a PreferencesAnswer it
// shares with the caller, never through "result.xml": that file is only a
// copy for reading. So an answer that could not be stored, or a file
// rewritten meanwhile by another exchange, never fills the dialog or
// changes the login from someone else's answer.
//
// Typical use on the window's thread:
//   auto answer = std::make_shared<PreferencesAnswer>();
//   job.workerTask = ReadPreferencesTask(answer);
//   ...run the worker dialog until the task has ended...
//   if (auto prefs = ReadAccountPreferences(answer->answer())) ...
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/FaxJob.h"
#include "service/MultipartForm.h"
#include "service/TaskAnswer.h"

namespace miravo {

struct AppSettings;

inline constexpr std::u16string_view kReadPreferencesResultPath =
    u"API_RESULT/GET_USER_PREFERENCES/RESULT";
inline constexpr std::u16string_view kUpdatePreferencesResultPath =
    u"API_RESULT/UPDATE_USER_PREFERENCES/RESULT";

// The preferences as the service gives them, and as the dialog sends them
// back with its parameters update.
struct AccountPreferences {
    bool redirectionOn = false;   // REDIRECTION_TO_EMAIL "ON"
    bool pdfFormat = false;       // REDIRECTION_FILE_FORMAT "PDF" (else TIFF)
    bool smsAlertOn = false;      // SMS_ALERT "ON"
    bool emailAlertOn = false;    // EMAIL_ALERT "ON"
    std::u16string faxHeader;     // FAX_HEADER_STRING
    bool headerEditable = false;  // FAX_HEADER_EDITABLE "1"
    std::u16string smsNumber;     // SMS_NUMBER
    bool operator==(const AccountPreferences&) const = default;
};

// The reading request: "action" = "get_user_preferences", "username",
// "password" (USER_NAME and USER_PASS), in a form of 771 characters.
MultipartForm PreferencesReadForm(const AppSettings& settings);

// The update requests: "action" = "update_user_preferences", "username",
// "password", then
//  - the e-mail update: "newEmail";
//  - the password update: "newPassword";
//  - the parameters update: "faxHeader" (only while the header is
//    editable), "redirectToEmail" ("ON"/"OFF"), "redirectFileFormat"
//    ("PDF"/"TIFF"), "smsAlert" ("ON"/"OFF"), "emailAlert" ("ON"/"OFF",
//    only while redirection is off, since the service ignores the alert
//    then), "smsNumber".
// Empty values are left out, as every form leaves them out.
MultipartForm EmailUpdateForm(const AppSettings& settings, std::u16string_view newEmail);
MultipartForm PasswordUpdateForm(const AppSettings& settings, std::u16string_view newPassword);
MultipartForm ParametersUpdateForm(const AppSettings& settings,
                                   const AccountPreferences& preferences);

// The preferences of a reading answer; nothing unless the answer is XML
// whose API_RESULT/GET_USER_PREFERENCES/RESULT is exactly "0". Values are
// compared exactly ("on" is not "ON"); a missing value reads as empty, so
// its switch falls to OFF (or TIFF) and the header is not editable. Texts
// are cut to 259 characters.
std::optional<AccountPreferences> ReadAccountPreferences(std::optional<std::string_view> answer);

// Whether an update answer's API_RESULT/UPDATE_USER_PREFERENCES/RESULT is
// exactly "0".
bool PreferencesUpdated(std::optional<std::string_view> answer);

// The service's answer to one preferences task.
using PreferencesAnswer = TaskAnswer;

// The tasks. Each sets the title to language text 59, posts its form,
// keeps the answer in `answer` and stores it as "result.xml", then writes
// the verdict into the status line 1051: the error text of the service's
// code ("OK" on success), or language text 999 when no usable answer
// came (no answer, no XML, or neither RESULT nor ERROR). A form holding
// the form delimiter in a value is not sent at all: the status line then
// shows language text 79. Returns 1 when the action's RESULT is exactly
// "0", else 0.
//
// The reading task builds its form from the settings of paths.state when
// it runs; the update task sends the form it was given.
WorkerTask ReadPreferencesTask(std::shared_ptr<PreferencesAnswer> answer);
WorkerTask UpdatePreferencesTask(MultipartForm form, std::shared_ptr<PreferencesAnswer> answer);

}  // namespace miravo
