// The process mode, hard time limits and interrupts, end to end: the isolation registry runs as
// a child process, in processes of its own (SARNIVELLE_TEST_ISOLATE=1) and in-process, and its
// reports, files and exit status are compared. This test process adopts every orphan of the runs
// (a subreaper), so that after each test it can tell that no process was left behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"

namespace isolation_tests {
namespace {

using test_support::ChildResult;
using test_support::ChildSpec;
using Env = std::vector<std::pair<std::string, std::string>>;
using clock = std::chrono::steady_clock;

const Env isolated = {{"SARNIVELLE_TEST_ISOLATE", "1"}};
const Env in_process = {{"SARNIVELLE_TEST_ISOLATE", "0"}};

Env with(Env env, const Env& more) {
    env.insert(env.end(), more.begin(), more.end());
    return env;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Every run of digits as "N": times, thread numbers and dates differ between runs and modes.
std::string mask_digits(const std::string& text) {
    std::string masked;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
            masked += 'N';
            while (i + 1 < text.size() &&
                   (std::isdigit(static_cast<unsigned char>(text[i + 1])) != 0 ||
                    text[i + 1] == '.')) {
                ++i;
            }
        } else {
            masked += text[i];
        }
    }
    return masked;
}

class Isolation : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

    void SetUp() override {
        char pattern[] = "/tmp/sarnivelle-isolation-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        dir_ = made;
    }

