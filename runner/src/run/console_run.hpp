// A run in the console: the checks selected, run and reported, with the log file and the files
// a build system asks for.
#pragma once

#include <vector>

#include "format/output_location.hpp"
#include "runner/options.hpp"
#include "runner/runner.hpp"
#include "runner/test_desc.hpp"

namespace runner {

struct RunSummary {
    bool success = false;
    // Fail-fast stopped the run while checks were still running on their threads.
    bool abandoned_threads = false;
};

// Selects, runs and reports the checks in the form the settings choose; throws IoError when
// the report or the log file cannot be written.
RunSummary run_tests_console(const TestOpts& opts, std::vector<TestDescAndFn> tests,
                             const RunnerConfig& config, OutputLocation& out);

} // namespace runner
