// The outcome rules: how a check's return or panic, its expected-panic mode and the time
// limit combine into one outcome.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "outcome/calc_result.hpp"

namespace runner {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TestDesc check(ShouldPanic should_panic = {}) {
    TestDesc desc;
    desc.name = "height::tests::slope_flat_terrain_is_zero";
    desc.source_file = "components/sarnivelle-scenery-bake/src/height.cpp";
    desc.start_line = 482;
    desc.start_col = 8;
    desc.end_line = 482;
    desc.end_col = 34;
    desc.should_panic = should_panic;
    return desc;
}

const ShouldPanic any_panic{ShouldPanicKind::Yes, {}};
const ShouldPanic needle_panic{ShouldPanicKind::YesWithMessage, "needle"};

std::optional<PanicPayload> returned() {
    return std::nullopt;
}
std::optional<PanicPayload> panicked(std::string message) {
    return PanicPayload::text(std::move(message));
}
std::optional<PanicPayload> panicked_with_int() {
    return PanicPayload::value(42, "int");
}

TestResult outcome(const TestDesc& desc, const std::optional<PanicPayload>& panic) {
    return calc_result(desc, panic, std::nullopt, std::nullopt);
}

void expect_outcome(const TestResult& result, TestResultKind kind, const std::string& message) {
    EXPECT_EQ(result.kind, kind);
    EXPECT_EQ(result.message, message);
}

// The whole-program tests show each rule through the run loop; these are the cases they do
// not reach.
TEST(CalcResult, expected_panic_rules_at_their_edges) {
    // Without a known source position, the message names none.
    TestDesc nowhere = check(any_panic);
    nowhere.source_file = "";
    expect_outcome(outcome(nowhere, returned()), TestResultKind::FailedWithMessage,
                   "test did not panic as expected");
    expect_outcome(outcome(check(any_panic), panicked_with_int()), TestResultKind::Passed, "");
    expect_outcome(outcome(check(needle_panic), panicked("needle")), TestResultKind::Passed, "");
    // A failure carries its message as the report shows it, for the forms that repeat it.
    expect_outcome(outcome(check(), panicked("grid is wrong")), TestResultKind::Failed,
                   "grid is wrong");
    expect_outcome(outcome(check(), panicked_with_int()), TestResultKind::Failed,
                   "non-text panic payload of type `int`");
    // Case matters; the panic message is shown escaped.
    expect_outcome(outcome(check(needle_panic), panicked("Needle \"quoted\"\n")),
                   TestResultKind::FailedWithMessage,
                   "panic did not contain expected string\n"
                   "      panic message: \"Needle \\\"quoted\\\"\\n\"\n"
                   " expected substring: \"needle\"");
    expect_outcome(outcome(check(needle_panic), panicked_with_int()),
                   TestResultKind::FailedWithMessage,
                   "expected panic with string value,\n"
                   " found non-string value: `int`\n"
                   "     expected substring: \"needle\"");
}

TEST(CalcResult, ensure_time_turns_a_slow_pass_into_a_time_failure) {
    TestTimeOptions ensure;
    ensure.error_on_excess = true; // unit checks: warn 50 ms, critical 100 ms
    auto timed = [&](const TestDesc& desc, const std::optional<PanicPayload>& panic,
                     std::chrono::nanoseconds took, const TestTimeOptions& limits) {
        return calc_result(desc, panic, limits, TestExecTime{took}).kind;
    };
    EXPECT_EQ(timed(check(), returned(), milliseconds(99), ensure), TestResultKind::Passed);
    EXPECT_EQ(timed(check(), returned(), milliseconds(100), ensure),
              TestResultKind::TimeLimitExceeded);
    // A failure stays a failure however long it took.
    EXPECT_EQ(timed(check(), panicked("boom"), seconds(5), ensure), TestResultKind::Failed);
    EXPECT_EQ(timed(check(any_panic), returned(), seconds(5), ensure),
              TestResultKind::FailedWithMessage);
    // An expected panic is a pass, and so subject to the limit.
    EXPECT_EQ(timed(check(any_panic), panicked("boom"), seconds(5), ensure),
              TestResultKind::TimeLimitExceeded);

    // Reporting times alone never fails a check.
    TestTimeOptions report_only;
    EXPECT_EQ(timed(check(), returned(), seconds(5), report_only), TestResultKind::Passed);
    // Without a measured time there is nothing to exceed.
    EXPECT_EQ(calc_result(check(), returned(), ensure, std::nullopt).kind, TestResultKind::Passed);
}

TEST(CalcResult, each_kind_of_check_has_its_own_critical_time) {
    TestTimeOptions ensure;
    ensure.error_on_excess = true;
    auto kind_after = [&](TestType type, std::chrono::nanoseconds took) {
        TestDesc desc = check();
        desc.test_type = type;
        return calc_result(desc, returned(), ensure, TestExecTime{took}).kind;
    };
    EXPECT_EQ(kind_after(TestType::IntegrationTest, milliseconds(999)), TestResultKind::Passed);
    EXPECT_EQ(kind_after(TestType::IntegrationTest, milliseconds(1000)),
              TestResultKind::TimeLimitExceeded);
    EXPECT_EQ(kind_after(TestType::DocTest, milliseconds(1000)), TestResultKind::TimeLimitExceeded);
    EXPECT_EQ(kind_after(TestType::Unknown, seconds(119)), TestResultKind::Passed);
    EXPECT_EQ(kind_after(TestType::Unknown, seconds(120)), TestResultKind::TimeLimitExceeded);

    ensure.unit_threshold = {milliseconds(10), milliseconds(20)};
    EXPECT_EQ(kind_after(TestType::UnitTest, milliseconds(20)), TestResultKind::TimeLimitExceeded);
    EXPECT_EQ(kind_after(TestType::IntegrationTest, milliseconds(20)), TestResultKind::Passed);
}

} // namespace
} // namespace runner
