// The run loop: up to the concurrency of checks at once (one: one after another), on threads of
// their own or in processes of their own. The main thread waits for whichever comes first: a
// result, a deadline (an overdue notice, or the hard limit of SARNIVELLE_TEST_TIMEOUT) or an
// interrupting signal. Each completed check, however it ended, is logged, reported and counted
// in one place as it arrives.
#include "run/run_loop.hpp"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <memory>
#include <new>

#include "format/formatter.hpp"
#include "outcome/attempts.hpp"
#include "outcome/run_counts.hpp"
#include "platform/environment.hpp"
#include "platform/interrupts.hpp"
#include "platform/platform.hpp"
#include "platform/thread.hpp"
#include "run/channel.hpp"
#include "run/check_processes.hpp"
#include "run/log_file.hpp"
#include "run/run_test.hpp"
#include "select/select.hpp"

namespace runner {
namespace {

using clock = std::chrono::steady_clock;

class RunLoop {
public:
    explicit RunLoop(const LoopContext& context) : c_(context), attempts_(context.retry) {
        if (context.server != nullptr) {
            processes_.emplace(*context.server, context.config.termination_grace);
        }
    }

    LoopEnd run(std::vector<TestDescAndFn> tests) {
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

        // Overdue notices only while several checks run at once.
        bool stopped = run_checks(checks, concurrency, !opts.run_tests, concurrency > 1);
        if (!stopped) {
            stopped = report_interrupted_retries();
        }
        if (!stopped && interrupt_ == 0) {
            // Benchmarks run after everything else, one at a time.
            stopped = run_checks(benches, 1, false, false);
        }
        // Processes still running end with the fork server; threads cannot be ended.
        const bool left_threads = stopped && !running_.empty() && !processes_;
        return LoopEnd{abandoned_ || left_threads, interrupt_};
    }

private:
    // A started check in the running-check table.
    struct Running {
        TestId id;
        RunningTest test;
        std::shared_ptr<CheckRun> run;
        clock::time_point started;
        std::optional<clock::time_point> notice_at; // the overdue notice, until it is given
        std::optional<clock::time_point> limit_at;  // the hard limit, until it is reached
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

    // Keeps a run whose check has ended (its thread joined) for a later check, unless a thread
    // the check started still holds it. Allocates nothing: the loop reserves the room. The
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
            poll_fds_.reserve(2 + 2 * count);
        } catch (const std::bad_alloc&) {
        }
    }

    // Memory kept for later checks goes back to the system: for when memory ran out.
    void release_kept_memory() {
        spare_.clear();
        platform::release_kept_stacks();
    }

    // A failed check with attempts left: its attempt is kept and the check goes back to be
    // started again, the same way. True then; the result is not reported. An interrupted run
    // starts nothing again.
    bool retry(CompletedTest& completed, CheckRun& done) {
        if (interrupt_ != 0 || !attempts_.keep_failed(completed, clock::now())) {
            return false;
        }
        selected_[completed.id.value] = std::move(done.test);
        return true;
    }

