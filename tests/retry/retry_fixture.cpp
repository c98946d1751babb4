// Checks for the runner's tests of retries and of checks that end the process: one that fails
// on its first attempt and passes on the next, one that always fails, and checks that call exit
// or quick_exit. The checks that count attempts keep the count in a file of their own in the
// folder that RETRY_FIXTURE_DIR names, so that a test starts each run from nothing.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "runner/check.hpp"
#include "runner/runner.hpp"

namespace {

std::string state_path(const char* file) {
    const char* const dir = std::getenv("RETRY_FIXTURE_DIR");
    if (dir == nullptr) {
        runner::panic("RETRY_FIXTURE_DIR is not set");
    }
    return std::string(dir) + "/" + file;
}

// Counts a start of the calling check in its file; returns the attempt, from 1.
int next_attempt(const char* file) {
    const std::string path = state_path(file);
    int count = 0;
    std::ifstream(path) >> count;
    std::ofstream(path, std::ios::trunc) << count + 1;
    return count + 1;
}

// Waits up to ten seconds for `file` to exist.
bool wait_for(const char* file) {
    const std::string path = state_path(file);
    for (int i = 0; i < 1000; ++i) {
        if (access(path.c_str(), F_OK) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

namespace retry::tests {

SARNIVELLE_CHECK(retry, flaky) {
    const int attempt = next_attempt("flaky");
    runner::print("flaky attempt " + std::to_string(attempt) + "\n");
    if (attempt == 1) {
        runner::panic("the first attempt fails");
    }
}

SARNIVELLE_CHECK(retry, always_fails) {
    const int attempt = next_attempt("always_fails");
    runner::print("always_fails attempt " + std::to_string(attempt) + "\n");
    SARNIVELLE_ASSERT(attempt < 0, "attempt {} fails too", attempt);
}

SARNIVELLE_CHECK(retry, passes) {}

} // namespace retry::tests

namespace ending::tests {

SARNIVELLE_CHECK(ending, calls_exit_zero) {
    runner::print("printed before exit\n");
    std::exit(0);
}

SARNIVELLE_CHECK(ending, calls_quick_exit_three) {
    runner::print("printed before quick_exit\n");
    std::quick_exit(3);
}

// Ends the process once its neighbour below is known to be running.
SARNIVELLE_CHECK(ending, exits_beside_a_neighbour) {
    SARNIVELLE_ASSERT(wait_for("neighbour_started"));
    std::exit(0);
}

SARNIVELLE_CHECK(ending, neighbour) {
    std::ofstream(state_path("neighbour_started")) << 1;
    std::this_thread::sleep_for(std::chrono::seconds(10));
}

} // namespace ending::tests

namespace {

constexpr const runner::StaticTestDescAndFn* registry[] = {
    &ending::tests::calls_exit_zero_check,
    &ending::tests::calls_quick_exit_three_check,
    &ending::tests::exits_beside_a_neighbour_check,
    &ending::tests::neighbour_check,
    &retry::tests::always_fails_check,
    &retry::tests::flaky_check,
    &retry::tests::passes_check,
};

void fixture_entry() {
    runner::test_main_static(registry);
}

} // namespace

int main(int argc, char** argv) {
    return runner::lang_start(argc, argv, &fixture_entry);
}
