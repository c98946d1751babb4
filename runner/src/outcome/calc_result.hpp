// Turning how a check ended into its outcome.
#pragma once

#include <optional>

#include "outcome/test_result.hpp"
#include "runner/check.hpp"
#include "runner/options.hpp"

namespace runner {

// The outcome of a check from how it ended: `panic` is empty for a normal return. Applies the
// expected-panic rules, then, for a pass, the --ensure-time limit. A failure keeps its panic
// message as the report shows it.
TestResult calc_result(const TestDesc& desc, const std::optional<PanicPayload>& panic,
                       const std::optional<TestTimeOptions>& time_opts,
                       const std::optional<TestExecTime>& exec_time);

} // namespace runner
