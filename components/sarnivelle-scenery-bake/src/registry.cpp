#include "registry.hpp"

#include <vector>

#include "sarnivelle_scenery_bake/checks/aabb.hpp"
#include "sarnivelle_scenery_bake/checks/height.hpp"
#include "sarnivelle_scenery_bake/checks/noise.hpp"

namespace sarnivelle_scenery_bake {

std::span<const runner::StaticTestDescAndFn* const> registry() {
    // Each module lists its own checks in order, and the modules follow one another in order,
    // so the whole stays in ascending byte order of the names. Built once, on the first call.
    static const std::vector<const runner::StaticTestDescAndFn*> checks = [] {
        std::vector<const runner::StaticTestDescAndFn*> all;
        for (const auto module :
             {aabb::tests::checks(), height::tests::checks(), noise::tests::checks()}) {
            all.insert(all.end(), module.begin(), module.end());
        }
        return all;
    }();
    return checks;
}

} // namespace sarnivelle_scenery_bake
