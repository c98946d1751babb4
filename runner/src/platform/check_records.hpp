// The records that every SARNIVELLE_CHECK leaves in the executable or shared library it is
// linked into (see runner/test_desc.hpp).
#pragma once

#include <vector>

#include "runner/test_desc.hpp"

namespace runner::platform {

// The descriptors recorded by every module loaded in the process, each once, in no particular
// order.
std::vector<const StaticTestDescAndFn*> loaded_check_records();

} // namespace runner::platform
