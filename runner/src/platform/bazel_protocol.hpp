// The test protocol Bazel (and tools that copy it) speaks to a test executable through the
// environment: which shard of a split run this process is, where the JUnit report goes, and
// a file whose presence after the process ended marks a crash.
//
//   TEST_TOTAL_SHARDS, TEST_SHARD_INDEX  run only check k of the selection with k mod total
//                                        equal to the index;
//   TEST_SHARD_STATUS_FILE               touched, to say the executable shards;
//   XML_OUTPUT_FILE                      the JUnit report of the run is written there;
//   TEST_PREMATURE_EXIT_FILE             exists while the runner runs, removed at its end;
//   TEST_UNDECLARED_OUTPUTS_DIR          the run's timeline goes there as trace.json, unless
//                                        SARNIVELLE_TEST_TRACE names a file.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "runner/options.hpp"

namespace runner {

using ProtocolEnv = std::function<std::optional<std::string>(std::string_view)>;

// Holds the protocol for one run of the runner: begin() validates the variables, touches and
// creates its files and fills the settings; the destructor removes the premature-exit file,
// so every way out of the runner that unwinds counts as a normal end, and a crash does not.
class TestProtocolScope {
public:
    TestProtocolScope() = default;
    ~TestProtocolScope();
    TestProtocolScope(const TestProtocolScope&) = delete;
    TestProtocolScope& operator=(const TestProtocolScope&) = delete;

    // Returns the error text (without "error: ") when a value is invalid or a file cannot be
    // written; nothing has run yet then.
    std::optional<std::string> begin(const ProtocolEnv& env, TestOpts& opts);

    // The run did not finish (it was interrupted): the premature-exit file stays.
    void keep_premature_exit_file() { premature_exit_file_.reset(); }

private:
    std::optional<std::string> premature_exit_file_;
};

} // namespace runner
