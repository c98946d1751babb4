#include "run/run_test.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <new>
#include <vector>

#include "check/failure.hpp"
#include "check/thread_context.hpp"
#include "outcome/calc_result.hpp"
#include "platform/environment.hpp"
#include "run/exit_guard.hpp"
#include "runner/bencher.hpp"

namespace runner {
namespace {

using clock = std::chrono::steady_clock;
constexpr std::size_t default_stack_size = 2 * 1024 * 1024;

// Gives the calling thread a check's name and a fresh output capture for as long as it runs
// the check, then restores what the thread had.
class CheckScope {
public:
    CheckScope(const TestDesc& desc, std::shared_ptr<detail::OutputCapture> capture)
        : thread_(detail::this_thread()), saved_(thread_), capture_(std::move(capture)) {
        thread_.name = desc.name;
        thread_.capture = capture_;
        thread_.check_name = desc.name;
        thread_.check_site = PanicLocation{desc.source_file, desc.start_line, desc.start_col};
    }
    ~CheckScope() { thread_ = std::move(saved_); }
    CheckScope(const CheckScope&) = delete;
    CheckScope& operator=(const CheckScope&) = delete;

    const PanicLocation& site() const { return thread_.check_site; }
    std::string take_output() { return capture_ ? capture_->take() : std::string(); }

private:
    detail::ThreadContext& thread_;
    detail::ThreadContext saved_;
    std::shared_ptr<detail::OutputCapture> capture_;
};

// An alternate signal stack, so that the crash report of a check also works when the check
// overflowed its own stack. On the heap: a thread's fresh stack pages are costly to touch.
constexpr std::size_t signal_stack_size = 64 * 1024;

// Installs `memory` (signal_stack_size bytes) as the calling thread's alternate signal stack for
// as long as a check runs there.
class AltSignalStack {
public:
    // `thread_ends`: the thread ends after the check, and `memory` outlives the thread.
    AltSignalStack(char* memory, bool thread_ends) {
        stack_t stack{};
        stack.ss_sp = memory;
        stack.ss_size = signal_stack_size;
        const bool installed = sigaltstack(&stack, &previous_) == 0;
        // A thread about to end need not get its empty setting back, which saves a system call
        // per check. A stack that someone else installed always comes back: its owner may free
        // whatever stack the thread has when it ends (a sanitizer's runtime does).
        restore_ = installed && !(thread_ends && (previous_.ss_flags & SS_DISABLE) != 0);
    }
    ~AltSignalStack() {
        if (restore_) {
            sigaltstack(&previous_, nullptr);
        }
    }
    AltSignalStack(const AltSignalStack&) = delete;
    AltSignalStack& operator=(const AltSignalStack&) = delete;

private:
    stack_t previous_{};
    bool restore_ = false;
};

// The median and the spread (maximum minus minimum) of a benchmark's samples.
BenchSamples summarise(std::vector<double> samples) {
    BenchSamples summary;
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        const std::size_t n = samples.size();
        summary.median_ns = n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
        summary.deviation_ns = samples.back() - samples.front();
    }
    return summary;
}

// Runs the check on the calling thread and makes its completed form. Throws only when the
// runner itself fails (memory ran out outside the check's own code). `own_thread`: the thread
// was started for this check and ends after it.
CompletedTest execute(const std::shared_ptr<CheckRun>& run, bool own_thread) {
    // On the calling thread the stack is needed only while the check runs: allocated here, so
    // that checks waiting for the loop to take their results hold none.
    std::unique_ptr<char[]> local_stack;
    if (!own_thread && !run->signal_stack) {
        local_stack = make_signal_stack();
    }
    char* const stack_memory = local_stack ? local_stack.get() : run->signal_stack.get();
    std::optional<AltSignalStack> alt_stack;
    if (stack_memory != nullptr) {
        alt_stack.emplace(stack_memory, own_thread);
    }
    const TestDescAndFn& test = run->test;
    Bencher bencher(run->measure);
    std::optional<Panic> failure;
    std::optional<TestExecTime> exec_time;
    std::string output;
    {
        CheckScope scope(
            test.desc,
            run->nocapture ? nullptr : std::shared_ptr<detail::OutputCapture>(run, &run->capture));
        const RunningCheckMark running(test.desc.name);
        const auto start = clock::now();
        failure = detail::catch_failure(scope.site(), [&] {
            if (test.is_bench()) {
                test.bench(bencher);
            } else if (CheckResult error = test.test()) {
                // A check that returns an error text fails with it.
                panic_at(PanicPayload::text(std::move(*error)), scope.site());
            }
        });
        if (run->time_options && !run->measure) {
            exec_time = TestExecTime{clock::now() - start};
        }
        output = scope.take_output();
    }
    std::optional<PanicPayload> payload;
    if (failure) {
        payload = failure->payload();
    }
    TestResult result =
        calc_result(test.desc, payload, run->measure ? std::nullopt : run->time_options, exec_time);
    if (run->measure && result.kind == TestResultKind::Passed && !failure) {
        result = TestResult::measured(summarise(bencher.samples_ns()));
    }
    return CompletedTest{run->id, test.desc, std::move(result), exec_time, std::move(output)};
}

// Runs the check wherever the caller stands and keeps its result in the run, whatever happens.
void execute_into(const std::shared_ptr<CheckRun>& run, bool own_thread) noexcept {
    try {
        run->completed = execute(run, own_thread);
    } catch (...) {
        detail::describe_runner_failure(run->runner_failure);
    }
}

// Runs the check wherever the caller stands and sends its result, whatever happens.
void execute_and_send(const std::shared_ptr<CheckRun>& run, bool own_thread) noexcept {
    execute_into(run, own_thread);
    run->channel->send(run);
}

// The body of a check's own thread.
void check_thread(void* arg) {
    // The thread's reference to its run, handed over by the starter.
    const std::shared_ptr<CheckRun> run = std::move(static_cast<CheckRun*>(arg)->thread_ref);
    const detail::OwnThreadContext own;
    execute_and_send(run, true);
}

std::size_t min_stack_size() {
    return platform::env_number(platform::env_variable("SARNIVELLE_MIN_STACK"))
        .value_or(default_stack_size);
}

} // namespace

