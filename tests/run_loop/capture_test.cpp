// The run loop end to end: what checks print, and the threads they start.
#include <gtest/gtest.h>

#include "fixture_run.hpp"

namespace run_loop_tests {
namespace {

// ---- Captured output ---------------------------------------------------------------------------

TEST(RunLoopCapture, every_stream_of_a_check_lands_in_its_output_in_order) {
    const std::string check = "output::tests::every_stream";
    const ChildResult result = run_fixture({check}, sequential);
    expect_exit(result, 101);
    EXPECT_EQ(captured_output_of(masked(result.out), check),
              "cout line\ncerr line\nclog line\nprint line\neprint line\npartial 42 line\n" +
                  panic_report(check, call_site("runner::panic(\"printed on every stream\")"),
                               "printed on every stream", true));
}

TEST(RunLoopCapture, threads_a_check_starts_print_into_its_output) {
    const std::string check = "output::tests::spawned_threads";
    for (const Env& env : {sequential, parallel}) {
        const ChildResult result = run_fixture({check}, env);
        expect_exit(result, 101);
        const std::string output = captured_output_of(masked(result.out), check);
        EXPECT_TRUE(output.starts_with(
            "from the first thread\nfrom the second thread\nfrom the inner thread\n"))
            << output;
        EXPECT_EQ(occurrences(output, "threads have printed\n"), 1u) << output;
    }
}

TEST(RunLoopCapture, a_failing_started_thread_fails_the_check_with_one_report) {
    const std::string check = "output::tests::spawned_thread_fails";
    const ChildResult result = run_fixture({check}, parallel);
    expect_exit(result, 101);
    const std::string report = masked(result.out);
    EXPECT_NE(report.find("test " + check + " ... FAILED\n"), std::string::npos) << report;
    const std::string output = captured_output_of(report, check);
    EXPECT_EQ(occurrences(output, "worker gave up\n"), 1u) << output;
    EXPECT_NE(output.find(" panicked at " + std::string(fixture_file) + ":" +
                          std::to_string(call_site("runner::panic(\"worker gave up\")").line) +
                          ":"),
              std::string::npos)
        << output;
    EXPECT_EQ(output.find("not reached"), std::string::npos) << output;
}

// Whatever a started thread throws fails its check through the check's own failure path.
TEST(RunLoopCapture, a_started_thread_that_throws_anything_fails_the_check) {
    const std::string check = "output::tests::spawned_thread_throws";
    const ChildResult result = run_fixture({check}, sequential);
    expect_exit(result, 101);
    const std::string report = masked(result.out);
    EXPECT_NE(report.find(summary("FAILED", 0, 1, 0, 1)), std::string::npos) << report;
    const std::string output = captured_output_of(report, check);
    EXPECT_EQ(occurrences(output, "non-text panic payload of type `an unknown exception type`"), 1u)
        << output;
    EXPECT_EQ(output.find("not reached"), std::string::npos) << output;
}

TEST(RunLoopCapture, invalid_utf8_is_replaced_in_shown_output_of_failures_and_passes) {
    const std::string fails = "hostile::tests::fails_with_hostile_output";
    const std::string passes = "hostile::tests::passes_with_hostile_output";
    const ChildResult result = run_fixture({"--show-output", "hostile::"}, sequential);
    expect_exit(result, 101);
    const std::string replaced = "colour \x1b[31mred\x1b[0m, bad utf-8 \xEF\xBF\xBD\xEF\xBF\xBD, "
                                 "nul [" +
                                 std::string(1, '\0') + "], quotes \"'\", <tag> & ]]> end";
    const std::string report = masked(result.out);
    const std::string failed = captured_output_of(report, fails);
    EXPECT_TRUE(failed.starts_with(replaced + "\n")) << failed;
    EXPECT_EQ(occurrences(failed, "hostile message: " + replaced + "\n"), 1u) << failed;
    EXPECT_NE(report.find("\nsuccesses:\n\n---- " + passes + " stdout ----\n"), std::string::npos)
        << report;
    EXPECT_EQ(captured_output_of(report, passes), replaced + "\n");
}

TEST(RunLoopCapture, check_threads_get_the_requested_stack_size) {
    const std::string check = "thread::tests::reports_stack_size";
    auto reported_size = [&](const Env& env) {
        const ChildResult result = run_fixture({check}, env);
        const std::string label = "stack size: ";
        const auto at = result.out.find(label);
        EXPECT_NE(at, std::string::npos) << result.out;
        return at == std::string::npos ? 0ul : std::stoul(result.out.substr(at + label.size()));
    };
    const unsigned long standard = reported_size(sequential);
    EXPECT_GE(standard, 2097152ul);
    EXPECT_LT(standard, 4194304ul);
    const unsigned long larger =
        reported_size(with(sequential, {{"SARNIVELLE_MIN_STACK", "8388608"}}));
    EXPECT_GE(larger, 8388608ul);
    EXPECT_LT(larger, 16777216ul);
}

} // namespace
} // namespace run_loop_tests
