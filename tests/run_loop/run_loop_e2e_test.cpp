// Whole-program tests of the run loop and the default report: the fixture registry runs as a
// child process, and its standard output, standard error and exit status are compared.
//
// Times and thread numbers differ from run to run and are masked. Where checks run in parallel
// and their completion order is not fixed, the result lines are compared as a set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "child_process.hpp"

namespace run_loop_tests {

using namespace test_support;
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

const Env sequential = {{"SARNIVELLE_TEST_THREADS", "1"}};
const Env parallel = {{"SARNIVELLE_TEST_THREADS", "2"}};
const Env unstable = {{"SARNIVELLE_ALLOW_UNSTABLE", "1"}};

constexpr std::size_t registry_size = 33; // one of them a benchmark
constexpr std::string_view fixture_file = "tests/run_loop/fixture_checks.cpp";
constexpr std::string_view backtrace_note =
    "note: run with `SARNIVELLE_BACKTRACE=1` environment variable to display a backtrace\n";

Env with(Env env, const Env& more) {
    env.insert(env.end(), more.begin(), more.end());
    return env;
}

ChildResult run_fixture(std::vector<std::string> args, const Env& env,
                        StdoutTarget target = StdoutTarget::Pipe) {
    ChildSpec child;
    child.args = std::move(args);
    child.env = env;
    child.stdout_target = target;
    ChildResult result = run_child(FIXTURE_BINARY, child);
    EXPECT_FALSE(result.timed_out) << "the fixture did not finish; output so far:\n"
                                   << result.out << result.err;
    return result;
}

// Replaces each run of digits and dots that stands between `before` and `after` by `mask`,
// together with the first `unit` characters of `after` (the "s" of a time).
// (std::regex would do, but g++ 12 warns falsely inside it under the sanitizers.)
std::string mask_numbers(std::string text, std::string_view before, std::string_view after,
                         std::string_view mask, std::size_t unit = 0) {
    std::size_t at = 0;
    while ((at = text.find(before, at)) != std::string::npos) {
        const std::size_t start = at + before.size();
        std::size_t end = start;
        while (end < text.size() &&
               (std::isdigit(static_cast<unsigned char>(text[end])) != 0 || text[end] == '.')) {
            ++end;
        }
        if (end > start && text.compare(end, after.size(), after) == 0) {
            text.replace(start, end - start + unit, mask);
            at = start + mask.size();
        } else {
            at = start;
        }
    }
    return text;
}

// Replaces what differs between runs: the suite time, check times and thread numbers.
std::string masked(const std::string& report) {
    std::string text = mask_numbers(report, "finished in ", "s\n", "<T>", 1);
    text = mask_numbers(std::move(text), " <", "s>", "T", 1);
    return mask_numbers(std::move(text), "' (", ") panicked at ", "<ID>");
}

// One result line: "test {name} ... {word}".
std::string line(std::string_view name, std::string_view word) {
    return "test " + std::string(name) + " ... " + std::string(word) + "\n";
}

std::string summary(std::string_view word, std::size_t passed, std::size_t failed,
                    std::size_t ignored, std::size_t selected) {
    return "\ntest result: " + std::string(word) + ". " + std::to_string(passed) + " passed; " +
           std::to_string(failed) + " failed; " + std::to_string(ignored) +
           " ignored; 0 measured; " + std::to_string(registry_size - selected) +
           " filtered out; finished in <T>\n\n";
}

std::size_t occurrences(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

// A position in the fixture's source, found by a text that occurs there exactly once.
struct Site {
    std::size_t line = 0;
    std::size_t column = 0;

    std::string text() const {
        return std::string(fixture_file) + ":" + std::to_string(line) + ":" +
               std::to_string(column);
    }
};

Site site_of(std::string_view needle) {
    std::ifstream source(FIXTURE_SOURCE);
    std::string line;
    Site found;
    std::size_t number = 0;
    std::size_t matches = 0;
    while (std::getline(source, line)) {
        ++number;
        if (const auto at = line.find(needle); at != std::string::npos) {
            found = {number, at + 1};
            matches += occurrences(line, needle);
        }
    }
    EXPECT_EQ(matches, 1u) << needle;
    return found;
}

// Where a failure raised by calling a function is located: g++ places it at the last opening
// parenthesis of `call`, which begins the argument list of the failing call; clang at the start
// of the called name.
Site call_site(std::string_view call) {
    Site site = site_of(call);
#if !defined(__clang__)
    site.column += call.rfind('(');
#endif
    return site;
}

// Where a failure raised by an assertion macro whose invocation starts with `head` is located:
// g++ places it at the macro's name; clang at the parenthesis that closes the invocation, which
// may stand on a later line.
Site macro_site(std::string_view head) {
    Site site = site_of(head);
#if defined(__clang__)
    std::ifstream source(FIXTURE_SOURCE);
    std::string line;
    for (std::size_t number = 1; number < site.line; ++number) {
        std::getline(source, line);
    }
    std::size_t depth = 0;
    bool in_text = false;
    std::size_t at = site.column - 1;
    while (std::getline(source, line)) {
        for (; at < line.size(); ++at) {
            const char c = line[at];
            if (in_text) {
                at += c == '\\' ? 1 : 0;
                in_text = c != '"';
            } else if (c == '"') {
                in_text = true;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                site.column = at + 1;
                return site;
            }
        }
        ++site.line;
        at = 0;
    }
    ADD_FAILURE() << "no closing parenthesis for " << head;
#endif
    return site;
}

// The span of a check's name in its declaration.
Site declaration_of(std::string_view group, std::string_view name) {
    const std::string head = "FIXTURE_CHECK(" + std::string(group) + ", ";
    Site site = site_of(head + std::string(name) + (name.ends_with(")") ? "" : ","));
    site.column += head.size();
    return site;
}

// The captured panic report of a check, with the thread number masked.
std::string panic_report(std::string_view check, const Site& site, std::string_view message,
                         bool first_panic) {
    return "\nthread '" + std::string(check) + "' (<ID>) panicked at " + site.text() + ":\n" +
           std::string(message) + "\n" + (first_panic ? std::string(backtrace_note) : "");
}

std::string section(std::string_view title,
                    const std::vector<std::pair<std::string, std::string>>& outputs,
                    std::vector<std::string> names) {
    std::string text = "\n" + std::string(title) + ":\n";
    bool any_output = false;
    for (const auto& [name, output] : outputs) {
        if (!output.empty()) {
            if (!any_output) {
                text += "\n";
                any_output = true;
            }
            text += "---- " + name + " stdout ----\n" + output + "\n";
        }
    }
    text += "\n" + std::string(title) + ":\n";
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        text += "    " + name + "\n";
    }
    return text;
}

void expect_exit(const ChildResult& result, int status) {
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, status);
    EXPECT_EQ(result.err, "");
}

