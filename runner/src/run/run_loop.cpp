// The run loop: one check at a time, or up to the concurrency at once with a deadline queue for
// overdue notices. Each result is logged, reported and counted as it arrives.
#include "run/run_loop.hpp"

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <new>

#include "format/formatter.hpp"
#include "outcome/attempts.hpp"
#include "outcome/run_counts.hpp"
#include "platform/environment.hpp"
#include "platform/platform.hpp"
#include "platform/thread.hpp"
#include "run/channel.hpp"
#include "run/log_file.hpp"
#include "run/run_test.hpp"
#include "select/select.hpp"

namespace runner {
namespace {

using clock = std::chrono::steady_clock;

struct TimeoutEntry {
    TestId id;
    TestDesc desc;
    clock::time_point deadline;
};

class RunLoop {
public:
    explicit RunLoop(const LoopContext& context) : c_(context), attempts_(context.retry) {}

    // Returns true when fail-fast stopped the loop while checks were still running.
    bool run(std::vector<TestDescAndFn> tests) {
        const TestOpts& opts = c_.opts;
        const std::size_t registered = tests.size();
        // Selection; the registry's order stays.
        std::vector<TestDescAndFn> selected = filter_tests(opts, std::move(tests));
        if (!opts.bench_benchmarks) {
            selected = convert_benchmarks_to_tests(std::move(selected));
        }
        c_.counts.filtered_out = registered - selected.size();
        c_.counts.total = selected.size();

        const std::optional<std::uint64_t> seed =
            opts.shuffle || opts.shuffle_seed ? get_shuffle_seed(opts) : std::nullopt;
        c_.formatter.write_run_start(selected.size(), seed);
        if (seed) {
            shuffle_tests(*seed, selected);
        }
        const std::size_t concurrency = opts.test_threads ? *opts.test_threads : get_concurrency();
        c_.formatter.set_concurrency(concurrency);

        // A check's identity is its place in the selection; benchmarks are set apart.
        selected_ = std::move(selected);
        std::vector<TestId> checks;
        std::vector<TestId> benches;
        checks.reserve(selected_.size());
        for (std::size_t i = 0; i < selected_.size(); ++i) {
            (selected_[i].is_bench() ? benches : checks).push_back(TestId{i});
        }

        const bool stopped = concurrency <= 1 ? run_sequential(checks, !opts.run_tests)
                                              : run_parallel(checks, concurrency);
        if (stopped) {
            return !running_.empty();
        }
        // Benchmarks run after everything else, one at a time.
        run_sequential(benches, false);
        return false;
    }

private:
    // A started check in the running-check table.
    struct Running {
        TestId id;
        RunningTest test;
    };

    // The selected check `id`, handed over to a run: a finished one when there is one to reuse.
    // Throws std::bad_alloc with the check left where it was.
    std::shared_ptr<CheckRun> prepare(TestId id) {
        std::shared_ptr<CheckRun> run;
        if (spare_.empty()) {
            run = std::make_shared<CheckRun>();
            run->channel = channel_;
        } else {
            run = std::move(spare_.back());
            spare_.pop_back();
        }
        run->id = id;
        run->test = std::move(selected_[id.value]);
        run->measure = run->test.is_bench() && c_.opts.bench_benchmarks;
        run->nocapture = c_.opts.nocapture;
        run->time_options = c_.opts.time_options;
        run->completed.reset();
        run->runner_failure[0] = '\0';
        return run;
    }

    // Gives back a prepared check that could not be started.
    void unprepare(std::shared_ptr<CheckRun> run) {
        selected_[run->id.value] = std::move(run->test);
        recycle(std::move(run));
    }

    // Keeps a run whose check has ended (its thread joined) for a later check, unless a thread
    // the check started still holds it. Allocates nothing: the loops reserve the room. The
    // ended check stays in the run until `prepare` puts the next one there.
    void recycle(std::shared_ptr<CheckRun> run) noexcept {
        if (run.use_count() == 1 && spare_.size() < spare_.capacity()) {
            spare_.push_back(std::move(run));
        }
    }

    // Room for up to `count` finished runs to be kept for later checks; less when memory is
    // short.
    void keep_spares(std::size_t count) noexcept {
        try {
            spare_.reserve(count);
        } catch (const std::bad_alloc&) {
        }
    }

    // Memory kept for later checks goes back to the system: for when memory ran out.
    void release_kept_memory() {
        spare_.clear();
        platform::release_kept_stacks();
    }

    // A failed check with attempts left: its attempt is kept and the check goes back to be
    // started again, the same way. True then; the result is not reported.
    bool retry(CompletedTest& completed, CheckRun& done) {
        if (!attempts_.keep_failed(completed, clock::now())) {
            return false;
        }
        selected_[completed.id.value] = std::move(done.test);
        return true;
    }

    // Logs, reports and counts a completed check; true when fail-fast stops the run.
    bool handle(CompletedTest& completed) {
        attempts_.finish(completed);
        if (c_.log != nullptr) {
            c_.log->write_result(completed.desc, completed.result, completed.exec_time);
        }
        c_.formatter.write_result(completed.desc, completed.result, completed.exec_time,
                                  completed.stdout_bytes);
        const bool stop = c_.opts.fail_fast && completed.result.is_failure();
        c_.counts.count(completed);
        return stop;
    }