    // Checks that were waiting to start again when an interrupt came: each is reported as
    // interrupted, with its failed attempts. True when fail-fast stops the run.
    bool report_interrupted_retries() {
        while (!again_.empty()) {
            const TestId id = again_.back();
            again_.pop_back();
            CompletedTest completed{
                id, selected_[id.value].desc,
                TestResult::failed_with("interrupted by " + platform::signal_name(interrupt_)),
                std::nullopt, std::string()};
            if (handle(completed)) {
                return true;
            }
        }
        return false;
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

    // Starts check `id`. False when memory ran out before anything of it was started or
    // announced: the check stays selected, to be started later. A check that starts `again` is
    // not announced again.
    bool start(TestId id, bool force_ignore, bool notices, bool again) {
        std::shared_ptr<CheckRun> run;
        try {
            run = prepare(id);
        } catch (const std::bad_alloc&) {
            return false;
        }
        const auto now = clock::now();
        Running entry{id, {}, run, now, std::nullopt, std::nullopt};
        if (notices) {
            entry.notice_at = now + c_.config.check_deadline;
        }
        if (c_.opts.check_timeout) {
            entry.limit_at = now + *c_.opts.check_timeout;
        }
        if (!again) {
            c_.formatter.write_test_start(run->test.desc);
        }
        if (processes_ && !force_ignore && !run->test.desc.ignore) {
            processes_->start(std::move(run));
        } else {
            entry.test = run_test(std::move(run), force_ignore);
        }
        running_.push_back(std::move(entry));
        return true;
    }

    bool run_checks(const std::vector<TestId>& ids, std::size_t concurrency, bool force_ignore,
                    bool notices) {
        std::size_t next = 0;
        concurrency = std::max<std::size_t>(1, std::min(concurrency, ids.size()));
        // Never longer than the concurrency: adding to it allocates nothing.
        running_.reserve(concurrency);
        // Checks to start again: at most one per running check.
        if (c_.retry.on()) {
            again_.reserve(concurrency);
        }
        keep_spares(concurrency);
        const auto waiting = [&] { return next < ids.size() || !again_.empty(); };
        while (!running_.empty() || (waiting() && interrupt_ == 0)) {
            // Results that keep arriving would leave no wait to notice a signal in.
            if (c_.interrupts != nullptr && interrupt_ == 0 &&
                platform::InterruptWatch::arrived()) {
                take_interrupts();
            }
            // Checks to run again go first, into the place their last attempt left.
            while (running_.size() < concurrency && waiting() && interrupt_ == 0) {
                const bool again = !again_.empty();
                const TestId id = again ? again_.back() : ids[next];
                if (!start(id, force_ignore, notices, again)) {
                    if (!running_.empty()) {
                        break; // a check that ends frees memory; then the next one starts
                    }
                    release_kept_memory();
                    if (!start(id, force_ignore, notices, again)) {
                        throw std::bad_alloc();
                    }
                }
                if (again) {
                    again_.pop_back();
                } else {
                    ++next;
                }
            }
            std::optional<CompletedTest> completed = next_completed();
            if (completed && handle(*completed)) {
                return true;
            }
        }
        return false;
    }

    // The next completed check: a result that arrived, or a check the loop gives up on; nothing
    // when no check runs any more, or when the check that ended is to run again.
    std::optional<CompletedTest> next_completed() {
        for (;;) {
            if (std::shared_ptr<CheckRun> done = channel_->try_recv()) {
                const auto found =
                    std::find_if(running_.begin(), running_.end(),
                                 [&](const Running& entry) { return entry.id == done->id; });
                if (found == running_.end()) {
                    continue; // the late result of a check already reported as failed
                }
                // Out of the table (keeping the others in start order), joined.
                Running entry = std::move(*found);
                running_.erase(found);
                entry.run.reset();
                entry.test.join();
                CompletedTest completed = take_result(*done);
                const bool again = retry(completed, *done);
                recycle(std::move(done));
                if (again) {
                    again_.push_back(completed.id);
                    return std::nullopt;
                }
                return completed;
            }
            if (running_.empty()) {
                return std::nullopt;
            }
            if (auto given_up = check_deadlines()) {
                return given_up;
            }
            wait_for_events();
        }
    }

    // Gives overdue notices, ends the checks past their hard limit and, once interrupted, the
    // running ones. A check on a thread cannot be ended: it is given up at once, its thread left
    // running, and returned as failed. A check's process is asked to end; its result comes
    // when it has.
    std::optional<CompletedTest> check_deadlines() {
        const auto now = clock::now();
        for (std::size_t i = 0; i < running_.size(); ++i) {
            Running& entry = running_[i];
            if (entry.notice_at && *entry.notice_at <= now) {
                entry.notice_at.reset();
                c_.formatter.write_timeout(entry.run->test.desc);
            }
            if (entry.limit_at && *entry.limit_at <= now) {
                entry.limit_at.reset();
                std::string message = "timed out after " + seconds_text(*c_.opts.check_timeout);
                if (processes_) {
                    processes_->end(entry.id, SIGTERM, std::move(message));
                } else if (entry.test.thread) {
                    return give_up(i, std::move(message));
                }
            }
        }
        if (interrupt_ != 0 && !processes_) {
            for (std::size_t i = 0; i < running_.size(); ++i) {
                if (running_[i].test.thread) {
                    return give_up(i, "interrupted by " + platform::signal_name(interrupt_));
                }
            }
        }
        return std::nullopt;
    }

    // Check `index` of the table as failed with `message` and the output it has so far; its
    // thread is left to run, and whatever it sends later is dropped.
    CompletedTest give_up(std::size_t index, std::string message) {
        Running entry = std::move(running_[index]);
        running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(index));
        abandoned_ = true;
        const CheckRun& run = *entry.run;
        std::optional<TestExecTime> exec_time;
        if (run.time_options) {
            exec_time = TestExecTime{clock::now() - entry.started};
        }
        return CompletedTest{entry.id, run.test.desc, TestResult::failed_with(std::move(message)),
                             exec_time, run.nocapture ? std::string() : run.capture.contents()};
    }

