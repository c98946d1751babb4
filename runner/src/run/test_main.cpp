// The runner's entry points: from the process arguments to the exit status.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <sstream>

#include "check/thread_context.hpp"
#include "format/output_location.hpp"
#include "options/parse_opts.hpp"
#include "platform/bazel_protocol.hpp"
#include "platform/check_records.hpp"
#include "platform/environment.hpp"
#include "platform/interrupts.hpp"
#include "process/fork_server.hpp"
#include "run/check_processes.hpp"
#include "run/console_run.hpp"
#include "run/crash.hpp"
#include "run/exit_guard.hpp"
#include "run/list.hpp"
#include "run/registry_guard.hpp"
#include "runner/check.hpp"
#include "runner/runner.hpp"

namespace runner {
namespace {

constexpr int failure_status = 101;

std::vector<std::string>& argument_store() {
    static std::vector<std::string> args;
    return args;
}

// Whether lang_start has kept the process arguments (there may be none at all).
bool arguments_kept = false;

void report_io_error(const IoError& error) {
    std::fprintf(stderr, "error: io error when listing tests: %s\n", error.debug().c_str());
    std::fflush(stderr);
}

struct MainOutcome {
    int status = 0;
    bool abandoned_threads = false;
};

// `registry_error`: what the registry guards found, reported only when checks are run or
// listed.
MainOutcome run_main(const std::vector<std::string>& args, std::vector<TestDescAndFn> tests,
                     const RunnerConfig& config, TestProtocolScope& protocol,
                     const std::optional<std::string>& registry_error) {
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
    if (registry_error) {
        std::fprintf(stderr, "error: %s\n", registry_error->c_str());
        return {failure_status, false};
    }
    // The test protocol of a build system running the executable: shards, the JUnit file and
    // the crash marker, which the caller removes on every way out of here.
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
    std::optional<CheckProcessMain> child_main;
    if (opts.run_in_processes) {
        child_main.emplace(tests, opts);
        server = process::ForkServer::start(
            [&](const process::ChildRequest& request) { (*child_main)(request); });
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
    // A check that calls exit or quick_exit ends the run as a failure.
    ExitGuardScope exit_guard;
    try {
        const RunSummary summary = run_tests_console(opts, std::move(tests), config, out,
                                                     RunEnvironment{&interrupts, server.get()});
        capture.keep = summary.abandoned_threads;
        exit_guard.keep = summary.abandoned_threads;
        if (summary.interrupt != 0) {
            protocol.keep_premature_exit_file();
            return {128 + summary.interrupt, summary.abandoned_threads};
        }
        return {summary.success ? 0 : failure_status, summary.abandoned_threads};
    } catch (const IoError& error) {
        report_io_error(error);
        capture.keep = true;
        exit_guard.keep = true;
        return {failure_status, true};
    }
}

// Runs or lists the checks, removes the crash marker, and ends the process unless the run passed.
void main_of(const std::vector<std::string>& args, std::vector<TestDescAndFn> tests,
             const RunnerConfig& config, const std::optional<std::string>& registry_error) {
    MainOutcome outcome;
    // Its destructor removes the crash marker when a panic leaves through here.
    TestProtocolScope protocol;
    try {
        outcome = run_main(args, std::move(tests), config, protocol, registry_error);
    } catch (const std::exception& error) {
        // The runner itself failed on the main thread (memory ran out): nothing more can be
        // reported, and checks may still run.
        std::fflush(stdout);
        std::fprintf(stderr, "error: the check runner failed: %s\n", error.what());
        std::fflush(stderr);
        protocol.end();
        std::_Exit(failure_status);
    }
    // A crash marker that cannot be removed would make a passing run look like a crash.
    if (!protocol.end()) {
        outcome.status = failure_status;
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

void all_checks_entry() {
    test_main_static(all_defined_checks());
}

} // namespace

const std::vector<std::string>& process_args() {
    return argument_store();
}

int lang_start(int argc, char** argv, void (*entry)()) {
    auto& args = argument_store();
    if (argv != nullptr && argc > 0) {
        args.assign(argv, argv + argc);
    }
    arguments_kept = true;
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
    main_of(args, std::move(tests), config, std::nullopt);
}

void test_main_static(std::span<const StaticTestDescAndFn* const> tests,
                      const RunnerConfig& config) {
    if (!arguments_kept) {
        std::fflush(stdout);
        std::fprintf(stderr,
                     "error: runner::test_main_static was called without the process arguments: "
                     "main must return runner::lang_start(argc, argv, entry), and the entry "
                     "function call runner::test_main_static\n");
        std::fflush(stderr);
        std::exit(failure_status);
    }
    // Checked before anything else, reported once the command line asks for a run or a list.
    std::optional<std::string> registry_error;
    try {
        const std::vector<const StaticTestDescAndFn*> defined = platform::loaded_check_records();
        registry_error = registry_problem(tests, defined);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "error: the check runner failed: out of memory\n");
        std::exit(failure_status);
    }
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
    main_of(process_args(), std::move(owned), config, registry_error);
}

std::span<const StaticTestDescAndFn* const> all_defined_checks() {
    static const std::vector<const StaticTestDescAndFn*> checks =
        sorted_by_name(platform::loaded_check_records());
    return checks;
}

int main_with_all_checks(int argc, char** argv) {
    return lang_start(argc, argv, &all_checks_entry);
}

} // namespace runner
