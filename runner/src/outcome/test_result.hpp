// Outcomes of checks and what is kept of a completed check: the data the run loop produces and
// the report forms read.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runner/test_desc.hpp"

namespace runner {

// Identity of a selected check, given in selection order from 0.
struct TestId {
    std::size_t value = 0;
    friend bool operator==(TestId, TestId) = default;
};

// A benchmark's samples, in nanoseconds per iteration.
struct BenchSamples {
    double median_ns = 0;
    double deviation_ns = 0; // maximum minus minimum
};

enum class TestResultKind {
    Passed,
    Failed,
    FailedWithMessage,
    Ignored,
    Measured,
    TimeLimitExceeded
};

// A failed attempt of a check that then ran again (SARNIVELLE_TEST_RETRIES).
struct FailedAttempt {
    TestResultKind kind = TestResultKind::Failed;
    std::string message; // as in TestResult
    std::optional<std::chrono::nanoseconds> exec_time;
    std::string stdout_bytes;
    // When the run loop took the attempt's result; the next attempt started then.
    std::chrono::steady_clock::time_point ended;
};

struct TestResult {
    TestResultKind kind = TestResultKind::Passed;
    // Failed: the panic message (empty for a payload that is not text); FailedWithMessage: the
    // message the report adds as a note. Empty for the other kinds.
    std::string message;
    BenchSamples bench; // Measured only
    // The failed attempts before the one this result comes from, in order; empty without
    // retries. A pass with earlier attempts is flaky.
    std::vector<FailedAttempt> earlier_attempts{};

    static TestResult passed() { return {}; }
    static TestResult failed(std::string panic_message = {}) {
        return {TestResultKind::Failed, std::move(panic_message), {}};
    }
    static TestResult failed_with(std::string message) {
        return {TestResultKind::FailedWithMessage, std::move(message), {}};
    }
    static TestResult ignored() { return {TestResultKind::Ignored, {}, {}}; }
    static TestResult time_limit_exceeded() { return {TestResultKind::TimeLimitExceeded, {}, {}}; }
    static TestResult measured(BenchSamples samples) {
        return {TestResultKind::Measured, {}, samples};
    }

    // The attempt this result comes from, counted from 1.
    std::size_t attempt() const { return earlier_attempts.size() + 1; }
    bool is_flaky() const { return kind == TestResultKind::Passed && !earlier_attempts.empty(); }

    bool is_failure() const {
        return kind == TestResultKind::Failed || kind == TestResultKind::FailedWithMessage ||
               kind == TestResultKind::TimeLimitExceeded;
    }
};

// The outcome's word in machine-read forms: "passed", "failed", "ignored", "measured" or
// "time_limit_exceeded".
std::string_view outcome_word(TestResultKind kind);

// Execution time of one check, shown as seconds with three decimals: "0.012s".
struct TestExecTime {
    std::chrono::nanoseconds duration{0};
    std::string to_string() const;
};

// Wall time of the whole run, shown as seconds with two decimals: "0.01s".
struct TestSuiteExecTime {
    std::chrono::nanoseconds duration{0};
    std::string to_string() const;
};

struct CompletedTest {
    TestId id;
    TestDesc desc;
    TestResult result;
    std::optional<TestExecTime> exec_time;
    std::string stdout_bytes; // captured output; empty when capture is off
};

} // namespace runner
