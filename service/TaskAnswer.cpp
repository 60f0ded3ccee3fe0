#include "service/TaskAnswer.h"

namespace miravo {

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

}  // namespace miravo