    bool run_sequential(const std::vector<TestId>& ids, bool force_ignore) {
        keep_spares(1);
        for (const TestId id : ids) {
            bool again = false;
            do {
                std::shared_ptr<CheckRun> run;
                try {
                    run = prepare(id);
                } catch (const std::bad_alloc&) {
                    // Nothing else runs: only what is kept for later can be given back.
                    release_kept_memory();
                    run = prepare(id);
                }
                if (!again) {
                    c_.formatter.write_test_start(run->test.desc);
                }
                RunningTest running = run_test(std::move(run), force_ignore);
                std::shared_ptr<CheckRun> done = channel_->recv();
                running.join();
                CompletedTest completed = take_result(*done);
                again = retry(completed, *done);
                recycle(std::move(done));
                if (!again && handle(completed)) {
                    return true;
                }
            } while (again);
        }
        return false;
    }

    // Starts check `id`. False when memory ran out before anything of it was started or
    // announced: the check stays selected, to be started later. A check that starts `again`
    // keeps the start and the deadline of its first attempt.
    bool start(TestId id, std::deque<TimeoutEntry>& timeouts, bool again = false) {
        std::shared_ptr<CheckRun> run;
        try {
            run = prepare(id);
            if (!again) {
                timeouts.push_back(
                    TimeoutEntry{id, run->test.desc, clock::now() + c_.config.check_deadline});
            }
        } catch (const std::bad_alloc&) {
            if (run) {
                unprepare(std::move(run));
            }
            return false;
        }
        if (!again) {
            c_.formatter.write_test_start(run->test.desc);
        }
        running_.push_back(Running{id, run_test(std::move(run), !c_.opts.run_tests)});
        return true;
    }

    bool run_parallel(const std::vector<TestId>& ids, std::size_t concurrency) {
        std::size_t next = 0;
        std::deque<TimeoutEntry> timeouts;
        concurrency = std::min(concurrency, ids.size());
        // Never longer than the concurrency: adding to it allocates nothing.
        running_.reserve(concurrency);
        // Checks to start again: at most one per running check.
        if (c_.retry.on()) {
            again_.reserve(concurrency);
        }
        keep_spares(concurrency);
        const auto is_running = [this](TestId id) {
            return std::any_of(running_.begin(), running_.end(),
                               [id](const Running& entry) { return entry.id == id; });
        };

        while (!running_.empty() || next < ids.size() || !again_.empty()) {
            // Checks to run again go first, into the place their last attempt left.
            while (running_.size() < concurrency && (next < ids.size() || !again_.empty())) {
                const bool again = !again_.empty();
                const TestId id = again ? again_.back() : ids[next];
                if (!start(id, timeouts, again)) {
                    if (!running_.empty()) {
                        break; // a check that ends frees memory; then the next one starts
                    }
                    release_kept_memory();
                    if (!start(id, timeouts, again)) {
                        throw std::bad_alloc();
                    }
                }
                if (again) {
                    again_.pop_back();
                } else {
                    ++next;
                }
            }

            std::shared_ptr<CheckRun> done;
            while (!done) {
                // Checks that already ended can never be overdue: their entries go at once, so
                // that the queue holds about as many entries as checks are running.
                while (!timeouts.empty() && !is_running(timeouts.front().id)) {
                    timeouts.pop_front();
                }
                if (timeouts.empty()) {
                    done = channel_->recv();
                    break;
                }
                done = channel_->recv_until(timeouts.front().deadline);
                const auto now = clock::now();
                while (!timeouts.empty() && timeouts.front().deadline <= now) {
                    const TimeoutEntry entry = std::move(timeouts.front());
                    timeouts.pop_front();
                    if (is_running(entry.id)) {
                        c_.formatter.write_timeout(entry.desc);
                    }
                }
            }

            // Out of the table (keeping the others in start order), joined, reported, counted.
            RunningTest finished;
            const auto found =
                std::find_if(running_.begin(), running_.end(),
                             [&](const Running& entry) { return entry.id == done->id; });
            if (found != running_.end()) {
                finished = std::move(found->test);
                running_.erase(found);
            }
            finished.join();
            CompletedTest completed = take_result(*done);
            const bool again = retry(completed, *done);
            recycle(std::move(done));
            if (again) {
                again_.push_back(completed.id);
            } else if (handle(completed)) {
                return true;
            }
        }
        return false;
    }

    const LoopContext& c_;
    std::vector<TestDescAndFn> selected_; // in selection order; each moves out when it starts
    std::shared_ptr<ResultChannel> channel_ = std::make_shared<ResultChannel>();
    // The running-check table, in start order; at most the concurrency long.
    std::vector<Running> running_;
    // Finished runs kept for later checks.
    std::vector<std::shared_ptr<CheckRun>> spare_;
    // Failed attempts of checks that run again, and those checks until they start.
    Attempts attempts_;
    std::vector<TestId> again_;
};

} // namespace

bool run_loop(const LoopContext& context, std::vector<TestDescAndFn> tests) {
    RunLoop loop(context);
    return loop.run(std::move(tests));
}

std::size_t get_concurrency() {
    if (const auto threads =
            platform::env_number(platform::env_variable("SARNIVELLE_TEST_THREADS"))) {
        return static_cast<std::size_t>(*threads);
    }
    return platform::available_parallelism().value_or(1);
}

} // namespace runner
