#include "run/registry_guard.hpp"

#include <algorithm>
#include <functional>
#include <string_view>
#include <tuple>

#include "runner/check.hpp"

namespace runner {
namespace {

bool by_name(const StaticTestDescAndFn* a, const StaticTestDescAndFn* b) {
    return std::tie(a->desc.name, a->desc.source_file, a->desc.start_line, a->desc.start_col) <
           std::tie(b->desc.name, b->desc.source_file, b->desc.start_line, b->desc.start_col);
}

} // namespace

std::vector<const StaticTestDescAndFn*>
sorted_by_name(std::vector<const StaticTestDescAndFn*> defined) {
    std::sort(defined.begin(), defined.end(), std::less<>());
    defined.erase(std::unique(defined.begin(), defined.end()), defined.end());
    std::stable_sort(defined.begin(), defined.end(), by_name);
    return defined;
}

std::optional<std::string> registry_problem(std::span<const StaticTestDescAndFn* const> registry,
                                            std::span<const StaticTestDescAndFn* const> defined) {
    std::vector<const StaticTestDescAndFn*> listed(registry.begin(), registry.end());
    std::sort(listed.begin(), listed.end(), std::less<>());
    const StaticTestDescAndFn* missing = nullptr;
    for (const StaticTestDescAndFn* check : defined) {
        if (!std::binary_search(listed.begin(), listed.end(), check, std::less<>()) &&
            (missing == nullptr || by_name(check, missing))) {
            missing = check;
        }
    }
    if (missing != nullptr) {
        return format("check {} ({}:{}) is defined but not in the registry", missing->desc.name,
                      missing->desc.source_file, missing->desc.start_line);
    }

    // Registry positions sorted by name; equal names then stand side by side, the earliest
    // position first.
    std::vector<std::size_t> order(registry.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        order[k] = k;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return registry[a]->desc.name < registry[b]->desc.name;
    });
    std::size_t twice = registry.size();
    for (std::size_t k = 1; k < order.size(); ++k) {
        if (registry[order[k]]->desc.name == registry[order[k - 1]]->desc.name) {
            twice = std::min(twice, order[k]);
        }
    }
    if (twice < registry.size()) {
        return format("check {} is listed twice in the registry", registry[twice]->desc.name);
    }
    return std::nullopt;
}

} // namespace runner
