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

} // namespace runner
