// The loop that runs the selected checks and reports them as they complete.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "outcome/attempts.hpp"
#include "runner/options.hpp"
#include "runner/runner.hpp"
#include "runner/test_desc.hpp"

namespace runner {

class OutputFormatter;
class LogFile;
struct RunCounts;
namespace platform {
class InterruptWatch;
}
namespace process {
class ForkServer;
}

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
    platform::InterruptWatch* interrupts = nullptr;
    process::ForkServer* server = nullptr; // checks run in processes of their own
};

struct LoopEnd {
    bool abandoned_threads = false; // checks still run on threads the loop left
    int interrupt = 0;              // the signal that interrupted the run; 0 when none did
};

// The loop itself: selects the checks, tells the report the run starts, works out the
// concurrency, then starts checks and reports and counts each result as it arrives.
LoopEnd run_loop(const LoopContext& context, std::vector<TestDescAndFn> tests);

// A duration as the time-out message shows it: "60s", "0.25s".
std::string seconds_text(std::chrono::milliseconds duration);

} // namespace runner
