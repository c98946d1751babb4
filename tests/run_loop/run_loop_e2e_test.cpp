// Whole-program tests of the run loop and the default report: the fixture registry runs as a
// child process, and its standard output, standard error and exit status are compared.
//
// Times and thread numbers differ from run to run and are masked. Where checks run in parallel
// and their completion order is not fixed, the result lines are compared as a set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.hpp"

namespace run_loop_tests {

using namespace test_support;
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

const Env sequential = {{"SARNIVELLE_TEST_THREADS", "1"}};
const Env parallel = {{"SARNIVELLE_TEST_THREADS", "2"}};
const Env unstable = {{"SARNIVELLE_ALLOW_UNSTABLE", "1"}};

constexpr std::size_t registry_size = 30;
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

// Replaces each `before`, a number (digits and points) and `after` by `replacement`.
std::string mask_numbers(std::string text, std::string_view before, std::string_view after,
                         std::string_view replacement) {
    for (auto at = text.find(before); at != std::string::npos; at = text.find(before, at)) {
        auto end = at + before.size();
        while (end < text.size() &&
               (std::isdigit(static_cast<unsigned char>(text[end])) != 0 || text[end] == '.')) {
            ++end;
        }
        if (end > at + before.size() && std::string_view(text).substr(end).starts_with(after)) {
            text.replace(at, end + after.size() - at, replacement);
            at += replacement.size();
        } else {
            at += before.size();
        }
    }
    return text;
}

// Replaces what differs between runs: the suite time, check times and thread numbers.
std::string masked(const std::string& report) {
    std::string text = mask_numbers(report, "finished in ", "s\n", "finished in <T>\n");
    text = mask_numbers(text, " <", "s>", " <T>");
    return mask_numbers(text, "' (", ") panicked at ", "' (<ID>) panicked at ");
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

// Where a failure raised by calling a function is located: at the last opening parenthesis of
// `call`, which begins the argument list of the failing call.
Site call_site(std::string_view call) {
    Site site = site_of(call);
    site.column += call.rfind('(');
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

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

void expect_success(const ChildResult& result) {
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
}

void expect_failure_status(const ChildResult& result) {
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 101);
    EXPECT_EQ(result.err, "");
}

// ---- Passing runs and the run-start line -------------------------------------------------------

TEST(RunLoopReport, sequential_passes_are_reported_in_registry_order) {
    const ChildResult result = run_fixture({"pass::"}, sequential);
    expect_success(result);
    EXPECT_EQ(masked(result.out), "\nrunning 3 tests\n"
                                  "test pass::tests::first ... ok\n"
                                  "test pass::tests::second ... ok\n"
                                  "test pass::tests::third ... ok\n" +
                                      summary("ok", 3, 0, 0, 3));
}

TEST(RunLoopReport, parallel_passes_are_each_reported_once) {
    const ChildResult result = run_fixture({"pass::"}, parallel);
    expect_success(result);
    const std::string report = masked(result.out);
    const std::string head = "\nrunning 3 tests\n";
    const std::string tail = summary("ok", 3, 0, 0, 3);
    ASSERT_TRUE(report.starts_with(head)) << report;
    ASSERT_TRUE(report.ends_with(tail)) << report;
    std::vector<std::string> lines =
        lines_of(report.substr(head.size(), report.size() - head.size() - tail.size()));
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"test pass::tests::first ... ok",
                                               "test pass::tests::second ... ok",
                                               "test pass::tests::third ... ok"}));
}

TEST(RunLoopReport, no_selected_check_runs_nothing_and_succeeds) {
    for (const Env& env : {sequential, parallel}) {
        const ChildResult result = run_fixture({"no_such_check"}, env);
        expect_success(result);
        EXPECT_EQ(masked(result.out), "\nrunning 0 tests\n" + summary("ok", 0, 0, 0, 0));
    }
}

TEST(RunLoopReport, one_selected_check_is_announced_in_the_singular) {
    const ChildResult result = run_fixture({"pass::tests::second"}, parallel);
    expect_success(result);
    EXPECT_EQ(masked(result.out), "\nrunning 1 test\n"
                                  "test pass::tests::second ... ok\n" +
                                      summary("ok", 1, 0, 0, 1));
}

// ---- Failures and the panic report -------------------------------------------------------------

