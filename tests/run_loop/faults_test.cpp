// The run loop end to end: the runner short of memory, and checks that crash the process.
#include <gtest/gtest.h>

#include "fixture_run.hpp"

namespace run_loop_tests {
namespace {

// ---- The runner short of memory -------------------------------------------------------------

// A preloaded allocator makes one allocation of a check's thread return NULL: the first, then
// the second, and so on. A passing check that prints nothing allocates nothing on its thread
// (the runner prepares all it needs there beforehand), so it still passes. A failing one
// allocates to report its failure; whichever allocation fails, it gets exactly one result, a
// failure naming the runner's own error where the runner was hit, and the run ends with its
// summary instead of waiting for ever.
TEST(RunLoopFaults, an_allocation_failing_on_a_check_thread_still_gives_one_result) {
    if (std::string_view(FAIL_MALLOC_SHIM).empty()) {
        GTEST_SKIP() << "a preloaded allocator cannot work beside the sanitizers";
    }
    const auto run_with_failing_allocation = [](const std::string& check, const Env& mode,
                                                int nth) {
        ChildSpec child;
        child.args = {"--exact", check};
        child.env = with(mode, {{"LD_PRELOAD", FAIL_MALLOC_SHIM},
                                {"FAIL_MALLOC_THREAD", check.substr(0, 15)},
                                {"FAIL_MALLOC_NTH", std::to_string(nth)}});
        child.time_limit = std::chrono::seconds(10);
        return run_child(FIXTURE_BINARY, child);
    };
    std::size_t runner_failures = 0;
    for (const Env& mode : {sequential, parallel}) {
        const ChildResult passing = run_with_failing_allocation("pass::tests::first", mode, 1);
        EXPECT_EQ(passing.exit_status, 0) << passing.out;
        EXPECT_NE(masked(passing.out).find(summary("ok", 1, 0, 0, 1)), std::string::npos)
            << passing.out;

        const std::string check = "fail::tests::panic_with_output";
        for (int nth = 1; nth <= 16; ++nth) {
            const ChildResult result = run_with_failing_allocation(check, mode, nth);
            const std::string context = "allocation " + std::to_string(nth);
            ASSERT_FALSE(result.timed_out) << context << " left the run waiting";
            ASSERT_TRUE(result.exited) << context << ": ended by signal " << result.signal;
            const std::string report = masked(result.out);
            EXPECT_EQ(result.exit_status, 101) << context;
            EXPECT_NE(report.find(summary("FAILED", 0, 1, 0, 1)), std::string::npos) << report;
            EXPECT_EQ(occurrences(report, "test " + check + " ... FAILED\n"), 1u) << report;
            runner_failures += occurrences(report, "error in the check runner: std::bad_alloc");
        }
    }
    EXPECT_GE(runner_failures, 2u);
}

// ---- Crashes -----------------------------------------------------------------------------------

// A crash must not lose what the crashing check printed: its name and output reach standard
// output before the process dies with a failure status, also when the check overflowed its
// stack (the report then runs on the thread's alternate signal stack).
TEST(RunLoopCrash, abort_terminate_and_a_fault_keep_the_checks_output) {
    for (const auto& [check, printed, env] :
         {std::tuple{"crash::tests::abort", "printed before abort\n", sequential},
          std::tuple{"crash::tests::abort", "printed before abort\n", parallel},
          std::tuple{"crash::tests::terminate", "printed before terminate\n", parallel},
          std::tuple{"crash::tests::null_write", "printed before the fault\n", parallel},
          std::tuple{"crash::tests::stack_overflow", "printed before the overflow\n", parallel}}) {
        const ChildResult result = run_fixture({check}, env);
        EXPECT_FALSE(result.exited && result.exit_status == 0) << result.out;
        EXPECT_TRUE(result.out.starts_with("\nrunning 1 test\n")) << result.out;
        EXPECT_NE(result.out.find(check), std::string::npos) << result.out;
        EXPECT_NE(result.out.find(printed), std::string::npos) << result.out;
        EXPECT_EQ(result.out.find("test result:"), std::string::npos) << result.out;
    }
}

} // namespace
} // namespace run_loop_tests
