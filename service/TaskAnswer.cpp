#include "service/TaskAnswer.h"

#include <cstdint>
#include <memory>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "app/Text.h"
#include "app/WorkerReport.h"
#include "service/MultipartForm.h"
#include "service/ResultReader.h"
#include "service/Transport.h"
#include "app/TextIds.h"

namespace miravo {

namespace {
constexpr std::u16string_view kErrorPath = u"API_RESULT/ERROR";
constexpr std::size_t kVerdictRoom = 260;
}  // namespace

void TaskAnswer::finish(std::optional<std::string> answer) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
    finished_ = true;
}

bool TaskAnswer::finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

std::optional<std::string> TaskAnswer::answer() const {
    std::lock_guard lock(mutex_);
    if (!finished_)
        return std::nullopt;
    return answer_;
}

ApiResult CheckAnswerBytes(const LanguageTable& language, std::u16string_view resultPath,
                           const std::optional<std::string>& bytes) {
    ApiResult result;
    std::shared_ptr<const ApiAnswer> parsed;
    if (bytes)
        parsed = ApiAnswer::parse(std::string_view(*bytes).substr(0, bytes->find('\0')));
    if (parsed) {
        std::u16string text;
        parsed->value(resultPath, text, kVerdictRoom, 0);
        if (text == u"0")
            result.ok = true;
        else
            parsed->value(kErrorPath, text, kVerdictRoom, 0);
        result.code = static_cast<std::int32_t>(parseDecimal(text));
    }
    if (!result.ok && result.code == 0)
        result.code = text::kNoUsableAnswer;
    result.message = ErrorText(language, result.code);
    return result;
}

int RefuseTaskRequest(const LanguageTable& language, WorkerReport& report, int statusControl,
                      int textId, TaskAnswer& answer) {
    answer.finish(std::nullopt);
    report.setLabel(statusControl, GetText(language, textId));
    return 0;
}

int PostTaskForm(const AppState& state, WorkerReport& report, int statusControl,
                 const MultipartForm& form, std::u16string_view resultPath, TaskAnswer& answer) {
    const LanguageTable& language = state.language;
    if (form.carriesDelimiter())
        return RefuseTaskRequest(language, report, statusControl, text::kInvalidValue, answer);
    // Closing the dialog ends the exchange under way.
    ExchangeLimits limits;
    limits.cancelled = [&report] { return !report.isOpen(); };
    ExchangeResult exchange = PostForm(state.settings, form, limits);
    if (exchange.outcome == Outcome::Refused)  // too long once encoded: nothing went out
        return RefuseTaskRequest(language, report, statusControl, text::kRequestTooLarge, answer);
    if (exchange.outcome == Outcome::Cancelled) {  // the dialog is gone: nothing to keep or show
        answer.finish(std::nullopt);
        return 0;
    }
    // The stored copy is for reading only; the answer itself travels in memory.
    StoreAnswer(exchange.answer);
    std::optional<std::string> bytes;
    if (exchange.answered())
        bytes = std::move(exchange.answer);
    const ApiResult verdict = CheckAnswerBytes(language, resultPath, bytes);
    answer.finish(std::move(bytes));
    report.setLabel(statusControl, verdict.message);
    return verdict.ok ? 1 : 0;
}

}  // namespace miravo
