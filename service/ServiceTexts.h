// Display texts of the service's answers: error codes, fax status codes,
// and the generic verdict check of the account and address-book actions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace miravo {

class LanguageTable;

// The display text of a service error code: "OK" for 0, the codes 105, 106
// and 109 as their own digits, otherwise a language text (84 for 107,
// 95 for a code the table does not know).
std::u16string ErrorText(const LanguageTable& language, std::int32_t code);

// The display text of a two-letter fax status (exact, case-sensitive
// comparison): language texts 35 to 50, 37 for an empty status (still
// under way), 51 for anything else.
std::u16string FaxStatusText(const LanguageTable& language, std::u16string_view status);

// A status's words with the service's code beside them, "Busy [BU]". The
// code is left out where it reads the same as the words ("OK", not
// "OK [OK]"); an empty code (still under way) shows as "--".
std::u16string StatusWithCode(std::u16string_view words, std::u16string_view code);

struct ApiResult {
    bool ok = false;         // the action's RESULT was exactly "0"
    std::int32_t code = 0;   // decimal value of RESULT (on success) or ERROR; 999 when none
    std::u16string message;  // ErrorText(code)
};

// The generic check of an answer: reads the action's RESULT path; exactly
// "0" is success. Otherwise "API_RESULT/ERROR" gives the code. An answer
// with neither (or none at all) gives ok == false with code 999 (no usable
// answer), never "OK".
ApiResult CheckApiResult(const LanguageTable& language, std::u16string_view resultPath,
                         std::u16string_view answerFile);
// The same over "result.xml" in the application-data folder; the caller
// shows the message in its status label.
ApiResult CheckApiResult(const LanguageTable& language, std::u16string_view resultPath);

}  // namespace miravo
