// The runner's settings, as the command line and the environment fill them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runner/test_desc.hpp"

namespace runner {

enum class RunIgnored { No, Yes, Only }; // normal, also-ignored, only-ignored
enum class ColorConfig { AutoColor, AlwaysColor, NeverColor };
enum class OutputFormat { Pretty, Terse, Json, Junit };

// Warning and critical execution time of one kind of check.
struct TimeThreshold {
    std::chrono::milliseconds warn;
    std::chrono::milliseconds critical;
};

struct TestTimeOptions {
    bool error_on_excess = false; // --ensure-time
    TimeThreshold unit_threshold{std::chrono::milliseconds(50), std::chrono::milliseconds(100)};
    TimeThreshold integration_threshold{std::chrono::milliseconds(500),
                                        std::chrono::milliseconds(1000)};
    TimeThreshold doctest_threshold{std::chrono::milliseconds(500),
                                    std::chrono::milliseconds(1000)};

    // The thresholds of a kind of check; the unclassified kind has a fixed critical time.
    TimeThreshold threshold(TestType type) const;
    bool is_warn(TestType type, std::chrono::nanoseconds exec_time) const;
    bool is_critical(TestType type, std::chrono::nanoseconds exec_time) const;
};

// One share of a run split over several processes: check k of the selection belongs to
// share k mod total.
struct TestShard {
    std::size_t index = 0;
    std::size_t total = 1;
};

struct TestOpts {
    bool list = false;
    std::vector<std::string> filters;
    bool filter_exact = false;
    bool exclude_should_panic = false;
    RunIgnored run_ignored = RunIgnored::No;
    bool run_tests = true;
    bool bench_benchmarks = false;
    std::optional<std::string> logfile;
    bool nocapture = false;
    std::optional<std::size_t> test_threads;
    ColorConfig color = ColorConfig::AutoColor;
    OutputFormat format = OutputFormat::Pretty;
    bool shuffle = false;
    std::optional<std::uint64_t> shuffle_seed;
    std::vector<std::string> skip;
    std::optional<TestTimeOptions> time_options;
    bool fail_fast = false;
    bool show_output = false;
    bool force_run_in_process = false; // --force-run-in-process

    // Set from the environment when a run starts (see platform/environment.hpp).
    bool run_in_processes = false;                          // each check in a process of its own
    std::optional<std::chrono::milliseconds> check_timeout; // a check's hard limit

    // Set from the test protocol of a build system that runs the executable (see
    // platform/bazel_protocol.hpp), never from the command line.
    std::optional<TestShard> shard;
    std::optional<std::string> xml_output_file; // the JUnit report, whatever the form
    std::optional<std::string> trace_file;      // the timeline of the run
};

} // namespace runner
