// The runner as the component's entry sees it.
#pragma once

#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "runner/test_desc.hpp"

namespace runner {

// Settings of the runner that are not the user's to change.
struct RunnerConfig {
    // A check still running this long after it started gets one overdue notice.
    std::chrono::milliseconds check_deadline{std::chrono::seconds(60)};
    // How long a check's process, or the runner's own, may take to end after being asked to
    // (a time-out or an interrupt) before it is killed.
    std::chrono::milliseconds termination_grace{std::chrono::seconds(5)};
};

// The process entry: keeps the arguments for the runner, calls `entry` on the main thread and
// returns the process exit status. A failure on the main thread (an invalid environment value,
// for example) is reported on standard error and gives status 101.
int lang_start(int argc, char** argv, void (*entry)());

// The arguments kept by lang_start; argument 0 is the program path.
const std::vector<std::string>& process_args();

// Runs the registry with the process arguments and ends the process with its status. A
// descriptor whose function is not a plain static function is refused. Call it from the entry
// function that lang_start runs: without the process arguments it ends at once with an error
// and status 101.
//
// Before a run and before --list, two guards end the process with an error and status 101
// before any check starts: a SARNIVELLE_CHECK linked into the program that the registry does
// not hold ("error: check {name} ({file}:{line}) is defined but not in the registry"), and a
// name that the registry lists twice ("error: check {name} is listed twice in the registry").
void test_main_static(std::span<const StaticTestDescAndFn* const> tests,
                      const RunnerConfig& config = {});

// Every SARNIVELLE_CHECK linked into the program (its executable and the shared libraries it
// has loaded), each once, in ascending byte order of their names. Found on the first call.
std::span<const StaticTestDescAndFn* const> all_defined_checks();

// A whole `main`: runs every defined check with the process arguments, as
// `lang_start(argc, argv, entry)` with an entry that calls
// `test_main_static(all_defined_checks())`; returns the process exit status.
int main_with_all_checks(int argc, char** argv);

// Runs owned checks with the given arguments and ends the process with its status.
void test_main(const std::vector<std::string>& args, std::vector<TestDescAndFn> tests,
               const RunnerConfig& config = {});

} // namespace runner

// Defines `main` as runner::main_with_all_checks: every SARNIVELLE_CHECK of the program runs,
// in ascending byte order of the names.
#define SARNIVELLE_MAIN()                                                                          \
    int main(int argc, char** argv) {                                                              \
        return ::runner::main_with_all_checks(argc, argv);                                         \
    }
