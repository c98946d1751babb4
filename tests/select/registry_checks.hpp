// Descriptors made from the names of the executable's registry.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "registry.hpp"
#include "runner/test_desc.hpp"

namespace runner::testing {

// The names of the executable's registry, in registry order.
inline std::vector<std::string_view> registry_names() {
    std::vector<std::string_view> names;
    for (const auto* check : sarnivelle_scenery_bake::registry()) {
        names.push_back(check->desc.name);
    }
    return names;
}

inline TestDescAndFn check_named(std::string_view name) {
    TestDescAndFn check;
    check.desc.name = name;
    check.kind = TestFnKind::DynTestFn;
    check.test = [] { return CheckResult(); };
    return check;
}

inline std::vector<TestDescAndFn> registry_checks() {
    std::vector<TestDescAndFn> checks;
    for (const auto name : registry_names()) {
        checks.push_back(check_named(name));
    }
    return checks;
}

inline std::vector<std::string> names_of(const std::vector<TestDescAndFn>& checks) {
    std::vector<std::string> names;
    for (const auto& check : checks) {
        names.emplace_back(check.desc.name);
    }
    return names;
}

} // namespace runner::testing
