// A run in the console: the report form, the log file and the counts set up around the loop.
#include "run/console_run.hpp"

#include <algorithm>
#include <chrono>
#include <memory>

#include "format/formatter.hpp"
#include "format/run_outputs.hpp"
#include "outcome/run_counts.hpp"
#include "platform/environment.hpp"
#include "platform/platform.hpp"
#include "run/log_file.hpp"
#include "run/run_loop.hpp"
#include "runner/check.hpp"

namespace runner {
namespace {

// The executable's file name, which names the run in the forms that name it.
std::string suite_name() {
    const auto& args = process_args();
    if (!args.empty()) {
        std::string_view path = args.front();
        const std::size_t slash = path.rfind('/');
        if (slash != std::string_view::npos) {
            path.remove_prefix(slash + 1);
        }
        if (!path.empty()) {
            return std::string(path);
        }
    }
    return "checks";
}

// SARNIVELLE_TEST_RETRIES and SARNIVELLE_TEST_FLAKY; an invalid value ends with a panic.
RetryPolicy retry_policy() {
    RetryPolicy policy;
    policy.retries =
        platform::env_number(platform::env_variable("SARNIVELLE_TEST_RETRIES")).value_or(0);
    constexpr std::string_view flaky_words[] = {"pass", "fail"};
    policy.flaky_fails =
        platform::env_choice(platform::env_variable("SARNIVELLE_TEST_FLAKY"), flaky_words) == 1;
    return policy;
}

// Colour is wanted: --color always, or auto while capturing with standard output a terminal.
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

} // namespace

RunSummary run_tests_console(const TestOpts& opts, std::vector<TestDescAndFn> tests,
                             const RunnerConfig& config, OutputLocation& out,
                             const RunEnvironment& environment) {
    const RetryPolicy retry = retry_policy();
    std::unique_ptr<LogFile> log;
    if (opts.logfile) {
        log = std::make_unique<LogFile>(*opts.logfile);
    }
    RunCounts counts;
    counts.keep_successes = opts.show_output;
    if (retry.on()) {
        counts.flaky = 0;
        counts.flaky_fails = retry.flaky_fails;
    }
    FormatterSettings settings;
    settings.use_color = use_color(opts);
    for (const auto& test : tests) {
        settings.max_name_len = std::max(settings.max_name_len, test.desc.name.size());
    }
    settings.show_output = opts.show_output;
    settings.time_options = opts.time_options;
    settings.check_deadline = config.check_deadline;
    settings.suite_name = suite_name();
    settings.max_attempts = retry.max_attempts();
    const std::unique_ptr<OutputFormatter> formatter =
        with_run_outputs(make_formatter(opts.format, out, settings), opts, settings);

    const auto start = std::chrono::steady_clock::now();
    RunSummary summary;
    const LoopEnd end = run_loop(LoopContext{opts, config, *formatter, counts, log.get(), retry,
                                             environment.interrupts, environment.server},
                                 std::move(tests));
    summary.abandoned_threads = end.abandoned_threads;
    summary.interrupt = end.interrupt;
    counts.exec_time = TestSuiteExecTime{std::chrono::steady_clock::now() - start};

    // An interrupted run reports what ran, not what never started.
    const RunCounts& st = counts; // as the message names it
    if (!(opts.fail_fast || end.interrupt != 0 || st.current_test_count() == st.total)) {
        panic("assertion failed: opts.fail_fast || st.current_test_count() == st.total");
    }
    summary.success = formatter->write_run_finish(counts);
    return summary;
}

} // namespace runner
