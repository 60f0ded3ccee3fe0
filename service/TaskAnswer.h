// The service's answer to one worker-dialog task, handed from the task to
// the window that opened the dialog: written on the worker thread when the
// task ends, read on the window's thread afterwards. The window acts on
// this answer, never on "result.xml", which only keeps a copy and may
// meanwhile hold another exchange's answer. Beside it, the one exchange
// such a task makes and the verdict it shows.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "service/ServiceTexts.h"

namespace miravo {

struct AppState;
class LanguageTable;
class MultipartForm;
class WorkerReport;

class TaskAnswer {
  public:
    // Called once by the task as it ends: the answer bytes when the service
    // answered, nothing when no answer came (or nothing was sent).
    void finish(std::optional<std::string> answer);
    // Whether the task has ended.
    bool finished() const;
    // The answer bytes, when the task has ended with an answer.
    std::optional<std::string> answer() const;

  private:
    mutable std::mutex mutex_;
    bool finished_ = false;
    std::optional<std::string> answer_;
};

// The verdict of answer bytes: RESULT at `resultPath` exactly "0" is
// success, otherwise API_RESULT/ERROR gives the code. No answer, an answer
// that is no XML, or one that names no error gives text::kNoUsableAnswer,
// never "OK".
ApiResult CheckAnswerBytes(const LanguageTable& language, std::u16string_view resultPath,
                           const std::optional<std::string>& bytes);

// Ends a task whose request was not sent: no answer, `textId` in the
// status line. Returns 0, the task's failure.
int RefuseTaskRequest(const LanguageTable& language, WorkerReport& report, int statusControl,
                      int textId, TaskAnswer& answer);

// The exchange of a task: a form carrying the delimiter or too large once
// encoded is not sent (text 79 or 77); otherwise the form is posted, the
// answer stored as "result.xml" and handed to `answer`, and the verdict
// (CheckAnswerBytes) written into the status line. Closing the task's
// window (the report no longer open) ends the exchange at once; the task
// then ends without an answer. Returns 1 on success.
int PostTaskForm(const AppState& state, WorkerReport& report, int statusControl,
                 const MultipartForm& form, std::u16string_view resultPath, TaskAnswer& answer);

}  // namespace miravo
