// The executable's registry of checks.
#pragma once

#include <span>

#include "runner/test_desc.hpp"

namespace sarnivelle_scenery_bake {

// Every check of the executable, in ascending byte order of the full names.
std::span<const runner::StaticTestDescAndFn* const> registry();

} // namespace sarnivelle_scenery_bake
