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

class Counting : public ::testing::Test {
protected:
    TestOpts opts;
    ConsoleTestState state{opts};
};

TEST_F(Counting, each_outcome_lands_in_its_counter_and_list) {
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

TEST_F(Counting, a_failure_with_a_message_adds_a_note_to_its_output) {
    state.count(completed("a::expected", TestResult::failed_with("test did not panic as expected"),
                          "returned\n"));
    state.count(completed("a::silent", TestResult::failed_with("why")));
    EXPECT_EQ(state.failed, 2u);
    ASSERT_EQ(state.failures.size(), 2u);
    EXPECT_EQ(state.failures[0].second, "returned\nnote: test did not panic as expected");
    EXPECT_EQ(state.failures[1].second, "note: why");
}

TEST_F(Counting, lists_keep_completion_order) {
    state.count(completed("z::first_done", TestResult::failed()));
    state.count(completed("a::second_done", TestResult::failed()));
    ASSERT_EQ(state.failures.size(), 2u);
    EXPECT_EQ(state.failures[0].first.name, "z::first_done");
    EXPECT_EQ(state.failures[1].first.name, "a::second_done");
}

} // namespace
} // namespace runner
