// The result channel: check threads send, the main thread alone receives. Sending never
// allocates, so a check whose thread is short of memory still gets its result through. The main
// thread can also wait for a result together with other events: the channel then writes to a
// descriptor it can poll.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "check/thread_context.hpp"
#include "outcome/test_result.hpp"
#include "platform/platform.hpp"
#include "platform/thread.hpp"
#include "runner/options.hpp"

namespace runner {

class ResultChannel;

// One started check, from its start until the loop has taken its result: shared by the loop,
// the check's thread and the channel, which links the sent ones through `next`. The loop keeps
// finished runs and starts later checks on them, so that a check's thread finds everything it
// needs already allocated: a thread that never allocates skips the C library's per-thread
// allocator set-up and teardown, which would cost more than a trivial check itself.
struct CheckRun {
    TestId id;
    TestDescAndFn test;
    bool nocapture = false;
    std::optional<TestTimeOptions> time_options;
    bool measure = false; // a benchmark run with --bench: sampled, on the calling thread
    std::shared_ptr<ResultChannel> channel;

    // Set by whoever ran the check.
    std::optional<CompletedTest> completed;
    // What went wrong in the runner itself when `completed` could not be made.
    char runner_failure[128] = {};

    // The check's output while it runs (unless capture is off), shared with the threads it
    // starts through aliases of the run's own pointer.
    detail::OutputCapture capture;
    // The alternate signal stack of the check's own thread; null when memory was short, and the
    // check then runs without one. It stays installed until the thread has ended: whoever joins
    // the thread holds the run until then.
    std::unique_ptr<char[]> signal_stack;
    // The check's thread: what it runs, and the run's reference that the thread takes over as
    // it starts (so that a thread the loop abandons still holds its run).
    platform::ThreadEntry thread_entry;
    std::shared_ptr<CheckRun> thread_ref;

    std::shared_ptr<CheckRun> next; // the channel's queue
};

class ResultChannel {
public:
    // Throws std::system_error when the wake-up descriptor cannot be made.
    ResultChannel()
        : wake_fd_(platform::above_standard_streams(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))) {
        if (wake_fd_ < 0) {
            throw std::system_error(errno, std::generic_category(), "eventfd");
        }
    }
    ~ResultChannel() { ::close(wake_fd_); }
    ResultChannel(const ResultChannel&) = delete;
    ResultChannel& operator=(const ResultChannel&) = delete;

    void send(std::shared_ptr<CheckRun> run) noexcept {
        bool wake = false;
        {
            const std::lock_guard lock(mutex_);
            CheckRun* raw = run.get();
            if (tail_ != nullptr) {
                tail_->next = std::move(run);
            } else {
                head_ = std::move(run);
            }
            tail_ = raw;
            wake = polling_;
            polling_ = false;
        }
        ready_.notify_one();
        if (wake) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof one);
        }
    }

    // A result that has arrived, without waiting; null when none has.
    std::shared_ptr<CheckRun> try_recv() {
        const std::lock_guard lock(mutex_);
        return head_ != nullptr ? pop() : nullptr;
    }

    // Before polling wake_fd(): false when a result is already there (do not wait); otherwise
    // the next send makes the descriptor readable. Only a wait makes a sender write to it.
    bool prepare_poll() {
        const std::lock_guard lock(mutex_);
        polling_ = head_ == nullptr;
        return polling_;
    }
    // After the poll; `woken`: the descriptor was readable, and is now read empty.
    void finish_poll(bool woken) {
        {
            const std::lock_guard lock(mutex_);
            polling_ = false;
        }
        if (woken) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(wake_fd_, &count, sizeof count);
        }
    }
    int wake_fd() const { return wake_fd_; }

    std::shared_ptr<CheckRun> recv() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return head_ != nullptr; });
        return pop();
    }

    // Waits until `deadline` at the most; empty when nothing arrived by then.
    std::shared_ptr<CheckRun> recv_until(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!ready_.wait_until(lock, deadline, [this] { return head_ != nullptr; })) {
            return nullptr;
        }
        return pop();
    }

private:
    std::shared_ptr<CheckRun> pop() {
        std::shared_ptr<CheckRun> run = std::move(head_);
        head_ = std::move(run->next);
        if (head_ == nullptr) {
            tail_ = nullptr;
        }
        return run;
    }

    int wake_fd_;
    bool polling_ = false; // the main thread waits on wake_fd_
    std::mutex mutex_;
    std::condition_variable ready_;
    std::shared_ptr<CheckRun> head_;
    CheckRun* tail_ = nullptr;
};

} // namespace runner
