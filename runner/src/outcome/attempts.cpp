#include "outcome/attempts.hpp"

#include <new>

namespace runner {

bool Attempts::keep_failed(CompletedTest& completed, std::chrono::steady_clock::time_point ended) {
    if (!policy_.on() || !completed.result.is_failure()) {
        return false;
    }
    try {
        std::vector<FailedAttempt>& earlier = earlier_[completed.id.value];
        if (earlier.size() >= policy_.retries) {
            return false;
        }
        // Room first: once anything has moved out of the result, nothing may fail.
        earlier.reserve(earlier.size() + 1);
        std::optional<std::chrono::nanoseconds> exec_time;
        if (completed.exec_time) {
            exec_time = completed.exec_time->duration;
        }
        earlier.push_back(FailedAttempt{completed.result.kind, std::move(completed.result.message),
                                        exec_time, std::move(completed.stdout_bytes), ended});
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void Attempts::finish(CompletedTest& completed) {
    if (!policy_.on()) {
        return;
    }
    const auto found = earlier_.find(completed.id.value);
    if (found != earlier_.end()) {
        completed.result.earlier_attempts = std::move(found->second);
        earlier_.erase(found);
    }
}

} // namespace runner
