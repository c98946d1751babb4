// The checks of the placement-noise module, under the convention of the bounding-box checks
// (`sarnivelle_scenery_bake/checks/aabb.hpp`).
#pragma once

#include <cstdint>
#include <span>

#include "runner/test_desc.hpp"
#include "sarnivelle_scenery_bake/noise.hpp"

namespace sarnivelle_scenery_bake::noise::tests {

// The operations the checks exercise; the defaults are the module's own.
struct Operations {
    std::uint32_t (*cell_hash)(GlobalCell, std::uint32_t) = &noise::cell_hash;
    float (*prng)(GlobalCell, std::uint32_t) = &noise::prng;
    Origin (*displace)(const Origin&, GlobalCell, std::uint32_t, float) = &displace_obj;
    float (*rotate)(GlobalCell, std::uint32_t, float) = &rotate_obj;
    float (*scale)(GlobalCell, std::uint32_t, float, float) = &scale_obj;
    ObjectNoise (*object_noise)(const Origin&, GlobalCell, std::uint32_t,
                                const NoiseLimits&) = &noise::object_noise;
};

void displace_zero_returns_base_origin(const Operations& ops);
void object_noise_is_deterministic(const Operations& ops);
void prng_cell_mat_scene_thousand_thousand(const Operations& ops);
void prng_constants_match_oru(const Operations& ops);
void rotate_obj_zero_max_returns_zero(const Operations& ops);
void scale_obj_min_equals_max(const Operations& ops);

// The registered checks of this module, in ascending byte order of their names.
std::span<const runner::StaticTestDescAndFn* const> checks();

} // namespace sarnivelle_scenery_bake::noise::tests
