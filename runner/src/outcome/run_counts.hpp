// The run state: counters and the lists the final report is made from.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "run/test_result.hpp"
#include "runner/options.hpp"

namespace runner {

class LogFile;

// Metrics of benchmarks, by check name.
struct Metric {
    double value = 0;
    double noise = 0;
};
using MetricMap = std::map<std::string, Metric>;

struct ConsoleTestState {
    std::uint64_t total = 0;
    std::uint64_t passed = 0;
    std::uint64_t failed = 0;
    std::uint64_t ignored = 0;
    std::uint64_t measured = 0;
    std::uint64_t filtered_out = 0;
    std::vector<std::pair<TestDesc, std::string>> not_failures; // successes, with their output
    std::vector<std::pair<TestDesc, std::string>> failures;
    std::vector<std::pair<TestDesc, std::string>> time_failures;
    std::vector<TestDesc> ignores;
    std::optional<TestSuiteExecTime> exec_time;
    MetricMap metrics;
    const TestOpts* options = nullptr;
    std::unique_ptr<LogFile> log_out;

    explicit ConsoleTestState(const TestOpts& opts); // opens the log file; throws IoError
    ~ConsoleTestState();
    ConsoleTestState(ConsoleTestState&&) noexcept;
    ConsoleTestState& operator=(ConsoleTestState&&) noexcept;

    // Writes the log line of one outcome, when there is a log file; throws IoError.
    void write_log_result(const TestDesc& desc, const TestResult& result,
                          const std::optional<TestExecTime>& time);

    // Counts a completed check and keeps it for the final report.
    void count(const CompletedTest& completed);

    std::uint64_t current_test_count() const { return passed + failed + ignored + measured; }
};

} // namespace runner
