// Files a run writes beside its report: the JUnit document for the build system running the
// executable, and the timeline of the run.
#pragma once

#include <cstddef>
#include <memory>

#include "format/formatter.hpp"
#include "runner/options.hpp"

namespace runner {

// Returns `report` itself when the settings ask for no file; otherwise a formatter that passes
// every event on to `report` and records the files, which are written when the run finishes,
// after the report. A file that cannot be written then throws IoError, once everything else
// has been written.
std::unique_ptr<OutputFormatter> with_run_outputs(std::unique_ptr<OutputFormatter> report,
                                                  const TestOpts& opts,
                                                  const FormatterSettings& settings);

} // namespace runner