std::unique_ptr<char[]> make_signal_stack() {
    return std::unique_ptr<char[]>(new (std::nothrow) char[signal_stack_size]);
}

bool main_thread_fits_check() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_STACK, &limit) != 0) {
        return false;
    }
    // What the process has used before the check starts is far less than the margin.
    constexpr rlim_t margin = 256 * 1024;
    return limit.rlim_cur == RLIM_INFINITY ||
           (limit.rlim_cur > margin && limit.rlim_cur - margin >= min_stack_size());
}

CompletedTest run_test_here(const std::shared_ptr<CheckRun>& run) {
    execute_into(run, false);
    return take_result(*run);
}

RunningTest run_test(std::shared_ptr<CheckRun> run, bool force_ignore) {
    if (force_ignore || run->test.desc.ignore) {
        run->completed =
            CompletedTest{run->id, run->test.desc, TestResult::ignored(), std::nullopt, {}};
        run->channel->send(std::move(run));
        return {};
    }
    if (run->measure) {
        execute_and_send(run, false);
        return {};
    }
    // Allocated here rather than on the check's thread (see CheckRun); without it the check
    // still runs, only a stack overflow in it goes unreported.
    if (!run->signal_stack) {
        run->signal_stack = make_signal_stack();
    }
    run->thread_entry.run = &check_thread;
    run->thread_entry.arg = run.get();
    run->thread_entry.set_name(run->test.desc.name);
    run->thread_ref = run;
    platform::SpawnOutcome spawned = platform::spawn_thread(run->thread_entry, min_stack_size());
    if (spawned.status == platform::SpawnOutcome::Status::Started) {
        return RunningTest{std::move(spawned.thread)};
    }
    run->thread_ref.reset();
    if (spawned.status == platform::SpawnOutcome::Status::WouldBlock) {
        // The process may not start more threads (or has no memory for one): run the check
        // here instead, without keeping memory that only threads of their own would use.
        run->signal_stack.reset();
        platform::release_kept_stacks();
        execute_and_send(run, false);
        return {};
    }
    panic("failed to spawn thread to run test: " + spawned.error);
}

CompletedTest take_result(CheckRun& run) {
    if (run.completed) {
        return std::move(*run.completed);
    }
    return CompletedTest{
        run.id,
        run.test.desc,
        TestResult::failed_with("error in the check runner: " + std::string(run.runner_failure)),
        std::nullopt,
        {}};
}

} // namespace runner