// The captured output of the first `fail::` check, the first of the run to panic.
const std::string eq_check = "fail::tests::assert_eq_floats";
std::string eq_output() {
    return panic_report(eq_check, macro_site("SARNIVELLE_ASSERT_EQ(height, 40.0f)"),
                        "assertion `left == right` failed\n  left: 39.999996\n right: 40", true);
}

// The captured output of `order::tests::a_fails_late` (`which` is 'a') or of `b_fails_early`.
const std::string a_check = "order::tests::a_fails_late";
const std::string b_check = "order::tests::b_fails_early";
std::string order_output(char which, bool first_panic) {
    const std::string message = std::string(1, which) + " failed";
    return std::string(1, which) + " was here\n" +
           panic_report(which == 'a' ? a_check : b_check,
                        call_site("runner::panic(\"" + message + "\")"), message, first_panic);
}

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

// ---- Captured output ---------------------------------------------------------------------------

// The captured output of `check` as a report section shows it: from its heading to the next
// heading or the section's closing title.
std::string captured_output_of(const std::string& report, const std::string& check) {
    const std::string heading = "---- " + check + " stdout ----\n";
    const auto start = report.find(heading);
    if (start == std::string::npos) {
        return "<no output section for " + check + ">";
    }
    const auto body = start + heading.size();
    auto end = report.size();
    for (const std::string_view next :
         {"\n---- ", "\n\nfailures:\n", "\n\nfailures (time limit exceeded):\n",
          "\n\nsuccesses:\n"}) {
        end = std::min(end, report.find(next, body));
    }
    return report.substr(body, end - body);
}

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

// The run, the usage text and a run with a log file alike; the log file never takes the place
// of a closed standard output.
TEST(RunLoopErrors, a_report_that_cannot_be_written_ends_with_an_io_error) {
    const std::string log = ::testing::TempDir() + "run_loop_io_error.log";
    const std::string deprecated = "warning: `--logfile` is deprecated";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"pass::"}, {"--help"}, {"--logfile", log, "pass::"}}) {
        for (const StdoutTarget target :
             {StdoutTarget::DevFull, StdoutTarget::Closed, StdoutTarget::BrokenPipe}) {
            std::remove(log.c_str());
            const ChildResult result = run_fixture(args, sequential, target);
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
