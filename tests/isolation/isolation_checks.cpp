// A registry for the tests of the process mode, time-outs and interrupts: checks that end their
// process in each way a check can, hang, leave a process behind, write a lot, and say when they
// are running. Files that tests read are named by ISOLATION_DIR.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "runner/check.hpp"
#include "runner/runner.hpp"

namespace {

std::string file_in_dir(const char* name) {
    const char* dir = std::getenv("ISOLATION_DIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/" + name;
}

void write_file(const char* name, const std::string& text) {
    std::ofstream(file_in_dir(name)) << text;
}

void sleep_long() {
    std::this_thread::sleep_for(std::chrono::seconds(60));
}

} // namespace

namespace crash::tests {

SARNIVELLE_CHECK(crash, abort) {
    runner::print("printed before abort\n");
    std::abort();
}

SARNIVELLE_CHECK(crash, null_write) {
    runner::print("printed before the fault\n");
    volatile int* volatile target = nullptr;
    *target = 1;
}

[[gnu::noinline]] std::size_t recurse(std::size_t depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    if (depth == SIZE_MAX) {
        return 0;
    }
    return recurse(depth + 1) + static_cast<std::size_t>(frame[0]);
}

SARNIVELLE_CHECK(crash, stack_overflow) {
    runner::print("printed before the overflow\n");
    SARNIVELLE_ASSERT(recurse(0) != 1);
}

} // namespace crash::tests

namespace ending::tests {

SARNIVELLE_CHECK(ending, exit_zero) {
    runner::print("printed before exit\n");
    std::exit(0);
}

SARNIVELLE_CHECK(ending, quick_exit_three) {
    runner::print("printed before quick_exit\n");
    std::quick_exit(3);
}

SARNIVELLE_CHECK(ending, underscore_exit_zero) {
    ::_exit(0);
}

} // namespace ending::tests

namespace fail::tests {

SARNIVELLE_CHECK(fail, panics) {
    runner::print("printed before the panic\n");
    runner::panic("a check that fails");
}

} // namespace fail::tests

namespace hang::tests {

// Starts a process that would sleep for good, writes its number to "grandchild", and passes.
SARNIVELLE_CHECK(hang, grandchild_sleeps) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (;;) {
            ::pause();
        }
    }
    SARNIVELLE_ASSERT(pid > 0);
    write_file("grandchild", std::to_string(pid));
}

SARNIVELLE_CHECK(hang, sleeps_past_deadline) {
    runner::print("printed before sleeping\n");
    sleep_long();
}

} // namespace hang::tests

namespace output::tests {

SARNIVELLE_CHECK(output, sixty_four_mib) {
    const std::string line(1023, 'x');
    for (int i = 0; i < 64 * 1024; ++i) {
        runner::print(line + "\n");
    }
}

} // namespace output::tests

namespace pass::tests {

SARNIVELLE_CHECK(pass, quick) {
    runner::print("a passing check's output\n");
}

} // namespace pass::tests

namespace interrupt::tests {

// Writes "ready" once it runs, then waits to be interrupted.
SARNIVELLE_CHECK(interrupt, waits_for_signal) {
    runner::print("printed before waiting\n");
    write_file("ready", "ready");
    sleep_long();
}

// Writes "ready" once it runs; takes SIGINT or SIGTERM as it comes, writes "signalled" and goes
// on waiting. No handler: the signal is waited for, so that anything may be done after it.
SARNIVELLE_CHECK(interrupt, outlasts_signal) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    write_file("ready", "ready");
    while (::sigwaitinfo(&signals, nullptr) < 0) {
    }
    write_file("signalled", "signalled");
    sleep_long();
}

} // namespace interrupt::tests

namespace {

constexpr std::array<const runner::StaticTestDescAndFn*, 13> registry = {
    &crash::tests::abort_check,
    &crash::tests::null_write_check,
    &crash::tests::stack_overflow_check,
    &ending::tests::exit_zero_check,
    &ending::tests::quick_exit_three_check,
    &ending::tests::underscore_exit_zero_check,
    &fail::tests::panics_check,
    &hang::tests::grandchild_sleeps_check,
    &hang::tests::sleeps_past_deadline_check,
    &output::tests::sixty_four_mib_check,
    &pass::tests::quick_check,
    &interrupt::tests::waits_for_signal_check,
    &interrupt::tests::outlasts_signal_check,
};

void entry() {
    // Short, so that tests do not wait for the real grace, unless a test asks for a long one.
    runner::RunnerConfig config;
    const char* grace = std::getenv("ISOLATION_GRACE_MS");
    config.termination_grace =
        std::chrono::milliseconds(grace != nullptr ? std::strtol(grace, nullptr, 10) : 300);
    runner::test_main_static(registry, config);
}

} // namespace

int main(int argc, char** argv) {
    return runner::lang_start(argc, argv, &entry);
}
