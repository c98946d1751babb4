// The run loop end to end: the options that change a run, invalid settings and reports that
// cannot be written.
#include <gtest/gtest.h>

#include "fixture_run.hpp"

namespace run_loop_tests {
namespace {

// ---- Options that change the run ---------------------------------------------------------------

TEST(RunLoopOptions, show_output_with_nothing_printed_gives_an_empty_successes_section) {
    const ChildResult result = run_fixture({"--show-output", "pass::"}, sequential);
    expect_exit(result, 0);
    EXPECT_EQ(masked(result.out), "\nrunning 3 tests\n"
                                  "test pass::tests::first ... ok\n"
                                  "test pass::tests::second ... ok\n"
                                  "test pass::tests::third ... ok\n"
                                  "\nsuccesses:\n"
                                  "\nsuccesses:\n"
                                  "    pass::tests::first\n"
                                  "    pass::tests::second\n"
                                  "    pass::tests::third\n" +
                                      summary("ok", 3, 0, 0, 3));
}

TEST(RunLoopOptions, fail_fast_stops_after_the_first_failure) {
    const std::vector<std::string> args = {"-Z", "unstable-options", "--fail-fast"};
    auto with_filter = [&](std::string filter) {
        std::vector<std::string> all = args;
        all.push_back(std::move(filter));
        return all;
    };

    // One at a time: the checks after the first failure never start.
    const ChildResult one_at_a_time =
        run_fixture(with_filter("fail::"), with(sequential, unstable));
    expect_exit(one_at_a_time, 101);
    EXPECT_EQ(masked(one_at_a_time.out),
              "\nrunning 4 tests\n" + line(eq_check, "FAILED") +
                  section("failures", {{eq_check, eq_output()}}, {eq_check}) +
                  summary("FAILED", 0, 1, 0, 4));

    // Several at a time: B fails first; A, still running, is abandoned and never reported.
    const ChildResult at_once = run_fixture(with_filter("order::"), with(parallel, unstable));
    expect_exit(at_once, 101);
    EXPECT_EQ(masked(at_once.out),
              "\nrunning 2 tests\n" + line(b_check, "FAILED") +
                  section("failures", {{b_check, order_output('b', true)}}, {b_check}) +
                  summary("FAILED", 0, 1, 0, 2));
}

TEST(RunLoopOptions, ensure_time_fails_a_check_over_its_critical_time) {
    const Env env = with(with(sequential, unstable), {{"SARNIVELLE_TEST_TIME_UNIT", "10,50"}});
    const std::string check = "timing::tests::sleeps_briefly";
    const ChildResult result = run_fixture({"-Z", "unstable-options", "--ensure-time", check}, env);
    expect_exit(result, 101);
    EXPECT_EQ(masked(result.out),
              "\nrunning 1 test\n" + line(check, "FAILED (time limit exceeded) <T>") +
                  section("failures (time limit exceeded)", {{check, ""}}, {check}) +
                  summary("FAILED", 0, 1, 0, 1));

    // Reporting alone never fails a check.
    const ChildResult reported =
        run_fixture({"-Z", "unstable-options", "--report-time", check}, env);
    expect_exit(reported, 0);
    EXPECT_EQ(masked(reported.out),
              "\nrunning 1 test\n" + line(check, "ok <T>") + summary("ok", 1, 0, 0, 1));
}

TEST(RunLoopOptions, without_capture_checks_print_straight_to_the_streams) {
    const std::string check = "fail::tests::panic_with_output";
    const ChildResult result = run_fixture({"--no-capture", check}, sequential);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 101);
    // The head is written before the check runs, so its print follows it on the same line.
    EXPECT_EQ(masked(result.out), "\nrunning 1 test\n" + line(check, "some context first\nFAILED") +
                                      section("failures", {{check, ""}}, {check}) +
                                      summary("FAILED", 0, 1, 0, 1));
    EXPECT_EQ(masked(result.err),
              panic_report(check, call_site("runner::panic(\"the grid is wrong\")"),
                           "the grid is wrong", true));
}

// ---- Invalid settings and report failures ------------------------------------------------------

TEST(RunLoopErrors, invalid_thread_count_variable_stops_the_run) {
    for (const std::string value : {"0", "x", "-1"}) {
        const ChildResult result = run_fixture({"pass::"}, {{"SARNIVELLE_TEST_THREADS", value}});
        EXPECT_TRUE(result.exited);
        EXPECT_EQ(result.exit_status, 101);
        EXPECT_NE(result.err.find("SARNIVELLE_TEST_THREADS is `" + value +
                                  "`, should be a positive integer.\n"),
                  std::string::npos)
            << result.err;
        // The run-start line comes before the thread count is worked out.
        EXPECT_EQ(result.out, "\nrunning 3 tests\n");
    }
}

// The run, the usage text and a run with a log file alike, with checks on threads or in
// processes of their own; the log file never takes the place of a closed standard output, nor
// does a descriptor the runner opens for itself.
TEST(RunLoopErrors, a_report_that_cannot_be_written_ends_with_an_io_error) {
    const std::string log = ::testing::TempDir() + "run_loop_io_error.log";
    const std::string deprecated = "warning: `--logfile` is deprecated";
    const Env in_processes = {{"SARNIVELLE_TEST_THREADS", "1"}, {"SARNIVELLE_TEST_ISOLATE", "1"}};
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"pass::"}, {"--help"}, {"--logfile", log, "pass::"}}) {
        for (const auto& [mode, target] : std::vector<std::pair<const Env*, StdoutTarget>>{
                 {&sequential, StdoutTarget::DevFull},
                 {&sequential, StdoutTarget::Closed},
                 {&sequential, StdoutTarget::BrokenPipe},
                 {&in_processes, StdoutTarget::Closed}}) {
            SCOPED_TRACE(mode->size());
            std::remove(log.c_str());
            const ChildResult result = run_fixture(args, *mode, target);
            EXPECT_TRUE(result.exited) << args[0] << ": ended by signal " << result.signal;
            EXPECT_EQ(result.exit_status, 101) << args[0];
            const std::string err = result.err.starts_with(deprecated)
                                        ? result.err.substr(deprecated.size())
                                        : result.err;
            EXPECT_TRUE(err.starts_with("error: io error when listing tests: ")) << result.err;
            EXPECT_TRUE(err.ends_with("\n")) << result.err;
            EXPECT_EQ(occurrences(err, "\n"), 1u) << result.err;
            std::ifstream written(log);
            for (std::string entry; std::getline(written, entry);) {
                EXPECT_TRUE(entry.starts_with("ok ")) << "not a log line: " << entry;
            }
        }
    }
}

} // namespace
} // namespace run_loop_tests
