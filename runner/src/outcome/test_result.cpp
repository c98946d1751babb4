#include "outcome/test_result.hpp"

#include <cstdio>

namespace runner {
namespace {
std::string seconds_text(std::chrono::nanoseconds duration, int decimals) {
    const double seconds = std::chrono::duration<double>(duration).count();
    char text[64];
    std::snprintf(text, sizeof text, "%.*fs", decimals, seconds);
    return text;
}
} // namespace

std::string TestExecTime::to_string() const {
    return seconds_text(duration, 3);
}
std::string TestSuiteExecTime::to_string() const {
    return seconds_text(duration, 2);
}

std::string_view outcome_word(TestResultKind kind) {
    switch (kind) {
    case TestResultKind::Passed:
        return "passed";
    case TestResultKind::Failed:
    case TestResultKind::FailedWithMessage:
        return "failed";
    case TestResultKind::Ignored:
        return "ignored";
    case TestResultKind::Measured:
        return "measured";
    case TestResultKind::TimeLimitExceeded:
        return "time_limit_exceeded";
    }
    return "failed";
}

} // namespace runner
