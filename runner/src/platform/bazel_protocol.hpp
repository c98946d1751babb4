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

#include "platform/platform.hpp"
#include "runner/options.hpp"

namespace runner {

using ProtocolEnv = std::function<std::optional<std::string>(std::string_view)>;

// Holds the protocol for one run of the runner: begin() validates the variables, touches and
// creates its files and fills the settings; end() removes the premature-exit file. The
// destructor removes it too, so every way out of the runner that unwinds counts as a normal end,
// and a crash does not.
class TestProtocolScope {
public:
    TestProtocolScope() = default;
    ~TestProtocolScope();
    TestProtocolScope(const TestProtocolScope&) = delete;
    TestProtocolScope& operator=(const TestProtocolScope&) = delete;

    // Returns the error text (without "error: ") when a value is invalid, two outputs name the
    // same file or a file cannot be written; nothing has run yet then. A premature-exit file
    // that already stands is left alone, with a warning on standard error.
    std::optional<std::string> begin(const ProtocolEnv& env, TestOpts& opts);

    // Removes the premature-exit file if it is still the one begin() created. False, with
    // "error: ..." written to standard error, when that fails: the run must then fail, as the
    // build system would see a premature exit.
    bool end();

    // The run did not finish (it was interrupted): the premature-exit file stays.
    void keep_premature_exit_file();

private:
    std::optional<std::string> premature_exit_file_;
    platform::FileId premature_exit_id_;
};

} // namespace runner
