// The guards at the start of a run and of --list: every check defined in the program is in the
// registry, and none is listed twice.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "runner/test_desc.hpp"

namespace runner {

// The first problem of `registry` as the text of an error, or nothing:
//  - a check of `defined` that the registry does not hold (the first in ascending byte order of
//    names): "check {name} ({file}:{line}) is defined but not in the registry";
//  - else a name the registry lists a second time (the first such entry in registry order):
//    "check {name} is listed twice in the registry".
// A registry entry holds a defined check when it is the same descriptor.
std::optional<std::string> registry_problem(std::span<const StaticTestDescAndFn* const> registry,
                                            std::span<const StaticTestDescAndFn* const> defined);

// The checks of `defined`, each once, in ascending byte order of their names (by their
// positions for equal names).
std::vector<const StaticTestDescAndFn*>
sorted_by_name(std::vector<const StaticTestDescAndFn*> defined);

} // namespace runner
