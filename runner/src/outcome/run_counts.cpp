#include "outcome/run_counts.hpp"

namespace runner {

void RunCounts::count(CompletedTest& completed) {
    const TestResult& result = completed.result;
    std::string& output = completed.stdout_bytes;
    switch (result.kind) {
    case TestResultKind::Passed:
        ++passed;
        if (flaky && result.is_flaky()) {
            ++*flaky;
        }
        if (keep_successes) {
            not_failures.emplace_back(completed.desc, std::move(output));
        }
        break;
    case TestResultKind::Ignored:
        ++ignored;
        ignores.push_back(completed.desc);
        break;
    case TestResultKind::Measured:
        ++measured;
        break;
    case TestResultKind::Failed:
        ++failed;
        failures.emplace_back(completed.desc, std::move(output));
        break;
    case TestResultKind::FailedWithMessage:
        ++failed;
        failures.emplace_back(completed.desc, std::move(output) + "note: " + result.message);
        break;
    case TestResultKind::TimeLimitExceeded:
        ++failed;
        time_failures.emplace_back(completed.desc, std::move(output));
        break;
    }
}

} // namespace runner
