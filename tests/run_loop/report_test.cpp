// The run loop end to end: list mode, passing runs and the run-start line, failures and the
// panic report.
#include <gtest/gtest.h>

#include "fixture_run.hpp"

namespace run_loop_tests {
namespace {

// ---- List mode ---------------------------------------------------------------------------------

// The count line counts benchmarks apart from tests, each with its own plural.
TEST(RunLoopList, names_and_counts_benchmarks_apart_from_tests) {
    const ChildResult all = run_fixture({"--list"}, sequential);
    expect_exit(all, 0);
    EXPECT_TRUE(all.out.starts_with("bench::tests::sums_a_range: benchmark\n"
                                    "crash::tests::abort: test\n"))
        << all.out;
    EXPECT_TRUE(all.out.ends_with("timing::tests::sleeps_briefly: test\n\n" +
                                  std::to_string(registry_size - 1) + " tests, 1 benchmark\n"))
        << all.out;

    const ChildResult one = run_fixture({"--list", "bench::", "pass::tests::first"}, sequential);
    expect_exit(one, 0);
    EXPECT_EQ(one.out, "bench::tests::sums_a_range: benchmark\npass::tests::first: test\n\n"
                       "1 test, 1 benchmark\n");
}

// ---- Passing runs and the run-start line -------------------------------------------------------

TEST(RunLoopReport, sequential_passes_are_reported_in_registry_order) {
    const ChildResult result = run_fixture({"pass::"}, sequential);
    expect_exit(result, 0);
    EXPECT_EQ(masked(result.out), "\nrunning 3 tests\n"
                                  "test pass::tests::first ... ok\n"
                                  "test pass::tests::second ... ok\n"
                                  "test pass::tests::third ... ok\n" +
                                      summary("ok", 3, 0, 0, 3));
}

TEST(RunLoopReport, parallel_passes_are_each_reported_once) {
    const ChildResult result = run_fixture({"pass::"}, parallel);
    expect_exit(result, 0);
    const std::string report = masked(result.out);
    EXPECT_TRUE(report.starts_with("\nrunning 3 tests\n")) << report;
    EXPECT_TRUE(report.ends_with(summary("ok", 3, 0, 0, 3))) << report;
    EXPECT_EQ(occurrences(report, " ... "), 3u) << report;
    for (const std::string name : {"first", "second", "third"}) {
        EXPECT_EQ(occurrences(report, line("pass::tests::" + name, "ok")), 1u) << report;
    }
}

TEST(RunLoopReport, no_selected_check_runs_nothing_and_succeeds) {
    for (const Env& env : {sequential, parallel}) {
        const ChildResult result = run_fixture({"no_such_check"}, env);
        expect_exit(result, 0);
        EXPECT_EQ(masked(result.out), "\nrunning 0 tests\n" + summary("ok", 0, 0, 0, 0));
    }
}

// ---- Failures and the panic report -------------------------------------------------------------

TEST(RunLoopReport, failures_show_output_panic_site_and_message) {
    const ChildResult result = run_fixture({"fail::"}, sequential);
    expect_exit(result, 101);

    const std::string with = "fail::tests::assert_with_message";
    const std::string without = "fail::tests::assert_without_message";
    const std::string output = "fail::tests::panic_with_output";
    const std::string failures = section(
        "failures",
        {{eq_check, eq_output()},
         {with, panic_report(with, macro_site("SARNIVELLE_ASSERT(slope < 0.5f"),
                             "slope 0.7853982 not below 0.5 (limit 100000000000000000000, "
                             "floor -0)",
                             false)},
         {without, panic_report(without, macro_site("SARNIVELLE_ASSERT(cells == 9)"),
                                "assertion failed: cells == 9", false)},
         {output, "some context first\n" +
                      panic_report(output, call_site("runner::panic(\"the grid is wrong\")"),
                                   "the grid is wrong", false)}},
        {eq_check, with, without, output});
    EXPECT_EQ(masked(result.out), "\nrunning 4 tests\n" + line(eq_check, "FAILED") +
                                      line(with, "FAILED") + line(without, "FAILED") +
                                      line(output, "FAILED") + failures +
                                      summary("FAILED", 0, 4, 0, 4));
}

TEST(RunLoopReport, outputs_follow_completion_order_and_names_are_sorted) {
    // B finishes first when both run at once: its result and its output come first.
    const ChildResult result = run_fixture({"order::"}, parallel);
    expect_exit(result, 101);
    EXPECT_EQ(masked(result.out),
              "\nrunning 2 tests\n" + line(b_check, "FAILED") + line(a_check, "FAILED") +
                  section("failures",
                          {{b_check, order_output('b', true)}, {a_check, order_output('a', false)}},
                          {a_check, b_check}) +
                  summary("FAILED", 0, 2, 0, 2));

    // One at a time, the registry order holds throughout and A now panics first. The option
    // overrides the environment's thread count.
    const ChildResult in_order = run_fixture({"--test-threads", "1", "order::"}, parallel);
    expect_exit(in_order, 101);
    EXPECT_EQ(masked(in_order.out),
              "\nrunning 2 tests\n" + line(a_check, "FAILED") + line(b_check, "FAILED") +
                  section("failures",
                          {{a_check, order_output('a', true)}, {b_check, order_output('b', false)}},
                          {a_check, b_check}) +
                  summary("FAILED", 0, 2, 0, 2));
}

} // namespace
} // namespace run_loop_tests
