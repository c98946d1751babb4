// A run in the console: the checks selected, run and reported, with the log file and the files
// a build system asks for.
#pragma once

#include <vector>

#include "format/output_location.hpp"
#include "runner/options.hpp"
#include "runner/runner.hpp"
#include "runner/test_desc.hpp"

namespace runner {

namespace platform {
class InterruptWatch;
}
namespace process {
class ForkServer;
}

struct RunSummary {
    bool success = false;
    // Checks were still running on threads when the run ended (fail-fast, a time-out or an
    // interrupt left them).
    bool abandoned_threads = false;
    int interrupt = 0; // the signal that interrupted the run; 0 when none did
};

// Where a run waits for signals and runs its checks' processes; either may be absent.
struct RunEnvironment {
    platform::InterruptWatch* interrupts = nullptr;
    process::ForkServer* server = nullptr; // the process mode
};

// Selects, runs and reports the checks in the form the settings choose; throws IoError when
// the report or the log file cannot be written.
RunSummary run_tests_console(const TestOpts& opts, std::vector<TestDescAndFn> tests,
                             const RunnerConfig& config, OutputLocation& out,
                             const RunEnvironment& environment = {});

} // namespace runner
