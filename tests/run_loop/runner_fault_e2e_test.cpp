// A failure of the runner itself (memory running out on a check's thread) is reported under the
// check it happened in, also when another check ran before it in the same process and on the
// same worker.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.hpp"

namespace run_loop_tests {
namespace {

using test_support::ChildResult;
using test_support::ChildSpec;

std::size_t occurrences(const std::string& text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + what.size())) {
        ++count;
    }
    return count;
}

// Two failing checks run before the one whose thread runs out of memory, so that the run it is
// given is one that an earlier check has used.
TEST(RunLoopFaults, a_runner_failure_is_reported_under_the_check_it_hit_not_the_one_before) {
    if (std::string_view(FAIL_MALLOC_SHIM).empty()) {
        GTEST_SKIP() << "a preloaded allocator cannot work beside the sanitizers";
    }
    const std::vector<std::string> checks = {"fail::tests::assert_eq_floats",
                                             "fail::tests::assert_with_message",
                                             "fail::tests::panic_with_output"};
    const std::string& hit = checks.back();
    std::size_t runner_failures = 0;
    for (const std::string threads : {"1", "2"}) {
        for (int nth = 1; nth <= 16; ++nth) {
            SCOPED_TRACE(threads + " thread(s), allocation " + std::to_string(nth));
            ChildSpec child;
            child.args = {"--exact"};
            child.args.insert(child.args.end(), checks.begin(), checks.end());
            child.env = {{"SARNIVELLE_TEST_THREADS", threads},
                         {"LD_PRELOAD", FAIL_MALLOC_SHIM},
                         {"FAIL_MALLOC_THREAD", hit.substr(0, 15)},
                         {"FAIL_MALLOC_NTH", std::to_string(nth)}};
            child.time_limit = std::chrono::seconds(10);
            const ChildResult result = test_support::run_child(FIXTURE_BINARY, child);
            ASSERT_FALSE(result.timed_out) << "the run was left waiting";
            ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
            EXPECT_EQ(result.exit_status, 101);
            const std::string& report = result.out;
            for (const std::string& check : checks) {
                EXPECT_EQ(occurrences(report, "test " + check + " ... FAILED\n"), 1u) << report;
                // The sorted list of failures names each check once.
                EXPECT_EQ(occurrences(report, "\n    " + check + "\n"), 1u) << report;
            }
            EXPECT_NE(report.find("test result: FAILED. 0 passed; 3 failed;"), std::string::npos)
                << report;
            runner_failures += occurrences(report, "error in the check runner");
        }
    }
    EXPECT_GE(runner_failures, 2u);
}

} // namespace
} // namespace run_loop_tests