TEST(RunLoopReport, failures_show_output_panic_site_and_message) {
    const ChildResult result = run_fixture({"fail::"}, sequential);
    expect_failure_status(result);

    const std::string eq = "fail::tests::assert_eq_floats";
    const std::string with = "fail::tests::assert_with_message";
    const std::string without = "fail::tests::assert_without_message";
    const std::string output = "fail::tests::panic_with_output";
    const std::string failures = section(
        "failures",
        {{eq,
          panic_report(eq, site_of("SARNIVELLE_ASSERT_EQ(height, 40.0f)"),
                       "assertion `left == right` failed\n  left: 39.999996\n right: 40", true)},
         {with, panic_report(with, site_of("SARNIVELLE_ASSERT(slope < 0.5f"),
                             "slope 0.7853982 not below 0.5 (limit 100000000000000000000, "
                             "floor -0)",
                             false)},
         {without, panic_report(without, site_of("SARNIVELLE_ASSERT(cells == 9)"),
                                "assertion failed: cells == 9", false)},
         {output, "some context first\n" +
                      panic_report(output, call_site("runner::panic(\"the grid is wrong\")"),
                                   "the grid is wrong", false)}},
        {eq, with, without, output});
    EXPECT_EQ(masked(result.out), "\nrunning 4 tests\n" + line(eq, "FAILED") +
                                      line(with, "FAILED") + line(without, "FAILED") +
                                      line(output, "FAILED") + failures +
                                      summary("FAILED", 0, 4, 0, 4));
}

