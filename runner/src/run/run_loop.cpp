#include "run/run_loop.hpp"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <memory>
#include <unordered_map>

#include "check/thread_context.hpp"
#include "format/formatter.hpp"
#include "options/parse_opts.hpp"
#include "platform/platform.hpp"
#include "run/channel.hpp"
#include "run/console_state.hpp"
#include "run/run_outputs.hpp"
#include "run/run_test.hpp"
#include "runner/bencher.hpp"
#include "runner/check.hpp"
#include "select/select.hpp"

namespace runner {
namespace {

using clock = std::chrono::steady_clock;
constexpr std::size_t default_stack_size = 2 * 1024 * 1024;

std::size_t min_stack_size() {
    const auto value = process_env("SARNIVELLE_MIN_STACK");
    if (!value || value->empty()) {
        return default_stack_size;
    }
    std::size_t size = 0;
    const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), size);
    if (ec != std::errc() || end != value->data() + value->size()) {
        return default_stack_size;
    }
    return size;
}

// Runs `body`, turning a failure into its payload. A failure that did not come through
// runner::panic (an exception of the check's own) is reported as a panic at the check's
// declaration.
template <class Body>
std::optional<PanicPayload> catch_failure(const TestDesc& desc, Body&& body) {
    const PanicLocation declaration{desc.source_file, desc.start_line, desc.start_col};
    try {
        try {
            body();
            return std::nullopt;
        } catch (const std::exception& error) {
            panic_at(PanicPayload::text(std::string("uncaught exception: ") + error.what()),
                     declaration);
        } catch (const Panic&) {
            throw;
        } catch (...) {
            panic_at(PanicPayload::value(std::any(), "an unknown exception type"), declaration);
        }
    } catch (const Panic& failure) {
        return failure.payload();
    }
}

// Runs a check body once; a check that returns an error text fails with that text.
std::optional<PanicPayload> call_check(const TestDescAndFn& test) {
    return catch_failure(test.desc, [&test] {
        if (test.is_bench()) {
            Bencher bencher(false);
            test.bench(bencher);
        } else if (CheckResult error = test.test()) {
            panic_at(
                PanicPayload::text(std::move(*error)),
                PanicLocation{test.desc.source_file, test.desc.start_line, test.desc.start_col});
        }
    });
}

// Gives the calling thread a check's name and a fresh output capture for as long as it runs
// the check, then restores what the thread had.
class CheckScope {
public:
    CheckScope(std::string_view check_name, bool nocapture)
        : thread_(detail::this_thread()), saved_name_(thread_.name),
          saved_capture_(thread_.capture),
          capture_(nocapture ? nullptr : std::make_shared<detail::OutputCapture>()) {
        detail::enter_thread(std::string(check_name), capture_);
        thread_.check_name = check_name;
    }
    ~CheckScope() {
        detail::enter_thread(std::move(saved_name_), std::move(saved_capture_));
        thread_.check_name.clear();
    }
    CheckScope(const CheckScope&) = delete;
    CheckScope& operator=(const CheckScope&) = delete;

    std::string output() const { return capture_ ? capture_->contents() : std::string(); }

private:
    detail::ThreadContext& thread_;
    std::string saved_name_;
    std::shared_ptr<detail::OutputCapture> saved_capture_;
    std::shared_ptr<detail::OutputCapture> capture_;
};

// An alternate signal stack, so that the crash report of a check also works when the check
// overflowed its own stack.
class AltSignalStack {
public:
    AltSignalStack() : memory_(std::make_unique_for_overwrite<char[]>(size)) {
        stack_t stack{};
        stack.ss_sp = memory_.get();
        stack.ss_size = size;
        installed_ = sigaltstack(&stack, nullptr) == 0;
    }
    ~AltSignalStack() {
        if (installed_) {
            stack_t disable{};
            disable.ss_flags = SS_DISABLE;
            sigaltstack(&disable, nullptr);
        }
    }
    AltSignalStack(const AltSignalStack&) = delete;
    AltSignalStack& operator=(const AltSignalStack&) = delete;

private:
    static constexpr std::size_t size = 64 * 1024;
    std::unique_ptr<char[]> memory_;
    bool installed_ = false;
};

