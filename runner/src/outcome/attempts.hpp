// Retries of failed checks: how many there may be, what a flaky pass means for the run, and the
// failed attempts of each check, kept until its final result is reported.
#pragma once

#include <chrono>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

#include "outcome/test_result.hpp"

namespace runner {

struct RetryPolicy {
    std::uint64_t retries = 0; // a failed check runs again up to this many times
    bool flaky_fails = false;  // a flaky pass fails the run

    bool on() const { return retries > 0; }
    // Attempts a check may have, first one included.
    std::uint64_t max_attempts() const {
        return retries == std::numeric_limits<std::uint64_t>::max() ? retries : retries + 1;
    }
};

class Attempts {
public:
    explicit Attempts(RetryPolicy policy) : policy_(policy) {}

    // Keeps a failed result of a check that has attempts left as an earlier attempt (its output
    // moves in), `ended` being now: true then, and the check is to run again. False for a
    // result that stands: not a failure, the last attempt, or no memory left to keep it.
    bool keep_failed(CompletedTest& completed, std::chrono::steady_clock::time_point ended);

    // Gives a result that stands the failed attempts before it.
    void finish(CompletedTest& completed);

private:
    RetryPolicy policy_;
    std::unordered_map<std::size_t, std::vector<FailedAttempt>> earlier_; // by TestId
};

} // namespace runner
