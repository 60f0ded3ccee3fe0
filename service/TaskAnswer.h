// The service's answer to one worker-dialog task, handed from the task to
// the window that opened the dialog: written on the worker thread when the
// task ends, read on the window's thread afterwards. The window acts on
// this answer, never on "result.xml", which only keeps a copy and may
// meanwhile hold another exchange's answer.
#pragma once

#include <mutex>
#include <optional>
#include <string>

namespace miravo {

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

}  // namespace miravo
