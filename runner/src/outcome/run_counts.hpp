// The run's counts and the lists its final report is made from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "outcome/test_result.hpp"

namespace runner {

struct RunCounts {
    std::uint64_t total = 0; // checks selected
    std::uint64_t passed = 0;
    std::uint64_t failed = 0;
    std::uint64_t ignored = 0;
    std::uint64_t measured = 0;
    std::uint64_t filtered_out = 0;
    // Successes with their output, kept only when the report shows them (--show-output): a run
    // of many checks would otherwise hold every passing check until it ends.
    bool keep_successes = true;
    std::vector<std::pair<TestDesc, std::string>> not_failures;
    std::vector<std::pair<TestDesc, std::string>> failures;
    std::vector<std::pair<TestDesc, std::string>> time_failures;
    std::vector<TestDesc> ignores;
    std::optional<TestSuiteExecTime> exec_time; // set when the last check has been counted
    // Passes after failed attempts; counted, and shown, only with retries on.
    std::optional<std::uint64_t> flaky;
    bool flaky_fails = false; // a flaky pass fails the run

    // Counts a completed check and keeps it for the final report; its captured output moves
    // into the lists.
    void count(CompletedTest& completed);

    std::uint64_t current_test_count() const { return passed + failed + ignored + measured; }

    // The run's success flag: no check failed, and no check was flaky where that fails a run.
    bool succeeded() const { return failed == 0 && !(flaky_fails && flaky.value_or(0) > 0); }
};

} // namespace runner
