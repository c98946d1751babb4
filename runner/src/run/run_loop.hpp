// The loop that runs the selected checks and reports them as they complete.
#pragma once

#include <vector>

#include "outcome/attempts.hpp"
#include "runner/options.hpp"
#include "runner/runner.hpp"
#include "runner/test_desc.hpp"

namespace runner {

class OutputFormatter;
class LogFile;
struct RunCounts;

// Number of checks run at once without --test-threads: "SARNIVELLE_TEST_THREADS", else the
// processors available to the process, else 1.
std::size_t get_concurrency();

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