    // Waits until a result arrives, the next deadline passes, a signal comes or a check's
    // process has something to read.
    void wait_for_events() {
        std::optional<clock::time_point> until;
        const auto earliest = [&](std::optional<clock::time_point> moment) {
            if (moment && (!until || *moment < *until)) {
                until = moment;
            }
        };
        for (const Running& entry : running_) {
            earliest(entry.notice_at);
            earliest(entry.limit_at);
        }
        if (processes_) {
            earliest(processes_->next_kill());
            wait_for_processes(until);
        } else {
            wait_for_threads(until);
        }
    }

    // Results come from the check threads through the channel. A signal sent to the process
    // goes to its main thread, which does not block it; its handler changes the word the wait
    // sleeps on, so the wait ends however close to its start the signal came.
    void wait_for_threads(std::optional<clock::time_point> until) {
        const std::uint32_t seen = ResultChannel::events_seen();
        if (c_.interrupts != nullptr && interrupt_ == 0 && platform::InterruptWatch::arrived()) {
            take_interrupts();
            return;
        }
        channel_->wait_until(seen, until.value_or(clock::time_point::max()));
    }

    // Results come from the processes' pipes, read on this thread; so does every send to the
    // channel in this mode.
    void wait_for_processes(std::optional<clock::time_point> until) {
        poll_fds_.clear();
        poll_fds_.push_back(pollfd{c_.interrupts != nullptr ? c_.interrupts->fd() : -1, POLLIN, 0});
        processes_->add_poll_fds(poll_fds_);
        int timeout = -1;
        if (until) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*until - clock::now()).count();
            timeout = static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
        }
        const int ready = ::poll(poll_fds_.data(), poll_fds_.size(), timeout);
        if (ready > 0 && poll_fds_[0].revents != 0) {
            take_interrupts();
        }
        processes_->on_poll(poll_fds_, 1);
    }

    // The first of SIGINT, SIGTERM and SIGHUP interrupts the run: no check starts any more, the
    // running ones end (a check's process gets the signal, and SIGKILL after the grace), and a
    // second SIGINT ends the runner at once.
    void take_interrupts() {
        while (const auto signal = c_.interrupts->take()) {
            if (interrupt_ != 0) {
                continue;
            }
            interrupt_ = *signal;
            platform::InterruptWatch::restore_default(SIGINT);
            if (processes_) {
                for (const Running& entry : running_) {
                    processes_->end(entry.id, interrupt_,
                                    "interrupted by " + platform::signal_name(interrupt_));
                }
            }
        }
    }

    const LoopContext& c_;
    std::vector<TestDescAndFn> selected_; // in selection order; each moves out when it starts
    std::shared_ptr<ResultChannel> channel_ = std::make_shared<ResultChannel>();
    // The running-check table, in start order; at most the concurrency long.
    std::vector<Running> running_;
    // Finished runs kept for later checks.
    std::vector<std::shared_ptr<CheckRun>> spare_;
    std::optional<CheckProcesses> processes_; // the process mode
    std::vector<pollfd> poll_fds_;
    bool abandoned_ = false; // a check's thread was left running
    int interrupt_ = 0;      // the signal that interrupted the run
    // Failed attempts of checks that run again, and those checks until they start.
    Attempts attempts_;
    std::vector<TestId> again_;
};

} // namespace

std::string seconds_text(std::chrono::milliseconds duration) {
    const auto count = duration.count();
    std::string text = std::to_string(count / 1000);
    if (const auto fraction = count % 1000; fraction != 0) {
        std::string digits = std::to_string(1000 + fraction).substr(1);
        digits.erase(digits.find_last_not_of('0') + 1);
        text += "." + digits;
    }
    return text + "s";
}

LoopEnd run_loop(const LoopContext& context, std::vector<TestDescAndFn> tests) {
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
