// Counting: each outcome goes to its counter and, with its captured output, to its list.
#include <gtest/gtest.h>

#include <string>

#include "outcome/run_counts.hpp"

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
    RunCounts state;
    state.total = 7;
    for (CompletedTest done : {completed("a::pass", TestResult::passed(), "printed\n"),
                               completed("a::fail", TestResult::failed(), "panic report\n"),
                               completed("a::ignore", TestResult::ignored()),
                               completed("a::slow", TestResult::time_limit_exceeded(), "slow"),
                               completed("a::bench", TestResult::measured({1500.0, 30.0})),
                               completed("a::second_pass", TestResult::passed()),
                               completed("a::why", TestResult::failed_with("why"), "out\n")}) {
        state.count(done);
    }

    EXPECT_EQ(state.passed, 2u);
    EXPECT_EQ(state.failed, 3u); // a time failure counts as failed
    EXPECT_EQ(state.ignored, 1u);
    EXPECT_EQ(state.measured, 1u);
    EXPECT_EQ(state.current_test_count(), state.total);

    ASSERT_EQ(state.not_failures.size(), 2u);
    EXPECT_EQ(state.not_failures[0].first.name, "a::pass");
    EXPECT_EQ(state.not_failures[0].second, "printed\n");
    EXPECT_EQ(state.not_failures[1].first.name, "a::second_pass");
    ASSERT_EQ(state.failures.size(), 2u);
    EXPECT_EQ(state.failures[0].first.name, "a::fail");
    EXPECT_EQ(state.failures[0].second, "panic report\n");
    EXPECT_EQ(state.failures[1].second, "out\nnote: why"); // the message follows the output
    ASSERT_EQ(state.time_failures.size(), 1u);
    EXPECT_EQ(state.time_failures[0].first.name, "a::slow");
    EXPECT_EQ(state.time_failures[0].second, "slow");
    ASSERT_EQ(state.ignores.size(), 1u);
    EXPECT_EQ(state.ignores[0].name, "a::ignore");
}

} // namespace
} // namespace runner
