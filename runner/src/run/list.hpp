// List mode: the selected checks are written, nothing runs.
#pragma once

#include <vector>

#include "format/output_location.hpp"
#include "runner/options.hpp"
#include "runner/test_desc.hpp"

namespace runner {

// Writes the list in the chosen form; throws IoError.
void list_tests_console(const TestOpts& opts, std::vector<TestDescAndFn> tests,
                        OutputLocation& out);

} // namespace runner
