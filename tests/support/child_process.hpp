// Running an executable as a child process with chosen arguments, environment and standard
// output, and collecting what it wrote and how it ended.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

// Where the child's standard output goes.
enum class StdoutTarget {
    Pipe,       // collected into ChildResult::out
    DevFull,    // every write fails: no space left on the device
    Closed,     // descriptor 1 is not open at all
    BrokenPipe, // a pipe whose reading end is already closed
};

struct ChildSpec {
    std::vector<std::string> args; // after the program path
    // Added to the parent's environment, from which every SARNIVELLE_ variable and the
    // variables of a build system's test protocol (TEST_TOTAL_SHARDS, XML_OUTPUT_FILE, ...)
    // are removed first.
    std::vector<std::pair<std::string, std::string>> env;
    StdoutTarget stdout_target = StdoutTarget::Pipe;
    std::chrono::seconds time_limit{60}; // the child is killed after this long
};

struct ChildResult {
    std::string out;
    std::string err;
    bool exited = false;  // ended by exit(); otherwise by a signal
    int exit_status = -1; // when exited
    int signal = 0;       // when not exited
    bool timed_out = false;
};

// The environment a child gets: the parent's, less every SARNIVELLE_ variable and the test
// protocol's variables, with `child.env` added.
std::vector<std::string> child_environment(const ChildSpec& child);

// Runs `program` and waits for it. SIGPIPE has its default action in the child whatever the
// parent does with it.
ChildResult run_child(const std::string& program, const ChildSpec& child);

} // namespace test_support
