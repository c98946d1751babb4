// The run loop end to end: ignored checks, expected panics and deadlines.
#include <gtest/gtest.h>

#include "fixture_run.hpp"

namespace run_loop_tests {
namespace {

// ---- Ignored checks and expected panics --------------------------------------------------------

TEST(RunLoopOutcomes, ignored_checks_show_their_message_and_never_run) {
    const ChildResult result = run_fixture({"ignore::"}, sequential);
    expect_exit(result, 0);
    EXPECT_EQ(masked(result.out),
              "\nrunning 2 tests\n"
              "test ignore::tests::plain ... ignored\n"
              "test ignore::tests::with_message ... ignored, waits for the new terrain\n" +
                  summary("ok", 0, 0, 2, 2));
}

TEST(RunLoopOutcomes, expected_panic_rules) {
    const ChildResult result = run_fixture({"panic::"}, sequential);
    expect_exit(result, 101);

    const std::string p = "panic::tests::";
    auto did_not_panic = [&](std::string_view name) {
        return "note: test did not panic as expected at " + declaration_of("panic", name).text();
    };

    const std::string report = masked(result.out);
    const std::string head = "\nrunning 7 tests\n" +
                             line(p + "expected_and_panics - should panic", "ok") +
                             line(p + "expected_but_returns - should panic", "FAILED") +
                             line(p + "non_text_payload", "FAILED") +
                             line(p + "substring_but_returns - should panic", "FAILED") +
                             line(p + "substring_found - should panic", "ok") +
                             line(p + "substring_missing - should panic", "FAILED") +
                             line(p + "substring_non_text - should panic", "FAILED");
    EXPECT_TRUE(report.starts_with(head)) << report;
    EXPECT_TRUE(report.ends_with(summary("FAILED", 2, 5, 0, 7))) << report;

    EXPECT_EQ(captured_output_of(report, p + "expected_but_returns"),
              "returned\n" + did_not_panic("expected_but_returns"));
    EXPECT_EQ(captured_output_of(report, p + "substring_but_returns"),
              did_not_panic("substring_but_returns"));
    // The first panic of the process belongs to a check that passed, so no shown output
    // carries the backtrace note.
    EXPECT_EQ(occurrences(report, backtrace_note), 0u) << report;
    EXPECT_EQ(captured_output_of(report, p + "substring_missing"),
              panic_report(p + "substring_missing", call_site("runner::panic(\"only"),
                           "only \"hay\" here", false) +
                  "note: panic did not contain expected string\n"
                  "      panic message: \"only \\\"hay\\\" here\"\n"
                  " expected substring: \"needle\"");
    EXPECT_EQ(captured_output_of(report, p + "non_text_payload"),
              panic_report(p + "non_text_payload", call_site("runner::panic_any(42)"),
                           "non-text panic payload of type `int`", false));
}

// ---- Deadlines ---------------------------------------------------------------------------------

TEST(RunLoopDeadline, an_overdue_check_gets_one_notice_and_is_then_reported) {
    const ChildResult result = run_fixture({"slow::"}, parallel);
    expect_exit(result, 0);
    // The neighbour finished long before its own deadline passed: it gets no notice.
    EXPECT_EQ(masked(result.out),
              "\nrunning 2 tests\n"
              "test slow::tests::fast_neighbour ... ok\n"
              "test slow::tests::overruns_deadline has been running for over 1 seconds\n"
              "test slow::tests::overruns_deadline ... ok\n" +
                  summary("ok", 2, 0, 0, 2));
}

TEST(RunLoopDeadline, one_check_at_a_time_never_gets_a_notice) {
    const ChildResult result = run_fixture({"slow::tests::overruns_deadline"}, sequential);
    expect_exit(result, 0);
    EXPECT_EQ(masked(result.out), "\nrunning 1 test\n"
                                  "test slow::tests::overruns_deadline ... ok\n" +
                                      summary("ok", 1, 0, 0, 1));
}

} // namespace
} // namespace run_loop_tests
