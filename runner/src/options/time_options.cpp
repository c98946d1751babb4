#include <chrono>

#include "runner/options.hpp"

namespace runner {

TimeThreshold TestTimeOptions::threshold(TestType type) const {
    switch (type) {
    case TestType::UnitTest:
        return unit_threshold;
    case TestType::IntegrationTest:
        return integration_threshold;
    case TestType::DocTest:
        return doctest_threshold;
    case TestType::Unknown:
        break;
    }
    // An unclassified check has no warning time and a fixed critical time.
    const auto critical = std::chrono::milliseconds(std::chrono::seconds(120));
    return {critical, critical};
}

bool TestTimeOptions::is_warn(TestType type, std::chrono::nanoseconds exec_time) const {
    return exec_time >= threshold(type).warn;
}

bool TestTimeOptions::is_critical(TestType type, std::chrono::nanoseconds exec_time) const {
    return exec_time >= threshold(type).critical;
}

} // namespace runner
