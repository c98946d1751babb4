// The placement-noise checks: their bodies, then the registered checks that run them over the
// module's own operations, then the module's list of them.
#include "sarnivelle_scenery_bake/checks/noise.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "runner/check.hpp"

namespace sarnivelle_scenery_bake::noise::tests {

namespace {

bool same_bits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

bool same_origin(const Origin& a, const Origin& b) {
    return same_bits(a.x, b.x) && same_bits(a.y, b.y) && same_bits(a.z, b.z);
}

bool same_noise(const ObjectNoise& a, const ObjectNoise& b) {
    return same_origin(a.origin, b.origin) && same_bits(a.rotation_degrees, b.rotation_degrees) &&
           same_bits(a.scale, b.scale);
}

std::string describe(const Origin& o) {
    return runner::format("({}, {}, {})", o.x, o.y, o.z);
}

std::string describe(const ObjectNoise& n) {
    return runner::format("origin {}, rotation {}, scale {}", describe(n.origin),
                          n.rotation_degrees, n.scale);
}

// Cells across the whole range of global coordinates, and objects, for the checks that must
// hold for every draw.
constexpr std::array<GlobalCell, 5> sample_cells = {GlobalCell{0, 0}, GlobalCell{1, 0},
                                                    GlobalCell{1000, 1000}, GlobalCell{1352, 1447},
                                                    GlobalCell{2047, 2047}};
constexpr std::array<std::uint32_t, 3> sample_objects = {0, 1, 11};

} // namespace

void displace_zero_returns_base_origin(const Operations& ops) {
    // Includes a -0 coordinate, which a displacement that adds a zero offset would turn to +0.
    constexpr std::array<Origin, 3> bases = {Origin{100.5f, 37.25f, 12.0f},
                                             Origin{-0.0f, 191.99998f, -3.5f},
                                             Origin{1e-30f, 0.1f, 65536.0f}};
    for (const GlobalCell cell : sample_cells) {
        for (const std::uint32_t object : sample_objects) {
            for (const Origin& base : bases) {
                for (const float zero : {0.0f, -0.0f}) {
                    const Origin moved = ops.displace(base, cell, object, zero);
                    SARNIVELLE_ASSERT(same_origin(moved, base),
                                      "cell ({}, {}) object {}: zero displacement moved {} to {}",
                                      cell.gx, cell.gy, object, describe(base), describe(moved));
                }
            }
        }
    }
}

void object_noise_is_deterministic(const Operations& ops) {
    const Origin base{100.5f, 37.25f, 12.0f};
    const NoiseLimits limits{12.0f, 360.0f, 0.8f, 1.25f};
    constexpr std::size_t count = sample_cells.size() * sample_objects.size();

    // Every draw of the sample, computed on the given operations.
    const auto draw_all = [&ops, &base, &limits] {
        std::array<ObjectNoise, count> draws{};
        std::size_t i = 0;
        for (const GlobalCell cell : sample_cells) {
            for (const std::uint32_t object : sample_objects) {
                draws[i++] = ops.object_noise(base, cell, object, limits);
            }
        }
        return draws;
    };
    const auto compare = [](const std::array<ObjectNoise, count>& first,
                            const std::array<ObjectNoise, count>& again, std::string_view where) {
        for (std::size_t i = 0; i < count; ++i) {
            SARNIVELLE_ASSERT(same_noise(first[i], again[i]), "{}: draw {} was {}, and is now {}",
                              where, i, describe(first[i]), describe(again[i]));
        }
    };

    const std::array<ObjectNoise, count> first = draw_all();
    compare(first, draw_all(), "second call");
    // Worker threads see the same draws; a failure on one fails this check when joined.
    std::array<runner::JoinHandle, 2> workers;
    for (runner::JoinHandle& worker : workers) {
        worker = runner::spawn(
            [&first, &draw_all, &compare] { compare(first, draw_all(), "other thread"); });
    }
    for (runner::JoinHandle& worker : workers) {
        worker.join();
    }
}

void prng_cell_mat_scene_thousand_thousand(const Operations& ops) {
    // The scene and material draws of cell (1000, 1000), by hand from the reference constants
    // (products reduced modulo 2^32 = 4294967296):
    //
    // Scene, seed 0: x = 1000, y = 1000.
    //   x*y*k_xy = 1000000 * 2610631461 = 2610631461000000 = 607835 * 2^32 + 14635840
    //   y*k_y    = 1000 * 3517375839    = 3517375839000    =    818 * 2^32 + 4092590872
    //   x*k_x    = 1000 * 3311027705    = 3311027705000    =    770 * 2^32 + 3902887080
    //   14635840 + 4092590872 - 3902887080 - 1449916887 = -1245577255
    //   hash = -1245577255 + 2^32 = 3049390041 = 0xB5C1FFD9
    //   draw = 0xB5C1FF / 2^24 = 11911679 / 16777216 = 0.70999139547..., as a float 0.7099914
    //
    // Material, seed 1: x = 1000 + 1111747923 = 1111748923, y = 1000 + 3473680111 = 3473681111.
    //   x*y      = 3861861233999693453  =  899159636 * 2^32 + 3496429197
    //   *k_xy    = 3496429197 * 2610631461 = 9127888062847166817 = 2125252052 * 2^32 + 3750275425
    //   y*k_y    = 3473681111 * 3517375839 = 12218242012222077129 = 2844781152 * 2^32 + 104872137
    //   x*k_x    = 1111748923 * 3311027705 = 3681031485056911715 = 857056929 * 2^32 + 4191717731
    //   3750275425 + 104872137 - 4191717731 - 1449916887 = -1786487056
    //   hash = -1786487056 + 2^32 = 2508480240 = 0x95845EF0
    //   draw = 0x95845E / 2^24 = 9798750 / 16777216 = 0.58405101299..., as a float 0.584051
    const GlobalCell cell{1000, 1000};
    const std::uint32_t scene_seed = draw_seed(Draw::Scene);
    const std::uint32_t material_seed = draw_seed(Draw::Material);

    SARNIVELLE_ASSERT_EQ(ops.cell_hash(cell, scene_seed), 3049390041U);
    SARNIVELLE_ASSERT_EQ(ops.cell_hash(cell, material_seed), 2508480240U);
    const float scene = ops.prng(cell, scene_seed);
    const float material = ops.prng(cell, material_seed);
    SARNIVELLE_ASSERT(same_bits(scene, 0.7099914f),
                      "scene draw of cell (1000, 1000) is {}, expected 0.7099914", scene);
    SARNIVELLE_ASSERT(same_bits(material, 0.584051f),
                      "material draw of cell (1000, 1000) is {}, expected 0.584051", material);
}

void prng_constants_match_oru(const Operations& ops) {
    // The reference constants, stated here independently of the header.
    constexpr std::uint32_t ref_k_xy = 0x9B9B1325U;
    constexpr std::uint32_t ref_k_y = 0xD1A6E55FU;
    constexpr std::uint32_t ref_k_x = 0xC55A45F9U;
    constexpr std::uint32_t ref_k_0 = 0x566BF9D7U;
    constexpr std::uint32_t ref_step_x = 0x4243ED53U;
    constexpr std::uint32_t ref_step_y = 0xCF0C26EFU;

    SARNIVELLE_ASSERT_EQ(hash_k_xy, ref_k_xy);
    SARNIVELLE_ASSERT_EQ(hash_k_y, ref_k_y);
    SARNIVELLE_ASSERT_EQ(hash_k_x, ref_k_x);
    SARNIVELLE_ASSERT_EQ(hash_k_0, ref_k_0);
    SARNIVELLE_ASSERT_EQ(seed_step_x, ref_step_x);
    SARNIVELLE_ASSERT_EQ(seed_step_y, ref_step_y);

    // The constants the hash actually uses, read back from it by finite differences at seed 0:
    // h(0, 0) = -k_0, h(1, 0) = -k_x - k_0, h(0, 1) = k_y - k_0, h(1, 1) = k_xy + k_y - k_x - k_0.
    const std::uint32_t h00 = ops.cell_hash({0, 0}, 0);
    const std::uint32_t h10 = ops.cell_hash({1, 0}, 0);
    const std::uint32_t h01 = ops.cell_hash({0, 1}, 0);
    const std::uint32_t h11 = ops.cell_hash({1, 1}, 0);
    const std::uint32_t used_k_0 = 0U - h00;
    const std::uint32_t used_k_x = h00 - h10;
    const std::uint32_t used_k_y = h01 - h00;
    const std::uint32_t used_k_xy = h11 - h10 - h01 + h00;
    SARNIVELLE_ASSERT(used_k_xy == ref_k_xy, "the hash uses k_xy = {}, the reference is {}",
                      used_k_xy, ref_k_xy);
    SARNIVELLE_ASSERT(used_k_y == ref_k_y, "the hash uses k_y = {}, the reference is {}", used_k_y,
                      ref_k_y);
    SARNIVELLE_ASSERT(used_k_x == ref_k_x, "the hash uses k_x = {}, the reference is {}", used_k_x,
                      ref_k_x);
    SARNIVELLE_ASSERT(used_k_0 == ref_k_0, "the hash uses k_0 = {}, the reference is {}", used_k_0,
                      ref_k_0);

    // At cell (0, 0) a seed s evaluates the polynomial at x = s * step_x, y = s * step_y.
    for (const std::uint32_t seed : {1U, 2U, 6U, 0xFFFFFFFFU}) {
        const std::uint32_t x = seed * ref_step_x;
        const std::uint32_t y = seed * ref_step_y;
        const std::uint32_t expected = x * y * ref_k_xy + y * ref_k_y - x * ref_k_x - ref_k_0;
        const std::uint32_t actual = ops.cell_hash({0, 0}, seed);
        SARNIVELLE_ASSERT(actual == expected,
                          "seed {} hashes cell (0, 0) to {}; the reference seed steps give {}",
                          seed, actual, expected);
    }
}

void rotate_obj_zero_max_returns_zero(const Operations& ops) {
    for (const GlobalCell cell : sample_cells) {
        for (const std::uint32_t object : sample_objects) {
            for (const float zero : {0.0f, -0.0f}) {
                const float rotation = ops.rotate(cell, object, zero);
                SARNIVELLE_ASSERT(same_bits(rotation, 0.0f),
                                  "cell ({}, {}) object {}: rotation with maximum {} is {}",
                                  cell.gx, cell.gy, object, zero, rotation);
            }
        }
    }
}

void scale_obj_min_equals_max(const Operations& ops) {
    constexpr std::array<float, 6> scales = {1.0f, 0.5f, 0.1f, 3.75f, 1e-20f, 1e20f};
    for (const GlobalCell cell : sample_cells) {
        for (const std::uint32_t object : sample_objects) {
            for (const float fixed : scales) {
                const float scale = ops.scale(cell, object, fixed, fixed);
                SARNIVELLE_ASSERT(same_bits(scale, fixed),
                                  "cell ({}, {}) object {}: scale between {} and {} is {}", cell.gx,
                                  cell.gy, object, fixed, fixed, scale);
            }
        }
    }
}

SARNIVELLE_CHECK(noise, prng_constants_match_oru) {
    prng_constants_match_oru(Operations{});
}

SARNIVELLE_CHECK(noise, prng_cell_mat_scene_thousand_thousand) {
    prng_cell_mat_scene_thousand_thousand(Operations{});
}

SARNIVELLE_CHECK(noise, object_noise_is_deterministic) {
    object_noise_is_deterministic(Operations{});
}

SARNIVELLE_CHECK(noise, displace_zero_returns_base_origin) {
    displace_zero_returns_base_origin(Operations{});
}

SARNIVELLE_CHECK(noise, rotate_obj_zero_max_returns_zero) {
    rotate_obj_zero_max_returns_zero(Operations{});
}

SARNIVELLE_CHECK(noise, scale_obj_min_equals_max) {
    scale_obj_min_equals_max(Operations{});
}

// The module's part of the registry, in ascending byte order of the names.
constexpr auto registered = std::to_array<const runner::StaticTestDescAndFn*>({
    &displace_zero_returns_base_origin_check,
    &object_noise_is_deterministic_check,
    &prng_cell_mat_scene_thousand_thousand_check,
    &prng_constants_match_oru_check,
    &rotate_obj_zero_max_returns_zero_check,
    &scale_obj_min_equals_max_check,
});

std::span<const runner::StaticTestDescAndFn* const> checks() {
    return registered;
}

} // namespace sarnivelle_scenery_bake::noise::tests