struct CheckRunSettings {
    bool nocapture = false;
    std::optional<TestTimeOptions> time_options;
};

// Runs one check on the calling thread with its own output capture and sends its result.
void run_check_here(const CheckRunSettings& settings, TestId id, const TestDescAndFn& test,
                    ResultChannel& channel) {
    std::optional<PanicPayload> failure;
    std::optional<TestExecTime> exec_time;
    std::string output;
    {
        const CheckScope scope(test.desc.name, settings.nocapture);
        const auto start = clock::now();
        failure = call_check(test);
        if (settings.time_options) {
            exec_time = TestExecTime{clock::now() - start};
        }
        output = scope.output();
    }
    TestResult result = calc_result(test.desc, failure, settings.time_options, exec_time);
    channel.send(CompletedTest{id, test.desc, std::move(result), exec_time, std::move(output)});
}

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

void run_benchmark_here(const CheckRunSettings& settings, TestId id, const TestDescAndFn& test,
                        ResultChannel& channel) {
    Bencher bencher(true);
    std::optional<PanicPayload> failure;
    std::string output;
    {
        const CheckScope scope(test.desc.name, settings.nocapture);
        failure = catch_failure(test.desc, [&] { test.bench(bencher); });
        output = scope.output();
    }
    TestResult result = calc_result(test.desc, failure, std::nullopt, std::nullopt);
    if (result.kind == TestResultKind::Passed && !failure) {
        result = TestResult::measured(summarise(bencher.samples_ns()));
    }
    channel.send(CompletedTest{id, test.desc, std::move(result), std::nullopt, std::move(output)});
}

// A started check: the thread that runs it, if it got one.
struct RunningTest {
    std::optional<platform::Thread> thread;
    // Set when the thread ended by an exception after its check's result was sent.
    std::shared_ptr<std::atomic<bool>> ended_by_panic;

    // Waits for the thread; true when it ended by a panic.
    bool join() {
        if (thread) {
            thread->join();
        }
        return ended_by_panic && ended_by_panic->load();
    }
};

std::optional<RunningTest> run_test(const TestOpts& opts, bool force_ignore, TestId id,
                                    TestDescAndFn test,
                                    const std::shared_ptr<ResultChannel>& channel) {
    if (force_ignore || test.desc.ignore) {
        channel->send(CompletedTest{id, test.desc, TestResult::ignored(), std::nullopt, {}});
        return std::nullopt;
    }
    const CheckRunSettings settings{opts.nocapture, opts.time_options};
    if (test.is_bench() && opts.bench_benchmarks) {
        run_benchmark_here(settings, id, test, *channel);
        return std::nullopt;
    }

    const std::string name(test.desc.name);
    // The body shares ownership of the check and the channel: a check abandoned by fail-fast
    // may still be running after the run loop has returned.
    auto shared_test = std::make_shared<TestDescAndFn>(std::move(test));
    auto ended_by_panic = std::make_shared<std::atomic<bool>>(false);
    auto body = [settings, id, shared_test, channel, ended_by_panic]() {
        const AltSignalStack alt_stack;
        try {
            run_check_here(settings, id, *shared_test, *channel);
        } catch (...) {
            ended_by_panic->store(true);
        }
    };
    platform::SpawnOutcome spawned = platform::spawn_thread(name, min_stack_size(), body);
    switch (spawned.status) {
    case platform::SpawnOutcome::Status::Started:
        return RunningTest{std::move(spawned.thread), std::move(ended_by_panic)};
    case platform::SpawnOutcome::Status::WouldBlock:
        // The process may not start more threads: run the check here instead.
        run_check_here(settings, id, *shared_test, *channel);
        return RunningTest{};
    case platform::SpawnOutcome::Status::Failed:
        break;
    }
    panic("failed to spawn thread to run test: " + spawned.error);
}

