// Counting: each outcome goes to its counter and, with its captured output, to its list.
#include <gtest/gtest.h>

#include <string>

#include "run/console_state.hpp"

namespace runner {
namespace {

CompletedTest completed(std::string_view name, TestResult result, std::string output = "") {
    CompletedTest done;
    done.desc.name = name;
    done.result = std::move(result);
    done.stdout_bytes = std::move(output);
    return done;
}

TEST(Counting, each_outcome_lands_in_its_counter_and_list) {
    TestOpts opts;
    ConsoleTestState state{opts};
    state.total = 6;
    state.count(completed("a::pass", TestResult::passed(), "printed\n"));
    state.count(completed("a::fail", TestResult::failed(), "panic report\n"));
    state.count(completed("a::ignore", TestResult::ignored()));
    state.count(completed("a::slow", TestResult::time_limit_exceeded(), "slow output"));
    state.count(completed("a::bench", TestResult::measured({1500.0, 30.0})));
    state.count(completed("a::second_pass", TestResult::passed()));

    EXPECT_EQ(state.passed, 2u);
    EXPECT_EQ(state.failed, 2u); // a time failure counts as failed
    EXPECT_EQ(state.ignored, 1u);
    EXPECT_EQ(state.measured, 1u);
    EXPECT_EQ(state.current_test_count(), state.total);

    ASSERT_EQ(state.not_failures.size(), 2u);
    EXPECT_EQ(state.not_failures[0].first.name, "a::pass");
    EXPECT_EQ(state.not_failures[0].second, "printed\n");
    EXPECT_EQ(state.not_failures[1].first.name, "a::second_pass");
    ASSERT_EQ(state.failures.size(), 1u);
    EXPECT_EQ(state.failures[0].first.name, "a::fail");
    EXPECT_EQ(state.failures[0].second, "panic report\n");
    ASSERT_EQ(state.time_failures.size(), 1u);
    EXPECT_EQ(state.time_failures[0].first.name, "a::slow");
    EXPECT_EQ(state.time_failures[0].second, "slow output");
    ASSERT_EQ(state.ignores.size(), 1u);
    EXPECT_EQ(state.ignores[0].name, "a::ignore");

    ASSERT_EQ(state.metrics.count("a::bench"), 1u);
    EXPECT_DOUBLE_EQ(state.metrics.at("a::bench").value, 1500.0);
    EXPECT_DOUBLE_EQ(state.metrics.at("a::bench").noise, 30.0);
}

} // namespace
} // namespace runner
