// Running the selected checks and reporting them as they complete.
#pragma once

#include <vector>

#include "format/output_location.hpp"
#include "outcome/attempts.hpp"
#include "runner/options.hpp"
#include "runner/runner.hpp"
#include "runner/test_desc.hpp"

namespace runner {

class OutputFormatter;
class LogFile;
struct RunCounts;

struct RunSummary {
    bool success = false;
    // Fail-fast stopped the run while checks were still running on their threads.
    bool abandoned_threads = false;
};

// Selects, runs and reports the checks in the form the settings choose; throws IoError when
// the report or the log file cannot be written.
RunSummary run_tests_console(const TestOpts& opts, std::vector<TestDescAndFn> tests,
                             const RunnerConfig& config, OutputLocation& out);

// Number of checks run at once without --test-threads: "SARNIVELLE_TEST_THREADS", else the
// processors available to the process, else 1.
std::size_t get_concurrency();

// Colour is wanted: --color always, or auto while capturing with standard output a terminal.
bool use_color(const TestOpts& opts);

// What the loop reports to and counts in.
struct LoopContext {
    const TestOpts& opts;
    const RunnerConfig& config;
    OutputFormatter& formatter;
    RunCounts& counts;
    LogFile* log; // none without --logfile
    RetryPolicy retry{};
};

// The loop itself: selects the checks, tells the report the run starts, works out the
// concurrency, then starts checks and reports and counts each result as it arrives. Returns
// true when fail-fast stopped it while checks were still running.
bool run_loop(const LoopContext& context, std::vector<TestDescAndFn> tests);

} // namespace runner
