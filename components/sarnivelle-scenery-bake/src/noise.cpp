#include "sarnivelle_scenery_bake/noise.hpp"

#include <cmath>
#include <cstdint>

namespace sarnivelle_scenery_bake::noise {

std::uint32_t cell_hash(GlobalCell cell, std::uint32_t seed) {
    // Unsigned arithmetic: every product and sum wraps modulo 2^32, which is the intent.
    const std::uint32_t x = cell.gx + seed * seed_step_x;
    const std::uint32_t y = cell.gy + seed * seed_step_y;
    return x * y * hash_k_xy + y * hash_k_y - x * hash_k_x - hash_k_0;
}

float prng(GlobalCell cell, std::uint32_t seed) {
    // 24 bits fit a float's significand, so both the conversion and the division are exact.
    const std::uint32_t top_bits = cell_hash(cell, seed) >> 8U;
    return static_cast<float>(top_bits) / 16777216.0f;
}

Origin displace_obj(const Origin& base, GlobalCell cell, std::uint32_t object,
                    float max_displacement) {
    // Adding a zero offset would still turn a base coordinate of -0 into +0.
    if (!(max_displacement > 0.0f)) {
        return base;
    }
    // 2u - 1 is exact for u a multiple of 2^-24 in [0, 1), and lies in [-1, 1).
    const float ux = prng(cell, draw_seed(Draw::DisplaceX, object));
    const float uy = prng(cell, draw_seed(Draw::DisplaceY, object));
    const float dx = (2.0f * ux - 1.0f) * max_displacement;
    const float dy = (2.0f * uy - 1.0f) * max_displacement;
    return {base.x + dx, base.y + dy, base.z};
}

float rotate_obj(GlobalCell cell, std::uint32_t object, float max_rotation_degrees) {
    if (!(max_rotation_degrees > 0.0f)) {
        return 0.0f;
    }
    return prng(cell, draw_seed(Draw::Rotation, object)) * max_rotation_degrees;
}

float scale_obj(GlobalCell cell, std::uint32_t object, float min_scale, float max_scale) {
    if (!(min_scale < max_scale)) {
        return min_scale;
    }
    // A blend rather than min + u * (max - min): the difference can overflow for large limits.
    // Rounding, or an infinite limit, could still step outside the range, so the result is
    // brought back into it; fmax and fmin also replace a NaN blend by the minimum.
    const float u = prng(cell, draw_seed(Draw::Scale, object));
    const float blend = (1.0f - u) * min_scale + u * max_scale;
    return std::fmin(std::fmax(blend, min_scale), max_scale);
}

ObjectNoise object_noise(const Origin& base, GlobalCell cell, std::uint32_t object,
                         const NoiseLimits& limits) {
    return {displace_obj(base, cell, object, limits.max_displacement),
            rotate_obj(cell, object, limits.max_rotation_degrees),
            scale_obj(cell, object, limits.min_scale, limits.max_scale)};
}

} // namespace sarnivelle_scenery_bake::noise
