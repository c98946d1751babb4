// The result channel: check threads send, the main thread alone receives.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "run/test_result.hpp"

namespace runner {

class ResultChannel {
public:
    void send(CompletedTest completed) {
        {
            const std::lock_guard lock(mutex_);
            queue_.push_back(std::move(completed));
        }
        ready_.notify_one();
    }

    CompletedTest recv() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty(); });
        return pop(lock);
    }

    // Waits until `deadline` at the most; empty when nothing arrived by then.
    std::optional<CompletedTest> recv_until(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!ready_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) {
            return std::nullopt;
        }
        return pop(lock);
    }

private:
    CompletedTest pop(std::unique_lock<std::mutex>&) {
        CompletedTest completed = std::move(queue_.front());
        queue_.pop_front();
        return completed;
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<CompletedTest> queue_;
};

} // namespace runner