struct TimeoutEntry {
    TestId id;
    TestDesc desc;
    clock::time_point deadline;
};

struct TestIdHash {
    std::size_t operator()(TestId id) const noexcept { return id.value; }
};

class RunLoop {
public:
    RunLoop(const TestOpts& opts, const RunnerConfig& config, OutputFormatter& formatter,
            ConsoleTestState& state)
        : opts_(opts), config_(config), formatter_(formatter), state_(state) {}

    // Returns true when fail-fast stopped the loop while checks were still running.
    bool run(std::vector<TestDescAndFn> tests, std::size_t concurrency) {
        // Selection; the registry's order stays.
        std::vector<TestDescAndFn> selected = filter_tests(opts_, std::move(tests));
        if (!opts_.bench_benchmarks) {
            selected = convert_benchmarks_to_tests(std::move(selected));
        }
        std::vector<std::pair<TestId, TestDescAndFn>> checks;
        std::vector<std::pair<TestId, TestDescAndFn>> benches;
        std::size_t next_id = 0;
        state_.filtered_out = total_registered_ - selected.size();
        state_.total = selected.size();

        const std::optional<std::uint64_t> seed =
            opts_.shuffle || opts_.shuffle_seed ? get_shuffle_seed(opts_) : std::nullopt;
        formatter_.write_run_start(selected.size(), seed);
        if (seed) {
            shuffle_tests(*seed, selected);
        }
        for (auto& test : selected) {
            auto& list = test.is_bench() ? benches : checks;
            list.emplace_back(TestId{next_id++}, std::move(test));
        }

        const bool stopped = concurrency <= 1 ? run_sequential(checks, !opts_.run_tests)
                                              : run_parallel(checks, concurrency);
        if (stopped) {
            return !running_.empty();
        }
        // Benchmarks run after everything else, one at a time.
        run_sequential(benches, false);
        return false;
    }

    void set_total_registered(std::size_t total) { total_registered_ = total; }

private:
    // Reports and counts a completed check; true when fail-fast stops the run.
    bool handle(const CompletedTest& completed) {
        state_.write_log_result(completed.desc, completed.result, completed.exec_time);
        formatter_.write_result(completed.desc, completed.result, completed.exec_time,
                                completed.stdout_bytes, state_);
        state_.count(completed);
        return opts_.fail_fast && completed.result.is_failure();
    }

    bool run_sequential(std::vector<std::pair<TestId, TestDescAndFn>>& tests, bool force_ignore) {
        for (auto& [id, test] : tests) {
            formatter_.write_test_start(test.desc);
            std::optional<RunningTest> running =
                run_test(opts_, force_ignore, id, std::move(test), channel_);
            CompletedTest completed = channel_->recv();
            if (running) {
                completed.result = result_after_join(std::move(completed.result), running->join());
            }
            if (handle(completed)) {
                return true;
            }
        }
        return false;
    }

