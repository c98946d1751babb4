// Starting one check and turning how it ended into an outcome.
#pragma once

#include <optional>

#include "run/test_result.hpp"
#include "runner/check.hpp"
#include "runner/options.hpp"

namespace runner {

// The outcome of a check from how it ended: `panic` is empty for a normal return. Applies the
// expected-panic rules, then, for a pass, the --ensure-time limit.
TestResult calc_result(const TestDesc& desc, const std::optional<PanicPayload>& panic,
                       const std::optional<TestTimeOptions>& time_opts,
                       const std::optional<TestExecTime>& exec_time);

// The outcome once the check's thread has been joined: a thread that ended by a panic after
// it had reported a pass turns the pass into a failure.
TestResult result_after_join(TestResult reported, bool thread_panicked);

} // namespace runner
