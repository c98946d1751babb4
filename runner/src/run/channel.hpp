// The result channel: check threads send, the main thread alone receives. Sending never
// allocates, so a check whose thread is short of memory still gets its result through. The main
// thread can also wait for a result together with other events: a result, a time limit or an
// interrupting signal each end its wait.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "check/thread_context.hpp"
#include "outcome/test_result.hpp"
#include "platform/futex.hpp"
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
    void send(std::shared_ptr<CheckRun> run) noexcept {
        {
            const std::lock_guard lock(mutex_);
            CheckRun* raw = run.get();
            if (tail_ != nullptr) {
                tail_->next = std::move(run);
            } else {
                head_ = std::move(run);
            }
            tail_ = raw;
        }
        // After the queue has it: a receiver that read the event word before looking at the
        // queue either finds the result there or sees the word change under its wait. The
        // receiver announces its sleep before it sleeps, so a send that sees no sleeper makes
        // no call.
        platform::event_word.fetch_add(1);
        if (sleeping_.load()) {
            platform::futex_wake_all(platform::event_word);
        }
    }

    // A result that has arrived, without waiting; null when none has.
    std::shared_ptr<CheckRun> try_recv() {
        const std::lock_guard lock(mutex_);
        return head_ != nullptr ? pop() : nullptr;
    }

    // The event word, read before looking for results and signals: a wait given it does not
    // sleep through one that came after.
    static std::uint32_t events_seen() { return platform::event_word.load(); }

    // Sleeps until a result is there, `deadline` passes or an interrupting signal has come,
    // counting from `seen`; returns at once when a result is already there.
    void wait_until(std::uint32_t seen, std::chrono::steady_clock::time_point deadline) {
        {
            const std::lock_guard lock(mutex_);
            if (head_ != nullptr) {
                return;
            }
        }
        sleeping_.store(true);
        platform::futex_wait_until(platform::event_word, seen, deadline);
        sleeping_.store(false);
    }

    std::shared_ptr<CheckRun> recv() {
        for (;;) {
            const std::uint32_t seen = events_seen();
            if (std::shared_ptr<CheckRun> run = try_recv()) {
                return run;
            }
            wait_until(seen, std::chrono::steady_clock::time_point::max());
        }
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

    std::atomic<bool> sleeping_{false}; // the receiver is in, or about to enter, its sleep
    std::mutex mutex_;
    std::shared_ptr<CheckRun> head_;
    CheckRun* tail_ = nullptr;
};

} // namespace runner
