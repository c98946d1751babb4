// One report form. The run loop calls these in the order they are declared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "format/output_location.hpp"
#include "outcome/run_counts.hpp"
#include "outcome/test_result.hpp"
#include "runner/options.hpp"

namespace runner {

// Counts of list mode.
struct DiscoveryState {
    std::size_t tests = 0;
    std::size_t benchmarks = 0;
};

// What every form is told when it is made.
struct FormatterSettings {
    bool use_color = false;        // colour wanted; a form colours only if the location can
    std::size_t max_name_len = 0;  // longest name in the registry, for padded benchmark names
    bool is_multithreaded = false; // more than one check runs at a time (see set_concurrency)
    bool show_output = false;      // --show-output
    std::optional<TestTimeOptions> time_options;
    std::chrono::milliseconds check_deadline{60000};
    std::string suite_name = "checks"; // the executable's file name, for forms that name the run
    std::uint64_t max_attempts = 1;    // more than 1 with retries on
};

class OutputFormatter {
public:
    virtual ~OutputFormatter() = default;
    // All of these throw IoError when the location cannot be written.
    virtual void write_discovery_start() = 0;
    virtual void write_test_discovered(const TestDesc& desc, bool is_bench) = 0;
    virtual void write_discovery_finish(const DiscoveryState& state) = 0;
    virtual void write_run_start(std::size_t test_count,
                                 std::optional<std::uint64_t> shuffle_seed) = 0;
    // The number of checks run at once, known after the run-start line.
    virtual void set_concurrency(std::size_t threads) { (void)threads; }
    virtual void write_test_start(const TestDesc& desc) = 0;
    virtual void write_timeout(const TestDesc& desc) = 0;
    virtual void write_result(const TestDesc& desc, const TestResult& result,
                              const std::optional<TestExecTime>& exec_time,
                              std::string_view stdout_bytes) = 0;
    // `counts` are the run's final counts. Returns the success flag of the run: no check failed.
    virtual bool write_run_finish(const RunCounts& counts) = 0;
};

// The one list of report forms.
std::unique_ptr<OutputFormatter> make_formatter(OutputFormat format, OutputLocation& out,
                                                const FormatterSettings& settings);

std::unique_ptr<OutputFormatter> make_pretty_formatter(OutputLocation& out,
                                                       const FormatterSettings& settings);
std::unique_ptr<OutputFormatter> make_terse_formatter(OutputLocation& out,
                                                      const FormatterSettings& settings);
std::unique_ptr<OutputFormatter> make_json_formatter(OutputLocation& out,
                                                     const FormatterSettings& settings);
std::unique_ptr<OutputFormatter> make_junit_formatter(OutputLocation& out,
                                                      const FormatterSettings& settings);

} // namespace runner
