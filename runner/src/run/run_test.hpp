// Running one check: the thread it runs on, its output capture and signal stack, and the one
// path by which however it ends becomes exactly one result on the channel.
#pragma once

#include <memory>
#include <optional>

#include "outcome/test_result.hpp"
#include "platform/thread.hpp"
#include "run/channel.hpp"

namespace runner {

// A started check: the thread that runs it, if it got one.
struct RunningTest {
    std::optional<platform::Thread> thread;

    void join() {
        if (thread) {
            thread->join();
        }
    }
};

// Starts a check. An ignored check (`force_ignore` or its own flag) is sent at once and a
// benchmark measured with --bench runs on the calling thread; any other check gets a thread
// named after it, or runs on the calling thread when the process may not start one. Its result
// is sent on `run->channel` in every case; a failure of the runner itself while it runs the
// check (memory ran out) is sent as a failure of that check.
RunningTest run_test(std::shared_ptr<CheckRun> run, bool force_ignore);

// Memory for a check's alternate signal stack; null when memory is short.
std::unique_ptr<char[]> make_signal_stack();
// Whether the main thread's stack may grow to at least what a check's own thread gets.
bool main_thread_fits_check();
// Runs a check on the calling thread and returns its result; a check's own process runs its
// one check so, on its main thread when that fits the check (main_thread_fits_check). The
// run's signal stack is used when it has one.
CompletedTest run_test_here(const std::shared_ptr<CheckRun>& run);

// The result sent for a check: what its run completed, else a failure naming the runner's
// own error.
CompletedTest take_result(CheckRun& run);

} // namespace runner
