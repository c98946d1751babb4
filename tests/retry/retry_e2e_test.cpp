// Whole-program tests of retries and of checks that end the process: the retry fixture runs as
// a child process, and its reports (times, thread numbers and panic sites masked), files and
// exit status are compared.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.hpp"

namespace retry_tests {

using namespace test_support;
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

// A fresh folder for the fixture's attempt counts, removed after the test.
class StateDir {
public:
    StateDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "retry.XXXXXX").string();
        path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~StateDir() { std::filesystem::remove_all(path_); }
    StateDir(const StateDir&) = delete;
    StateDir& operator=(const StateDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

ChildResult run_fixture(const std::vector<std::string>& args, Env env, const StateDir& state) {
    ChildSpec child;
    child.args = args;
    env.emplace_back("RETRY_FIXTURE_DIR", state.path());
    env.emplace_back("SARNIVELLE_ALLOW_UNSTABLE", "1");
    child.env = std::move(env);
    ChildResult result = run_child(RETRY_FIXTURE, child);
    EXPECT_FALSE(result.timed_out) << result.out << result.err;
    return result;
}

// Replaces what stands between each `before` and the next `after` by `mask`.
std::string mask(std::string text, std::string_view before, std::string_view after,
                 std::string_view replacement) {
    std::size_t at = 0;
    while ((at = text.find(before, at)) != std::string::npos) {
        const std::size_t start = at + before.size();
        const std::size_t end = text.find(after, start);
        if (end == std::string::npos) {
            break;
        }
        text.replace(start, end - start, replacement);
        at = start + replacement.size() + after.size();
    }
    return text;
}

// Times, thread numbers, panic sites and the host: what differs from run to run.
std::string masked(std::string text) {
    for (const auto& [before, after] :
         std::vector<std::pair<std::string_view, std::string_view>>{{"finished in ", "s\n"},
                                                                    {"\"exec_time\":", "}"},
                                                                    {" time=\"", "\""},
                                                                    {" timestamp=\"", "\""},
                                                                    {" hostname=\"", "\""},
                                                                    {"' (", ") panicked at "},
                                                                    {"panicked at ", ":\n"},
                                                                    {"panicked at ", ":\\n"}}) {
        text = mask(std::move(text), before, after, "*");
    }
    return text;
}

std::vector<std::string> sorted_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

const Env retries_2 = {{"SARNIVELLE_TEST_RETRIES", "2"}};
const std::string flaky_pass =
    "test retry::tests::flaky ... ok (flaky: passed on attempt 2 of 3)\n";
const std::string always_fails_section =
    "\nfailures:\n\n---- retry::tests::always_fails stdout ----\nalways_fails attempt 3\n\n"
    "thread 'retry::tests::always_fails' (*) panicked at *:\nattempt 3 fails too\n\n\n"
    "failures:\n    retry::tests::always_fails\n";

std::string summary(std::string_view word, int passed, int failed, std::string_view flaky) {
    return "\ntest result: " + std::string(word) + ". " + std::to_string(passed) + " passed; " +
           std::to_string(failed) + " failed; 0 ignored; 0 measured; " +
           std::to_string(7 - passed - failed) + " filtered out" + std::string(flaky) +
           "; finished in *s\n\n";
}

// The human-readable forms: the flaky line, the failure of the last attempt, the summary's
// flaky count and the exit status, in order one check at a time and as a set in parallel.
TEST(RetryReport, pretty_and_terse_name_the_flaky_and_keep_the_last_failure) {
    struct Case {
        std::string name;
        Env env;
        std::vector<std::string> args;
        std::string report;
        int status;
        bool in_parallel = false;
    };
    const Env fail_flaky = {{"SARNIVELLE_TEST_RETRIES", "2"}, {"SARNIVELLE_TEST_FLAKY", "fail"}};
    const Env pass_flaky = {{"SARNIVELLE_TEST_RETRIES", "2"}, {"SARNIVELLE_TEST_FLAKY", "pass"}};
    const std::vector<std::string> flaky = {"--test-threads", "1", "retry::tests::flaky"};
    const std::vector<Case> cases = {
        {"flaky passes", retries_2, flaky,
         "\nrunning 1 test\n" + flaky_pass + summary("ok", 1, 0, "; 1 flaky"), 0},
        {"flaky passes, said outright", pass_flaky, flaky,
         "\nrunning 1 test\n" + flaky_pass + summary("ok", 1, 0, "; 1 flaky"), 0},
        {"flaky fails the run", fail_flaky, flaky,
         "\nrunning 1 test\n" + flaky_pass + summary("FAILED", 1, 0, "; 1 flaky"), 101},
        {"no retries: as without them",
         {{"SARNIVELLE_TEST_RETRIES", "0"}},
         flaky,
         "\nrunning 1 test\ntest retry::tests::flaky ... FAILED\n\nfailures:\n\n"
         "---- retry::tests::flaky stdout ----\nflaky attempt 1\n\nthread 'retry::tests::flaky' "
         "(*) panicked at *:\nthe first attempt fails\nnote: run with `SARNIVELLE_BACKTRACE=1` "
         "environment variable to display a backtrace\n\n\nfailures:\n    retry::tests::flaky\n" +
             summary("FAILED", 0, 1, ""),
         101},
        {"every attempt fails",
         retries_2,
         {"--test-threads", "1", "retry::"},
         "\nrunning 3 tests\ntest retry::tests::always_fails ... FAILED (all 3 attempts failed)\n" +
             flaky_pass + "test retry::tests::passes ... ok\n" + always_fails_section +
             summary("FAILED", 2, 1, "; 1 flaky"),
         101},
        {"in parallel",
         retries_2,
         {"--test-threads", "3", "retry::"},
         "\nrunning 3 tests\ntest retry::tests::always_fails ... FAILED (all 3 attempts failed)\n" +
             flaky_pass + "test retry::tests::passes ... ok\n" + always_fails_section +
             summary("FAILED", 2, 1, "; 1 flaky"),
         101,
         true},
        {"terse",
         retries_2,
         {"-q", "retry::tests::flaky"},
         "\nrunning 1 test\n.\n" + summary("ok", 1, 0, "; 1 flaky"),
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const StateDir state;
        const ChildResult result = run_fixture(c.args, c.env, state);
        EXPECT_TRUE(result.exited);
        EXPECT_EQ(result.exit_status, c.status);
        if (c.in_parallel) {
            EXPECT_EQ(sorted_lines(masked(result.out)), sorted_lines(c.report));
        } else {
            EXPECT_EQ(masked(result.out), c.report);
        }
        EXPECT_EQ(result.err, "");
    }
}

// The forms for tools: JSON has one event per attempt, JUnit keeps the failed attempts of a
// flaky pass as <flakyFailure> and those before a failure as <rerunFailure>.
TEST(RetryReport, json_and_junit_keep_every_failed_attempt) {
    const std::string flaky_output = "flaky attempt 1\n\nthread 'retry::tests::flaky' (*) "
                                     "panicked at *:\nthe first attempt fails\n";
    const std::string json =
        "{\"event\":\"run_started\",\"test_count\":2}\n"
        "{\"event\":\"test_started\",\"name\":\"retry::tests::always_fails\"}\n"
        "{\"event\":\"test_attempt\",\"name\":\"retry::tests::always_fails\",\"attempt\":1,"
        "\"outcome\":\"failed\",\"output\":\"always_fails attempt 1\\n\\nthread "
        "'retry::tests::always_fails' (*) panicked at *:\\nattempt 1 fails too\\nnote: run with "
        "`SARNIVELLE_BACKTRACE=1` environment variable to display a backtrace\\n\"}\n"
        "{\"event\":\"test_result\",\"name\":\"retry::tests::always_fails\",\"outcome\":"
        "\"failed\",\"attempt\":2,\"output\":\"always_fails attempt 2\\n\\nthread "
        "'retry::tests::always_fails' (*) panicked at *:\\nattempt 2 fails too\\n\"}\n"
        "{\"event\":\"test_started\",\"name\":\"retry::tests::flaky\"}\n"
        "{\"event\":\"test_attempt\",\"name\":\"retry::tests::flaky\",\"attempt\":1,\"outcome\":"
        "\"failed\",\"output\":\"flaky attempt 1\\n\\nthread 'retry::tests::flaky' (*) panicked "
        "at *:\\nthe first attempt fails\\n\"}\n"
        "{\"event\":\"test_result\",\"name\":\"retry::tests::flaky\",\"outcome\":\"passed\","
        "\"attempt\":2,\"flaky\":true}\n"
        "{\"event\":\"run_finished\",\"outcome\":\"failed\",\"passed\":1,\"failed\":1,"
        "\"ignored\":0,\"measured\":0,\"filtered_out\":5,\"flaky\":1,\"exec_time\":*}\n";
    const std::string junit =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<testsuite name=\"runner_retry_fixture\" tests=\"2\" failures=\"1\" errors=\"0\" "
        "skipped=\"0\" time=\"*\" timestamp=\"*\" hostname=\"*\">\n"
        "  <testcase classname=\"retry::tests\" name=\"always_fails\" time=\"*\" "
        "file=\"tests/retry/retry_fixture.cpp\" line=\"59\">\n"
        "    <failure type=\"panic\" message=\"attempt 2 fails too\">always_fails attempt 2\n\n"
        "thread 'retry::tests::always_fails' (*) panicked at *:\nattempt 2 fails too\n"
        "</failure>\n"
        "    <rerunFailure type=\"panic\" message=\"attempt 1 fails too\" time=\"*\"><stackTrace>"
        "always_fails attempt 1\n\nthread 'retry::tests::always_fails' (*) panicked at *:\n"
        "attempt 1 fails too\nnote: run with `SARNIVELLE_BACKTRACE=1` environment variable to "
        "display a backtrace\n</stackTrace></rerunFailure>\n"
        "  </testcase>\n"
        "  <testcase classname=\"retry::tests\" name=\"flaky\" time=\"*\" "
        "file=\"tests/retry/retry_fixture.cpp\" line=\"51\">\n"
        "    <flakyFailure type=\"panic\" message=\"the first attempt fails\" time=\"*\">"
        "<stackTrace>" +
        flaky_output +
        "</stackTrace></flakyFailure>\n"
        "  </testcase>\n"
        "</testsuite>\n";
    for (const auto& [format, expected] :
         std::vector<std::pair<std::string, std::string>>{{"json", json}, {"junit", junit}}) {
        SCOPED_TRACE(format);
        const StateDir state;
        const ChildResult result =
            run_fixture({"--test-threads", "1", "-Z", "unstable-options", "--format", format,
                         "retry::tests::flaky", "retry::tests::always"},
                        {{"SARNIVELLE_TEST_RETRIES", "1"}}, state);
        EXPECT_EQ(result.exit_status, 101);
        EXPECT_EQ(masked(result.out), expected);
    }
}

// The timeline: one event per attempt on the check's lane, each starting where the one before
// it ended, with its outcome and number; the run counts the flaky.
TEST(RetryReport, the_timeline_has_one_event_per_attempt) {
    const StateDir state;
    const std::string trace = state.path() + "/trace.json";
    const ChildResult result =
        run_fixture({"--test-threads", "1", "retry::tests::flaky"},
                    {{"SARNIVELLE_TEST_RETRIES", "2"}, {"SARNIVELLE_TEST_TRACE", trace}}, state);
    EXPECT_EQ(result.exit_status, 0);
    std::ifstream in(trace);
    std::vector<std::string> events;
    std::string run;
    for (std::string line; std::getline(in, line);) {
        if (line.find("\"name\":\"retry::tests::flaky\"") != std::string::npos) {
            events.push_back(line);
        } else if (line.find("\"name\":\"run\"") != std::string::npos) {
            run = line;
        }
    }
    const auto number = [](const std::string& line, std::string_view key) {
        const std::size_t at = line.find(key);
        return at == std::string::npos ? -1.0
                                       : std::strtod(line.c_str() + at + key.size(), nullptr);
    };
    ASSERT_EQ(events.size(), 2U);
    EXPECT_NE(events[0].find("\"tid\":1,"), std::string::npos) << events[0];
    EXPECT_NE(events[1].find("\"tid\":1,"), std::string::npos) << events[1];
    EXPECT_NE(events[0].find("\"args\":{\"outcome\":\"failed\",\"attempt\":1}"), std::string::npos)
        << events[0];
    EXPECT_NE(events[1].find("\"args\":{\"outcome\":\"passed\",\"attempt\":2}"), std::string::npos)
        << events[1];
    EXPECT_NEAR(number(events[0], "\"ts\":") + number(events[0], "\"dur\":"),
                number(events[1], "\"ts\":"), 0.002);
    EXPECT_NE(run.find("\"filtered_out\":6,\"flaky\":1}"), std::string::npos) << run;
}

TEST(RetryErrors, invalid_retry_settings_stop_the_run_before_it_starts) {
    for (const auto& [variable, value, message] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"SARNIVELLE_TEST_RETRIES", "x", "should be a number."},
             {"SARNIVELLE_TEST_RETRIES", "-1", "should be a number."},
             {"SARNIVELLE_TEST_FLAKY", "yes", "should be `pass` or `fail`."}}) {
        SCOPED_TRACE(variable + "=" + value);
        const StateDir state;
        const ChildResult result = run_fixture({"retry::"}, {{variable, value}}, state);
        EXPECT_EQ(result.exit_status, 101);
        EXPECT_NE(result.err.find(variable + " is `" + value + "`, " + message + "\n"),
                  std::string::npos)
            << result.err;
        EXPECT_EQ(result.out, "");
    }
}

// exit and quick_exit in a check end the process with the failure status, after the check's
// output and the names of every check that was running.
TEST(ExitGuard, a_check_that_ends_the_process_fails_the_run_and_names_the_running_checks) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
        std::string err_head;
        std::vector<std::string> running;
    };
    const std::vector<Case> cases = {
        {{"--test-threads", "1", "calls_exit_zero"},
         "\nrunning 1 test\ntest ending::tests::calls_exit_zero ... \n"
         "---- ending::tests::calls_exit_zero stdout ----\nprinted before exit\n\n",
         "error: check ending::tests::calls_exit_zero ended the process: exit(0) was called; the "
         "run fails\n",
         {"ending::tests::calls_exit_zero"}},
        {{"--test-threads", "2", "calls_quick_exit"},
         "\nrunning 1 test\n\n---- ending::tests::calls_quick_exit_three stdout ----\n"
         "printed before quick_exit\n\n",
         "error: check ending::tests::calls_quick_exit_three ended the process: quick_exit was "
         "called; the run fails\n",
         {"ending::tests::calls_quick_exit_three"}},
        {{"--test-threads", "2", "beside", "neighbour"},
         "\nrunning 2 tests\n\n---- ending::tests::exits_beside_a_neighbour stdout ----\n\n",
         "error: check ending::tests::exits_beside_a_neighbour ended the process: exit(0) was "
         "called; the run fails\n",
         {"ending::tests::exits_beside_a_neighbour", "ending::tests::neighbour"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const StateDir state;
        const ChildResult result = run_fixture(c.args, {}, state);
        EXPECT_TRUE(result.exited);
        EXPECT_EQ(result.exit_status, 101);
        EXPECT_EQ(result.out, c.out);
        const std::string list_head = "checks running when the process ended:\n";
        ASSERT_EQ(result.err.substr(0, c.err_head.size() + list_head.size()),
                  c.err_head + list_head);
        std::vector<std::string> running;
        for (const std::string& line :
             sorted_lines(result.err.substr(c.err_head.size() + list_head.size()))) {
            running.push_back(line.substr(line.find_first_not_of(' ')));
        }
        EXPECT_EQ(running, c.running);
    }
}

} // namespace
} // namespace retry_tests