    bool run_parallel(std::vector<std::pair<TestId, TestDescAndFn>>& tests,
                      std::size_t concurrency) {
        std::size_t pending = 0;
        std::size_t next = 0;
        std::deque<TimeoutEntry> timeouts;
        const auto start_checks = [&] {
            while (pending < concurrency && next < tests.size()) {
                auto& [id, test] = tests[next++];
                const auto deadline = clock::now() + config_.check_deadline;
                formatter_.write_test_start(test.desc);
                TestDesc desc = test.desc;
                std::optional<RunningTest> running =
                    run_test(opts_, !opts_.run_tests, id, std::move(test), channel_);
                running_.emplace(id, running ? std::move(*running) : RunningTest{});
                timeouts.push_back(TimeoutEntry{id, std::move(desc), deadline});
                ++pending;
            }
        };

        start_checks();
        while (pending > 0) {
            std::optional<CompletedTest> completed;
            while (!completed) {
                if (timeouts.empty()) {
                    completed = channel_->recv();
                    break;
                }
                completed = channel_->recv_until(timeouts.front().deadline);
                const auto now = clock::now();
                while (!timeouts.empty() && timeouts.front().deadline <= now) {
                    const TimeoutEntry entry = std::move(timeouts.front());
                    timeouts.pop_front();
                    if (running_.contains(entry.id)) {
                        formatter_.write_timeout(entry.desc);
                    }
                }
            }

            RunningTest finished;
            if (auto found = running_.find(completed->id); found != running_.end()) {
                finished = std::move(found->second);
                running_.erase(found);
            }
            --pending;
            // The check has freed its slot: start the next one before joining, reporting and
            // counting this one, so that the main thread's own work overlaps the checks'.
            // Fail-fast starts nothing after a failure.
            if (!(opts_.fail_fast && completed->result.is_failure())) {
                start_checks();
            }
            completed->result = result_after_join(std::move(completed->result), finished.join());
            if (handle(*completed)) {
                return true;
            }
        }
        return false;
    }

    const TestOpts& opts_;
    const RunnerConfig& config_;
    OutputFormatter& formatter_;
    ConsoleTestState& state_;
    std::size_t total_registered_ = 0;
    std::shared_ptr<ResultChannel> channel_ = std::make_shared<ResultChannel>();
    std::unordered_map<TestId, RunningTest, TestIdHash> running_;
};

} // namespace

std::size_t get_concurrency() {
    if (const auto value = process_env("SARNIVELLE_TEST_THREADS")) {
        std::size_t threads = 0;
        const auto [end, ec] =
            std::from_chars(value->data(), value->data() + value->size(), threads);
        if (ec != std::errc() || end != value->data() + value->size() || threads == 0) {
            panic("SARNIVELLE_TEST_THREADS is `" + *value + "`, should be a positive integer.");
        }
        return threads;
    }
    return platform::available_parallelism().value_or(1);
}

bool use_color(const TestOpts& opts) {
    switch (opts.color) {
    case ColorConfig::AutoColor:
        return !opts.nocapture && platform::stdout_is_terminal();
    case ColorConfig::AlwaysColor:
        return true;
    case ColorConfig::NeverColor:
        return false;
    }
    return false;
}

RunSummary run_tests_console(const TestOpts& opts, std::vector<TestDescAndFn> tests,
                             const RunnerConfig& config, OutputLocation& out) {
    ConsoleTestState state(opts);
    std::size_t max_name_len = 0;
    for (const auto& test : tests) {
        max_name_len = std::max(max_name_len, test.desc.name.size());
    }
    const std::size_t concurrency = opts.test_threads ? *opts.test_threads : get_concurrency();
    FormatterSettings settings;
    settings.use_color = use_color(opts);
    settings.max_name_len = max_name_len;
    settings.is_multithreaded = concurrency > 1;
    settings.show_output = opts.show_output;
    settings.time_options = opts.time_options;
    settings.check_deadline = config.check_deadline;
    const std::unique_ptr<OutputFormatter> formatter =
        with_run_outputs(make_formatter(opts.format, out, settings), opts, settings, concurrency);

    const auto start = clock::now();
    RunLoop loop(opts, config, *formatter, state);
    loop.set_total_registered(tests.size());
    RunSummary summary;
    summary.abandoned_threads = loop.run(std::move(tests), concurrency);
    state.exec_time = TestSuiteExecTime{clock::now() - start};

    if (!(opts.fail_fast || state.current_test_count() == state.total)) {
        panic("assertion failed: opts.fail_fast || st.current_test_count() == st.total");
    }
    summary.success = formatter->write_run_finish(state);
    return summary;
}

} // namespace runner
