// The runner's entry points: from the process arguments to the exit status.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <sstream>

#include "check/thread_context.hpp"
#include "format/output_location.hpp"
#include "options/parse_opts.hpp"
#include "platform/bazel_protocol.hpp"
#include "platform/environment.hpp"
#include "platform/interrupts.hpp"
#include "process/fork_server.hpp"
#include "run/check_processes.hpp"
#include "run/crash.hpp"
#include "run/list.hpp"
#include "run/run_loop.hpp"
#include "runner/check.hpp"
#include "runner/runner.hpp"

namespace runner {
namespace {

constexpr int failure_status = 101;

std::vector<std::string>& argument_store() {
    static std::vector<std::string> args;
    return args;
}

void report_io_error(const IoError& error) {
    std::fprintf(stderr, "error: io error when listing tests: %s\n", error.debug().c_str());
    std::fflush(stderr);
}

struct MainOutcome {
    int status = 0;
    bool abandoned_threads = false;
};

MainOutcome run_main(const std::vector<std::string>& args, std::vector<TestDescAndFn> tests,
                     const RunnerConfig& config) {
    // A closed pipe on standard output must become a write error, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);

    StdoutLocation out(terminal_description_usable());
    std::ostringstream usage;
    ParseResult parsed = parse_opts(args, process_env, usage, std::cerr);
    if (std::holds_alternative<HelpShown>(parsed)) {
        try {
            out.write(usage.str());
            out.flush();
            return {};
        } catch (const IoError& error) {
            report_io_error(error);
            return {failure_status, false};
        }
    }
    if (const auto* error = std::get_if<OptError>(&parsed)) {
        std::fprintf(stderr, "error: %s\n", error->message.c_str());
        return {failure_status, false};
    }
    TestOpts opts = std::get<TestOpts>(std::move(parsed));
    // The test protocol of a build system running the executable: shards, the JUnit file and
    // the crash marker, which is removed on every way out of here.
    TestProtocolScope protocol;
    if (const auto error = protocol.begin(process_env, opts)) {
        std::fprintf(stderr, "error: %s\n", error->c_str());
        return {failure_status, false};
    }

    if (opts.list) {
        try {
            list_tests_console(opts, std::move(tests), out);
            return {};
        } catch (const IoError& error) {
            report_io_error(error);
            return {failure_status, false};
        }
    }

    // The process mode and the hard limit of a check, read before anything starts: the fork
    // server must be made while this process has its only thread.
    opts.run_in_processes =
        platform::env_zero_or_one(platform::env_variable("SARNIVELLE_TEST_ISOLATE"))
            .value_or(false) &&
        !opts.force_run_in_process;
    opts.check_timeout = platform::env_seconds(platform::env_variable("SARNIVELLE_TEST_TIMEOUT"));
    std::unique_ptr<process::ForkServer> server;
    if (opts.run_in_processes) {
        server = process::ForkServer::start(
            [&](const process::ChildRequest& request) { run_check_process(tests, opts, request); });
    }
    platform::InterruptWatch interrupts;

    // Routes the standard streams while checks run; a failure on the main thread (an invalid
    // environment value) leaves through here too.
    struct CaptureScope {
        bool active = false;
        bool keep = false; // checks still run and still write through the routing
        ~CaptureScope() {
            if (active && !keep) {
                detail::remove_stream_capture();
            }
        }
    } capture;
    if (!opts.nocapture) {
        detail::install_stream_capture();
        capture.active = true;
    }
    install_crash_handlers();
    try {
        const RunSummary summary = run_tests_console(opts, std::move(tests), config, out,
                                                     RunEnvironment{&interrupts, server.get()});
        capture.keep = summary.abandoned_threads;
        if (summary.interrupt != 0) {
            protocol.keep_premature_exit_file();
            return {128 + summary.interrupt, summary.abandoned_threads};
        }
        return {summary.success ? 0 : failure_status, summary.abandoned_threads};
    } catch (const IoError& error) {
        report_io_error(error);
        capture.keep = true;
        return {failure_status, true};
    }
}

} // namespace

const std::vector<std::string>& process_args() {
    return argument_store();
}

int lang_start(int argc, char** argv, void (*entry)()) {
    auto& args = argument_store();
    args.assign(argv, argv + argc);
    detail::enter_thread("main", nullptr);
    try {
        entry();
    } catch (const Panic&) {
        // The report was written where the main thread writes: standard error.
        std::fflush(stdout);
        return failure_status;
    }
    return 0;
}

void test_main(const std::vector<std::string>& args, std::vector<TestDescAndFn> tests,
               const RunnerConfig& config) {
    MainOutcome outcome;
    try {
        outcome = run_main(args, std::move(tests), config);
    } catch (const std::exception& error) {
        // The runner itself failed on the main thread (memory ran out): nothing more can be
        // reported, and checks may still run.
        std::fflush(stdout);
        std::fprintf(stderr, "error: the check runner failed: %s\n", error.what());
        std::fflush(stderr);
        std::_Exit(failure_status);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    if (outcome.abandoned_threads) {
        // Checks still run on other threads: end without destructors they might still use.
        std::_Exit(outcome.status);
    }
    if (outcome.status != 0) {
        std::exit(outcome.status);
    }
}

void test_main_static(std::span<const StaticTestDescAndFn* const> tests,
                      const RunnerConfig& config) {
    std::vector<TestDescAndFn> owned;
    owned.reserve(tests.size());
    for (const StaticTestDescAndFn* test : tests) {
        TestDescAndFn entry;
        entry.desc = test->desc;
        entry.kind = test->kind;
        switch (test->kind) {
        case TestFnKind::StaticTestFn: {
            const StaticCheckFn fn = test->test;
            entry.test = [fn]() -> CheckResult {
                fn();
                return std::nullopt;
            };
            break;
        }
        case TestFnKind::StaticBenchFn:
            entry.bench = test->bench;
            break;
        case TestFnKind::DynTestFn:
        case TestFnKind::DynBenchFn:
            panic("non-static tests passed to test::test_main_static");
        }
        owned.push_back(std::move(entry));
    }
    test_main(process_args(), std::move(owned), config);
}

} // namespace runner
