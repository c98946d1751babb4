#include "sarnivelle_scenery_bake/noise.hpp"

#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "check_failure.hpp"
#include "sarnivelle_scenery_bake/checks/noise.hpp"

namespace sarnivelle_scenery_bake::noise {
namespace {

using tests::Operations;

constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float inf = std::numeric_limits<float>::infinity();

std::uint32_t bits(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

// ---- faulty operations ----------------------------------------------------------------------

// As if hash_k_x were 2 larger, at seed 0.
std::uint32_t hash_wrong_k_x(GlobalCell cell, std::uint32_t seed) {
    return cell_hash(cell, seed) - cell.gx * 2U;
}
std::uint32_t hash_unseeded(GlobalCell cell, std::uint32_t) {
    return cell_hash(cell, 0);
}
float prng_low_bits(GlobalCell cell, std::uint32_t seed) {
    return static_cast<float>(cell_hash(cell, seed) & 0xFFFFFFU) / 16777216.0f;
}
// Adding even a zero offset turns a base coordinate of -0 into +0.
Origin displace_adding(const Origin& base, GlobalCell cell, std::uint32_t object, float max) {
    const float d = (2.0f * prng(cell, draw_seed(Draw::DisplaceX, object)) - 1.0f) * max;
    return Origin{base.x + d, base.y + d, base.z};
}
Origin displace_unbounded(const Origin& base, GlobalCell cell, std::uint32_t object, float) {
    return displace_obj(base, cell, object, 1.0f);
}
float rotate_full_turn(GlobalCell cell, std::uint32_t object, float) {
    return rotate_obj(cell, object, 360.0f);
}
// A draw times a maximum of -0 is -0.
float rotate_product(GlobalCell cell, std::uint32_t object, float max) {
    return prng(cell, draw_seed(Draw::Rotation, object)) * max;
}
float scale_free(GlobalCell cell, std::uint32_t object, float, float) {
    return 0.5f + prng(cell, draw_seed(Draw::Scale, object));
}
ObjectNoise noise_stateful(const Origin& base, GlobalCell cell, std::uint32_t object,
                           const NoiseLimits& limits) {
    static std::atomic<std::uint32_t> calls{0};
    return object_noise(base, cell, object + calls++, limits);
}
ObjectNoise noise_per_thread(const Origin& base, GlobalCell cell, std::uint32_t object,
                             const NoiseLimits& limits) {
    static const std::thread::id first_thread = std::this_thread::get_id();
    ObjectNoise noise = object_noise(base, cell, object, limits);
    if (std::this_thread::get_id() != first_thread) {
        noise.scale = std::nextafter(noise.scale, 2.0f);
    }
    return noise;
}

TEST(NoiseChecks, EachCheckFailsOnAFaultyOperation) {
    using namespace tests;
    const testing::Fault<Operations> faults[] = {
        {prng_constants_match_oru,
         {.cell_hash = hash_wrong_k_x},
         "the hash uses k_x = 3311027707, the reference is 3311027705"},
        {prng_cell_mat_scene_thousand_thousand, {.cell_hash = hash_wrong_k_x}, "right: 3049390041"},
        {prng_constants_match_oru, {.cell_hash = hash_unseeded}, "reference seed steps"},
        {prng_cell_mat_scene_thousand_thousand, {.cell_hash = hash_unseeded}, "right: 2508480240"},
        {prng_cell_mat_scene_thousand_thousand, {.prng = prng_low_bits}, "expected 0.7099914"},
        {displace_zero_returns_base_origin,
         {.displace = displace_adding},
         "zero displacement moved (-0, "},
        {displace_zero_returns_base_origin,
         {.displace = displace_unbounded},
         "zero displacement moved (100.5, 37.25, 12) to"},
        {rotate_obj_zero_max_returns_zero,
         {.rotate = rotate_full_turn},
         "rotation with maximum 0 is"},
        {rotate_obj_zero_max_returns_zero,
         {.rotate = rotate_product},
         "rotation with maximum -0 is -0"},
        {scale_obj_min_equals_max, {.scale = scale_free}, "scale between 1 and 1 is"},
        {object_noise_is_deterministic, {.object_noise = noise_stateful}, "second call: draw 0"},
        {object_noise_is_deterministic, {.object_noise = noise_per_thread}, "other thread: draw 0"},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.message);
        testing::expect_failure(fault);
    }
}

// ---- the module -----------------------------------------------------------------------------

TEST(GlobalCell, FollowsTheLandblockKey) {
    const GlobalCell cell = global_cell(0xA9B4, 3, 5);
    EXPECT_EQ(cell.gx, 8U * 0xA9U + 3U);
    EXPECT_EQ(cell.gy, 8U * 0xB4U + 5U);
    const GlobalCell far = global_cell(0xFFFF, 7, 7);
    EXPECT_EQ(far.gx, 2047U);
    EXPECT_EQ(far.gy, 2047U);
}

TEST(Prng, IsAWholeMultipleOfTwoToTheMinus24InTheUnitInterval) {
    for (const std::uint32_t g : {0U, 1U, 2047U, 0x7FFFFFFFU, 0xFFFFFFFFU}) {
        for (const std::uint32_t seed : {0U, 1U, 6U, 0xFFFFFFFFU}) {
            const float u = prng({g, 0xFFFFFFFFU - g}, seed);
            EXPECT_TRUE(u >= 0.0f && u < 1.0f) << u;
            EXPECT_EQ(bits(u * 16777216.0f), bits(std::floor(u * 16777216.0f))) << u;
        }
    }
}

TEST(ObjectNoise, StaysWithinItsLimits) {
    const Origin base{50.0f, 60.0f, 7.5f};
    const NoiseLimits limits{4.0f, 90.0f, 0.75f, 1.5f};
    int moved_left = 0;
    int moved_right = 0;
    for (std::uint32_t gx = 1350; gx < 1358; ++gx) {
        for (std::uint32_t object = 0; object < 8; ++object) {
            const ObjectNoise noise = object_noise(base, {gx, 1440}, object, limits);
            EXPECT_LE(std::fabs(noise.origin.x - base.x), 4.0f);
            EXPECT_LE(std::fabs(noise.origin.y - base.y), 4.0f);
            EXPECT_EQ(bits(noise.origin.z), bits(base.z));
            EXPECT_TRUE(noise.rotation_degrees >= 0.0f && noise.rotation_degrees <= 90.0f);
            EXPECT_TRUE(noise.scale >= 0.75f && noise.scale <= 1.5f);
            moved_left += noise.origin.x < base.x ? 1 : 0;
            moved_right += noise.origin.x > base.x ? 1 : 0;
        }
    }
    EXPECT_GT(moved_left, 0);
    EXPECT_GT(moved_right, 0);
}

TEST(ObjectNoise, NanInfiniteAndReversedLimitsGiveDefinedResults) {
    const GlobalCell cell{12, 34};
    EXPECT_EQ(bits(displace_obj({-0.0f, 2.0f, 3.0f}, cell, 0, nan).x), bits(-0.0f));
    EXPECT_EQ(bits(displace_obj({1.0f, 2.0f, 3.0f}, cell, 0, -5.0f).y), bits(2.0f));
    EXPECT_EQ(bits(rotate_obj(cell, 0, nan)), bits(0.0f));
    EXPECT_EQ(bits(rotate_obj(cell, 0, -30.0f)), bits(0.0f));
    EXPECT_EQ(bits(scale_obj(cell, 0, 2.0f, 1.0f)), bits(2.0f)); // reversed: the minimum
    EXPECT_EQ(bits(scale_obj(cell, 0, 2.0f, nan)), bits(2.0f));
    EXPECT_TRUE(std::isnan(scale_obj(cell, 0, nan, 1.0f)));
    constexpr float most = std::numeric_limits<float>::max();
    for (std::uint32_t object = 0; object < 16; ++object) {
        EXPECT_TRUE(std::isfinite(scale_obj(cell, object, -most, most)));
        EXPECT_GE(scale_obj(cell, object, 1.0f, inf), 1.0f);
    }
    // Between infinite limits the blend itself is NaN (infinity minus infinity): the result
    // must still be a number inside the limits.
    const std::pair<float, float> infinite_limits[] = {{-inf, inf}, {-inf, 1.0f}, {1.0f, inf}};
    for (const auto& [low, high] : infinite_limits) {
        for (std::uint32_t object = 0; object < 64; ++object) {
            const float scale = scale_obj(cell, object, low, high);
            EXPECT_TRUE(scale >= low && scale <= high) << low << " to " << high << ": " << scale;
        }
    }
}

// Each axis of the displacement, the rotation and the scale follow a draw of their own: over the
// objects of one cell, each result ranks the objects as its own draw does and as no other draw
// does. So two axes that share a draw, an axis that copies or mirrors another, or a result that
// takes another kind's or another object's draw all fail.
TEST(ObjectNoise, EachResultFollowsItsOwnDraw) {
    const GlobalCell cell{1352, 1444};
    const Origin base{50.0f, 60.0f, 7.5f};
    const NoiseLimits limits{4.0f, 90.0f, 0.75f, 1.5f};
    constexpr std::uint32_t objects = 32;
    std::array<std::array<float, draw_kinds>, objects> draws{};
    std::array<std::array<float, 4>, objects> results{}; // dx, dy, rotation, scale
    for (std::uint32_t object = 0; object < objects; ++object) {
        for (std::uint32_t kind = 0; kind < draw_kinds; ++kind) {
            draws[object][kind] = prng(cell, draw_seed(static_cast<Draw>(kind), object));
        }
        const ObjectNoise noise = object_noise(base, cell, object, limits);
        results[object] = {noise.origin.x - base.x, noise.origin.y - base.y, noise.rotation_degrees,
                           noise.scale};
    }
    // Whether result `r` never ranks two objects against the order of draw `kind`, and tells
    // most of them apart.
    const auto follows = [&](std::size_t r, Draw kind) {
        const auto k = static_cast<std::size_t>(kind);
        std::size_t distinct = 0;
        for (std::size_t i = 0; i < objects; ++i) {
            bool unique = true;
            for (std::size_t j = 0; j < objects; ++j) {
                if (draws[i][k] < draws[j][k] && !(results[i][r] <= results[j][r])) {
                    return false;
                }
                unique = unique &&
                         (i == j || results[i][r] < results[j][r] || results[j][r] < results[i][r]);
            }
            distinct += unique ? 1 : 0;
        }
        return distinct > objects / 2;
    };
    const Draw own[] = {Draw::DisplaceX, Draw::DisplaceY, Draw::Rotation, Draw::Scale};
    for (std::size_t r = 0; r < 4; ++r) {
        for (const Draw kind : own) {
            EXPECT_EQ(follows(r, kind), kind == own[r])
                << "result " << r << ", draw " << static_cast<int>(kind);
        }
    }
}

} // namespace
} // namespace sarnivelle_scenery_bake::noise