    // No process of a run is left: every orphan came to this process, and all have ended.
    void TearDown() override {
        const auto limit = clock::now() + std::chrono::seconds(5);
        for (;;) {
            const pid_t pid = ::waitpid(-1, nullptr, WNOHANG);
            if (pid < 0) {
                break; // no children at all
            }
            if (pid == 0 && clock::now() > limit) {
                ADD_FAILURE() << "a process of the run is still running";
                break;
            }
            if (pid == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        const std::string command = "rm -rf '" + dir_ + "'";
        [[maybe_unused]] const int status = std::system(command.c_str());
    }

    std::string file(const char* name) const { return dir_ + "/" + name; }

    ChildResult run(std::vector<std::string> args, const Env& env) {
        ChildSpec child;
        child.args = std::move(args);
        child.env = with(env, {{"ISOLATION_DIR", dir_}});
        ChildResult result = test_support::run_child(ISOLATION_BINARY, child);
        EXPECT_FALSE(result.timed_out) << result.out << result.err;
        return result;
    }

    std::string dir_;
};

// A check that ends its process fails with what ended it, after everything it wrote, and the
// run goes on; the JUnit file names both checks.
TEST_F(Isolation, a_check_that_ends_its_process_fails_alone) {
    const struct {
        const char* check;
        const char* message;
        const char* output; // written by the check before it ended
    } cases[] = {
        {"crash::tests::abort", "the check's process was killed by signal 6 (SIGABRT)",
         "printed before abort\n\nerror: check crash::tests::abort ended the process: SIGABRT"},
        {"crash::tests::null_write", "the check's process was killed by signal 11 (SIGSEGV)",
         "printed before the fault\n"},
        {"crash::tests::stack_overflow", "the check's process was killed by signal 11 (SIGSEGV)",
         "printed before the overflow\n"},
        {"ending::tests::exit_zero",
         "the check's process exited with status 0 before reporting a result",
         "printed before exit\n\nerror: check ending::tests::exit_zero ended the process: exit(0) "
         "was called\n"},
        {"ending::tests::quick_exit_three",
         "the check's process exited with status 3 before reporting a result",
         "printed before quick_exit\n\nerror: check ending::tests::quick_exit_three ended the "
         "process: quick_exit was called\n"},
        {"ending::tests::underscore_exit_zero",
         "the check's process exited with status 0 before reporting a result", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.check);
        if (SANITIZED && std::string(c.message).find("SIGSEGV") != std::string::npos) {
            continue; // the sanitizer reports the fault and exits instead
        }
        const ChildResult result =
            run({"--exact", c.check, "pass::tests::quick"},
                with(isolated, {{"XML_OUTPUT_FILE", file("junit.xml")},
                                {"TEST_PREMATURE_EXIT_FILE", file("premature")}}));
        EXPECT_EQ(result.exit_status, 101) << result.out << result.err;
        EXPECT_NE(result.out.find(std::string("test ") + c.check + " ... FAILED\n"),
                  std::string::npos)
            << result.out;
        EXPECT_NE(result.out.find("test pass::tests::quick ... ok\n"), std::string::npos);
        const std::string section = std::string("---- ") + c.check + " stdout ----\n" + c.output;
        EXPECT_NE(result.out.find(section), std::string::npos) << result.out;
        EXPECT_NE(result.out.find(std::string("note: ") + c.message + "\n"), std::string::npos)
            << result.out;
        EXPECT_NE(result.out.find("test result: FAILED. 1 passed; 1 failed;"), std::string::npos);
        const std::string junit = read_file(file("junit.xml"));
        EXPECT_NE(junit.find("tests=\"2\" failures=\"1\""), std::string::npos) << junit;
        EXPECT_FALSE(exists(file("premature")));
    }
}

// Under a process limit, a check whose process cannot be forked yet waits for another check's
// process to end; only when none runs is it reported as not started. Root ignores the limit,
// so the run is an unprivileged user's, from a copy of the fixture that user can read; the
// sanitizers' runtimes start threads of their own, which the limit counts.
TEST_F(Isolation, a_process_limit_delays_checks_instead_of_failing_them) {
    if (::geteuid() != 0 || SANITIZED) {
        GTEST_SKIP() << "needs root, to run the fixture as another user under a process limit";
    }
    const std::string copy = file("checks");
    const std::string setup =
        "cp '" ISOLATION_BINARY "' '" + copy + "' && chmod 755 '" + dir_ + "' '" + copy + "'";
    ASSERT_EQ(std::system(setup.c_str()), 0);
    const struct {
        int processes; // the user's limit: the runner, the fork server and the checks'
        int threads;
        const char* summary;
    } cases[] = {
        {3, 1, "test result: FAILED. 1 passed; 5 failed;"},
        {3, 4, "test result: FAILED. 1 passed; 5 failed;"},
        {4, 4, "test result: FAILED. 1 passed; 5 failed;"},
        {2, 2, "test result: FAILED. 0 passed; 6 failed;"}, // no room for any check's process
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("ulimit -u " + std::to_string(c.processes) + ", " + std::to_string(c.threads) +
                     " threads");
        ChildSpec child;
        child.args = {"--reuid=nobody",
                      "--regid=nogroup",
                      "--clear-groups",
                      "--",
                      "/bin/bash",
                      "-c",
                      "ulimit -u " + std::to_string(c.processes) + " && cd / && exec \"$0\" \"$@\"",
                      copy,
                      "--test-threads",
                      std::to_string(c.threads),
                      "pass::",
                      "fail::",
                      "crash::tests::abort",
                      "ending::"};
        child.env = isolated;
        const ChildResult result = test_support::run_child("/usr/bin/setpriv", child);
        ASSERT_FALSE(result.timed_out);
        EXPECT_NE(result.out.find(c.summary), std::string::npos) << result.out << result.err;
        const bool room = c.processes > 2;
        EXPECT_EQ(result.out.find("could not be started") == std::string::npos, room) << result.out;
    }
}

// The same checks give the same report, word for word but for times and thread numbers, in
// each form, whichever mode runs them.
TEST_F(Isolation, both_modes_report_alike) {
    const Env unstable = {{"SARNIVELLE_ALLOW_UNSTABLE", "1"}, {"SARNIVELLE_TEST_THREADS", "1"}};
    const std::vector<std::vector<std::string>> forms = {
        {},
        {"-q"},
        {"-Z", "unstable-options", "--format", "json"},
        {"-Z", "unstable-options", "--format", "junit"},
        {"--show-output"}};
    for (const auto& form : forms) {
        std::vector<std::string> args = form;
        args.insert(args.end(), {"fail::", "pass::"});
        SCOPED_TRACE(testing::PrintToString(args));
        const ChildResult threads = run(args, with(unstable, in_process));
        const ChildResult processes = run(args, with(unstable, isolated));
        EXPECT_EQ(threads.exit_status, 101);
        EXPECT_EQ(processes.exit_status, 101);
        EXPECT_EQ(mask_digits(processes.out), mask_digits(threads.out));
        EXPECT_EQ(processes.err, threads.err);
    }
}

// With a hard limit, a check that runs too long fails with the output it has so far, in each
// mode and with one or two checks at a time, and the run does not wait for it.
TEST_F(Isolation, a_check_past_its_limit_times_out) {
    for (const Env& mode : {isolated, in_process}) {
        for (const char* threads : {"1", "2"}) {
            SCOPED_TRACE(mode.front().second + std::string(" threads ") + threads);
            const auto start = clock::now();
            const ChildResult result =
                run({"--exact", "hang::tests::sleeps_past_deadline", "pass::tests::quick"},
                    with(mode, {{"SARNIVELLE_TEST_TIMEOUT", "0.5"},
                                {"SARNIVELLE_TEST_THREADS", threads},
                                {"SARNIVELLE_TEST_TRACE", file("trace.json")}}));
            EXPECT_LT(clock::now() - start, std::chrono::seconds(20));
            EXPECT_EQ(result.exit_status, 101) << result.out << result.err;
            EXPECT_NE(result.out.find("test hang::tests::sleeps_past_deadline ... FAILED\n"),
                      std::string::npos)
                << result.out;
            // A sanitizer's runtime may hold back the handler that writes a killed process's
            // output.
            if (!(SANITIZED && mode == isolated)) {
                EXPECT_NE(result.out.find("printed before sleeping\n"), std::string::npos);
            }
            EXPECT_NE(result.out.find("note: timed out after 0.5s\n"), std::string::npos);
            EXPECT_NE(result.out.find("1 passed; 1 failed;"), std::string::npos);
            EXPECT_NE(read_file(file("trace.json")).find("sleeps_past_deadline"),
                      std::string::npos);
        }
    }
}

// What a check's process starts ends with it.
TEST_F(Isolation, a_process_the_check_started_ends_with_it) {
    const ChildResult result = run({"--exact", "hang::tests::grandchild_sleeps"}, isolated);
    EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
    const pid_t grandchild = std::atoi(read_file(file("grandchild")).c_str());
    ASSERT_GT(grandchild, 0);
    // TearDown waits for it: it is this process's orphan now.
}

TEST_F(Isolation, a_process_writes_sixty_four_mib) {
    const ChildResult result =
        run({"--exact", "output::tests::sixty_four_mib", "--show-output"}, isolated);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_GT(result.out.size(), std::size_t{64} << 20);
    EXPECT_NE(result.out.find("test result: ok. 1 passed;"), std::string::npos);
}

// The variables: invalid values end the run before any check; --force-run-in-process runs
// checks in-process whatever the variable says (here the crash ends the whole runner).
TEST_F(Isolation, settings) {
    const struct {
        Env env;
        const char* error;
    } invalid[] = {
        {{{"SARNIVELLE_TEST_ISOLATE", "2"}}, "SARNIVELLE_TEST_ISOLATE is `2`, should be 0 or 1."},
        {{{"SARNIVELLE_TEST_TIMEOUT", "0"}}, "SARNIVELLE_TEST_TIMEOUT is `0`"},
        {{{"SARNIVELLE_TEST_TIMEOUT", "-1"}}, "SARNIVELLE_TEST_TIMEOUT is `-1`"},
        {{{"SARNIVELLE_TEST_TIMEOUT", "1.2345"}}, "SARNIVELLE_TEST_TIMEOUT is `1.2345`"},
        {{{"SARNIVELLE_TEST_TIMEOUT", "1."}}, "SARNIVELLE_TEST_TIMEOUT is `1.`"},
        {{{"SARNIVELLE_TEST_TIMEOUT", "99999999"}}, "SARNIVELLE_TEST_TIMEOUT is `99999999`"},
    };
    for (const auto& c : invalid) {
        SCOPED_TRACE(c.error);
        const ChildResult result = run({"pass::"}, c.env);
        EXPECT_EQ(result.exit_status, 101);
        EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
        EXPECT_EQ(result.out.find("test pass::tests::quick"), std::string::npos) << result.out;
    }
    const ChildResult forced =
        run({"--exact", "crash::tests::abort", "-Z", "unstable-options", "--force-run-in-process"},
            with(isolated, {{"SARNIVELLE_ALLOW_UNSTABLE", "1"}}));
    EXPECT_FALSE(forced.exited);
    EXPECT_EQ(forced.signal, SIGABRT);
}

// A run started in the background, its report in files, for signals sent while it runs.
class Background {
public:
    Background(const std::string& dir, std::vector<std::string> args, const Env& env) {
        std::vector<std::string> texts{ISOLATION_BINARY};
        texts.insert(texts.end(), args.begin(), args.end());
        std::vector<std::string> env_texts =
            test_support::child_environment(test_support::ChildSpec{{}, env});
        std::vector<char*> argv;
        std::vector<char*> envp;
        for (auto& text : texts) {
            argv.push_back(text.data());
        }
        for (auto& text : env_texts) {
            envp.push_back(text.data());
        }
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        out_ = dir + "/out.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        EXPECT_EQ(
            ::posix_spawn(&pid_, ISOLATION_BINARY, &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
    }

    // The wait status, or -1 when the run did not end within `limit`.
    int wait(std::chrono::seconds limit) {
        const auto end = clock::now() + limit;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (clock::now() > end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return status;
    }
    pid_t pid() const { return pid_; }
    std::string out() const { return read_file(out_); }

private:
    pid_t pid_ = -1;
    std::string out_;
};

bool wait_for_file(const std::string& path) {
    const auto end = clock::now() + std::chrono::seconds(20);
    while (!exists(path)) {
        if (clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// SIGINT or SIGTERM, sent once a check is known to run: the running check fails as interrupted,
// what passed stays reported, the JUnit file is written, the premature-exit file stays, and the
// status is 128 + the signal's number.
TEST_F(Isolation, an_interrupt_keeps_the_report) {
    for (const Env& mode : {isolated, in_process}) {
        for (const int signal : {SIGINT, SIGTERM}) {
            SCOPED_TRACE(mode.front().second + " " + std::to_string(signal));
            ::unlink(file("ready").c_str());
            Background run(dir_,
                           {"--test-threads", "1", "--exact", "pass::tests::quick",
                            "interrupt::tests::waits_for_signal", "output::"},
                           with(mode, {{"ISOLATION_DIR", dir_},
                                       {"XML_OUTPUT_FILE", file("junit.xml")},
                                       {"TEST_PREMATURE_EXIT_FILE", file("premature")}}));
            ASSERT_TRUE(wait_for_file(file("ready")));
            ::kill(run.pid(), signal);
            const int status = run.wait(std::chrono::seconds(20));
            ASSERT_TRUE(WIFEXITED(status)) << status;
            EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
            const std::string out = run.out();
            const std::string name = signal == SIGINT ? "SIGINT" : "SIGTERM";
            EXPECT_NE(out.find("test pass::tests::quick ... ok\n"), std::string::npos) << out;
            if (!(SANITIZED && mode == isolated)) {
                EXPECT_NE(out.find("printed before waiting\n"), std::string::npos) << out;
            }
            EXPECT_NE(out.find("note: interrupted by " + name + "\n"), std::string::npos) << out;
            EXPECT_NE(out.find("test result: FAILED. 1 passed; 1 failed;"), std::string::npos);
            EXPECT_EQ(out.find("sixty_four_mib"), std::string::npos);
            const std::string junit = read_file(file("junit.xml"));
            EXPECT_NE(junit.find("name=\"waits_for_signal\""), std::string::npos) << junit;
            EXPECT_TRUE(exists(file("premature")));
            ::unlink(file("premature").c_str());
            ::unlink(file("out.txt").c_str());
        }
    }
}

// A second SIGINT, while the runner waits for a check's process that outlasts the first, ends
// the runner at once; the check's process ends with it.
TEST_F(Isolation, a_second_interrupt_ends_the_runner_at_once) {
    Background run(dir_, {"--exact", "interrupt::tests::outlasts_signal"},
                   with(isolated, {{"ISOLATION_DIR", dir_}, {"ISOLATION_GRACE_MS", "60000"}}));
    ASSERT_TRUE(wait_for_file(file("ready")));
    ::kill(run.pid(), SIGINT);
    // The check's process hears of the first one only from the runner, after the runner has
    // taken it.
    ASSERT_TRUE(wait_for_file(file("signalled")));
    ::kill(run.pid(), SIGINT);
    const int status = run.wait(std::chrono::seconds(20));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
}

} // namespace
} // namespace isolation_tests
