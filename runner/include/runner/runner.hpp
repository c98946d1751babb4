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
// descriptor whose function is not a plain static function is refused.
void test_main_static(std::span<const StaticTestDescAndFn* const> tests,
                      const RunnerConfig& config = {});

// Runs owned checks with the given arguments and ends the process with its status.
void test_main(const std::vector<std::string>& args, std::vector<TestDescAndFn> tests,
               const RunnerConfig& config = {});

} // namespace runner