TEST(RunLoopReport, outputs_follow_completion_order_and_names_are_sorted) {
    const std::string a = "order::tests::a_fails_late";
    const std::string b = "order::tests::b_fails_early";
    const std::string a_text =
        "a was here\n" +
        panic_report(a, call_site("runner::panic(\"a failed\")"), "a failed", false);
    const std::string b_text =
        "b was here\n" +
        panic_report(b, call_site("runner::panic(\"b failed\")"), "b failed", true);

    // B finishes first when both run at once: its result and its output come first.
    const ChildResult result = run_fixture({"order::"}, parallel);
    expect_failure_status(result);
    EXPECT_EQ(masked(result.out), "\nrunning 2 tests\n" + line(b, "FAILED") + line(a, "FAILED") +
                                      section("failures", {{b, b_text}, {a, a_text}}, {a, b}) +
                                      summary("FAILED", 0, 2, 0, 2));

    // One at a time, the registry order holds throughout; A now panics first.
    const ChildResult in_order = run_fixture({"order::"}, sequential);
    expect_failure_status(in_order);
    auto first_note_moved = [](std::string a_first, std::string b_second) {
        a_first.insert(a_first.size(), backtrace_note);
        b_second.erase(b_second.find(backtrace_note), backtrace_note.size());
        return std::pair{a_first, b_second};
    };
    const auto [a_seq, b_seq] = first_note_moved(a_text, b_text);
    EXPECT_EQ(masked(in_order.out), "\nrunning 2 tests\n" + line(a, "FAILED") + line(b, "FAILED") +
                                        section("failures", {{a, a_seq}, {b, b_seq}}, {a, b}) +
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
    expect_failure_status(result);
    EXPECT_EQ(captured_output_of(masked(result.out), check),
              "cout line\ncerr line\nclog line\nprint line\neprint line\npartial 42 line\n" +
                  panic_report(check, call_site("runner::panic(\"printed on every stream\")"),
                               "printed on every stream", true));
}

TEST(RunLoopCapture, threads_a_check_starts_print_into_its_output) {
    const std::string check = "output::tests::spawned_threads";
    for (const Env& env : {sequential, parallel}) {
        const ChildResult result = run_fixture({check}, env);
        expect_failure_status(result);
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
    expect_failure_status(result);
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

TEST(RunLoopCapture, invalid_utf8_in_captured_output_is_replaced) {
    const std::string check = "hostile::tests::fails_with_hostile_output";
    const ChildResult result = run_fixture({check}, sequential);
    expect_failure_status(result);
    const std::string replaced = "colour \x1b[31mred\x1b[0m, bad utf-8 \xEF\xBF\xBD\xEF\xBF\xBD, "
                                 "nul [" +
                                 std::string(1, '\0') + "], quotes \"'\", <tag> & ]]> end";
    const std::string output = captured_output_of(masked(result.out), check);
    EXPECT_TRUE(output.starts_with(replaced + "\n")) << output;
    EXPECT_EQ(occurrences(output, "hostile message: " + replaced + "\n"), 1u) << output;
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
    expect_success(result);
    EXPECT_EQ(masked(result.out),
              "\nrunning 2 tests\n"
              "test ignore::tests::plain ... ignored\n"
              "test ignore::tests::with_message ... ignored, waits for the new terrain\n" +
                  summary("ok", 0, 0, 2, 2));
}

TEST(RunLoopOutcomes, a_single_ignored_check_with_a_message_repeats_it_after_the_summary) {
    const ChildResult with_message = run_fixture({"ignore::tests::with_message"}, parallel);
    expect_success(with_message);
    EXPECT_EQ(masked(with_message.out),
              "\nrunning 1 test\n"
              "test ignore::tests::with_message ... ignored, waits for the new terrain\n" +
                  summary("ok", 0, 0, 1, 1) +
                  "test: ignore::tests::with_message, ignore_message: waits for the new "
                  "terrain\n\n");

    const ChildResult plain = run_fixture({"ignore::tests::plain"}, parallel);
    expect_success(plain);
    EXPECT_EQ(masked(plain.out), "\nrunning 1 test\n"
                                 "test ignore::tests::plain ... ignored\n" +
                                     summary("ok", 0, 0, 1, 1));
}

TEST(RunLoopOutcomes, expected_panic_rules) {
    const ChildResult result = run_fixture({"panic::"}, sequential);
    expect_failure_status(result);

    const std::string p = "panic::tests::";
    auto did_not_panic = [&](std::string_view name) {
        return "note: test did not panic as expected at " + declaration_of("panic", name).text();
    };
    const std::string non_text = "non-text panic payload of type `int`";

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
    const std::string non_text_output = captured_output_of(report, p + "substring_non_text");
    EXPECT_TRUE(non_text_output.ends_with("note: expected panic with string value,\n"
                                          " found non-string value: `int`\n"
                                          "     expected substring: \"needle\""))
        << non_text_output;
    EXPECT_EQ(
        captured_output_of(report, p + "non_text_payload"),
        panic_report(p + "non_text_payload", call_site("runner::panic_any(42)"), non_text, false));
}

// ---- Deadlines ---------------------------------------------------------------------------------

TEST(RunLoopDeadline, an_overdue_check_gets_one_notice_and_is_then_reported) {
    const ChildResult result = run_fixture({"slow::"}, parallel);
    expect_success(result);
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
    expect_success(result);
    EXPECT_EQ(masked(result.out), "\nrunning 1 test\n"
                                  "test slow::tests::overruns_deadline ... ok\n" +
                                      summary("ok", 1, 0, 0, 1));
}

// ---- Options that change the run ---------------------------------------------------------------

TEST(RunLoopOptions, show_output_with_nothing_printed_gives_an_empty_successes_section) {
    const ChildResult result = run_fixture({"--show-output", "pass::"}, sequential);
    expect_success(result);
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

TEST(RunLoopOptions, show_output_shows_what_passing_checks_printed) {
    const std::string check = "hostile::tests::passes_with_hostile_output";
    const ChildResult result = run_fixture({"--show-output", check}, sequential);
    expect_success(result);
    const std::string report = masked(result.out);
    const std::string heading = "\nsuccesses:\n\n---- " + check + " stdout ----\ncolour ";
    EXPECT_NE(report.find(heading), std::string::npos) << report;
    EXPECT_NE(report.find("]]> end\n\n\nsuccesses:\n    " + check + "\n"), std::string::npos)
        << report;
}

TEST(RunLoopOptions, test_threads_option_overrides_the_environment) {
    // The order checks reveal the mode: one at a time, A is reported before B.
    const ChildResult result = run_fixture({"--test-threads", "1", "order::"}, parallel);
    expect_failure_status(result);
    const std::string report = masked(result.out);
    EXPECT_TRUE(report.starts_with("\nrunning 2 tests\n" +
                                   line("order::tests::a_fails_late", "FAILED") +
                                   line("order::tests::b_fails_early", "FAILED")))
        << report;
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
    expect_failure_status(one_at_a_time);
    const std::string eq = "fail::tests::assert_eq_floats";
    EXPECT_EQ(masked(one_at_a_time.out),
              "\nrunning 4 tests\n" + line(eq, "FAILED") +
                  section("failures",
                          {{eq, panic_report(eq, site_of("SARNIVELLE_ASSERT_EQ(height, 40.0f)"),
                                             "assertion `left == right` failed\n"
                                             "  left: 39.999996\n right: 40",
                                             true)}},
                          {eq}) +
                  summary("FAILED", 0, 1, 0, 4));

    // Several at a time: B fails first; A, still running, is abandoned and never reported.
    const std::string b = "order::tests::b_fails_early";
    const ChildResult at_once = run_fixture(with_filter("order::"), with(parallel, unstable));
    expect_failure_status(at_once);
    EXPECT_EQ(
        masked(at_once.out),
        "\nrunning 2 tests\n" + line(b, "FAILED") +
            section("failures",
                    {{b, "b was here\n" + panic_report(b, call_site("runner::panic(\"b failed\")"),
                                                       "b failed", true)}},
                    {b}) +
            summary("FAILED", 0, 1, 0, 2));
}

TEST(RunLoopOptions, without_fail_fast_a_failure_does_not_stop_the_run) {
    const ChildResult result = run_fixture({"fail::", "pass::"}, sequential);
    expect_failure_status(result);
    const std::string report = masked(result.out);
    EXPECT_EQ(occurrences(report, " ... FAILED\n"), 4u) << report;
    EXPECT_EQ(occurrences(report, " ... ok\n"), 3u) << report;
    EXPECT_TRUE(report.ends_with(summary("FAILED", 3, 4, 0, 7))) << report;
}

TEST(RunLoopOptions, ensure_time_fails_a_check_over_its_critical_time) {
    const Env env = with(with(sequential, unstable), {{"SARNIVELLE_TEST_TIME_UNIT", "10,50"}});
    const std::string check = "timing::tests::sleeps_briefly";
    const ChildResult result = run_fixture({"-Z", "unstable-options", "--ensure-time", check}, env);
    expect_failure_status(result);
    EXPECT_EQ(masked(result.out),
              "\nrunning 1 test\n" + line(check, "FAILED (time limit exceeded) <T>") +
                  section("failures (time limit exceeded)", {{check, ""}}, {check}) +
                  summary("FAILED", 0, 1, 0, 1));

    // Reporting alone never fails a check.
    const ChildResult reported =
        run_fixture({"-Z", "unstable-options", "--report-time", check}, env);
    expect_success(reported);
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

TEST(RunLoopOptions, the_fixture_registry_is_listed_in_ascending_byte_order) {
    const ChildResult result = run_fixture({"--list"}, {});
    expect_success(result);
    std::vector<std::string> names;
    for (const std::string& entry : lines_of(result.out)) {
        if (entry.ends_with(": test")) {
            names.push_back(entry.substr(0, entry.size() - 6));
        }
    }
    EXPECT_EQ(names.size(), registry_size);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end())) << result.out;
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
        EXPECT_EQ(result.out.find("test pass::"), std::string::npos) << result.out;
    }
}

TEST(RunLoopErrors, a_report_that_cannot_be_written_ends_with_an_io_error) {
    for (const StdoutTarget target :
         {StdoutTarget::DevFull, StdoutTarget::Closed, StdoutTarget::BrokenPipe}) {
        const ChildResult result = run_fixture({"pass::"}, sequential, target);
        EXPECT_TRUE(result.exited) << "ended by signal " << result.signal;
        EXPECT_EQ(result.exit_status, 101);
        EXPECT_TRUE(result.err.starts_with("error: io error when listing tests: ")) << result.err;
        EXPECT_TRUE(result.err.ends_with("\n")) << result.err;
        EXPECT_EQ(occurrences(result.err, "\n"), 1u) << result.err;
    }
}

// ---- Crashes -----------------------------------------------------------------------------------

// A crash must not lose what the crashing check printed: its name and output reach standard
// output before the process dies with a failure status.
void expect_crash_keeps_output(const std::string& check, std::string_view printed, const Env& env) {
    const ChildResult result = run_fixture({check}, env);
    EXPECT_FALSE(result.exited && result.exit_status == 0) << result.out;
    EXPECT_TRUE(result.out.starts_with("\nrunning 1 test\n")) << result.out;
    EXPECT_NE(result.out.find(check), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(printed), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("test result:"), std::string::npos) << result.out;
}

TEST(RunLoopCrash, abort_keeps_the_checks_output) {
    expect_crash_keeps_output("crash::tests::abort", "printed before abort\n", sequential);
    expect_crash_keeps_output("crash::tests::abort", "printed before abort\n", parallel);
}

TEST(RunLoopCrash, terminate_keeps_the_checks_output) {
    expect_crash_keeps_output("crash::tests::terminate", "printed before terminate\n", parallel);
}

TEST(RunLoopCrash, null_pointer_write_keeps_the_checks_output) {
    expect_crash_keeps_output("crash::tests::null_write", "printed before the fault\n", parallel);
}

} // namespace
} // namespace run_loop_tests
