// The height checks detect the faults they are meant to: each body is run with deliberately
// wrong operations and must fail with its check's exact message.
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include <gtest/gtest.h>

#include "runner/check.hpp"
#include "sarnivelle_scenery_bake/checks/height.hpp"
#include "sarnivelle_scenery_bake/height.hpp"

namespace sarnivelle_scenery_bake::height {
namespace {

using tests::Operations;
using Body = void (*)(const Operations&);

// The failure message of `body` over `queries`, or "passed".
std::string outcome(Body body, const Operations& queries) {
    try {
        body(queries);
    } catch (const runner::Panic& failure) {
        EXPECT_EQ(failure.location().file,
                  "components/sarnivelle-scenery-bake/checks/src/height.cpp");
        return failure.payload().message();
    }
    return "passed";
}

// The grid with vertex (ix, iy) read from entry iy * 9 + ix.
HeightGrid transposed(const HeightGrid& grid) {
    HeightGrid out{};
    for (std::size_t k = 0; k < out.size(); ++k) {
        out[k] = grid[(k % 9) * 9 + k / 9];
    }
    return out;
}

// ---- wrong operations --------------------------------------------------------------------------

float bilinear_transposed(const HeightGrid& grid, float x, float y) {
    return bilinear_height_from_grid(transposed(grid), x, y);
}
HeightGrid build_transposed(const CellLandblock& landblock, const Region& region) {
    return transposed(build_height_grid(landblock, region));
}
float bilinear_nearest_vertex(const HeightGrid& grid, float x, float y) {
    return grid[static_cast<std::size_t>(x / 24.0f) * 9 + static_cast<std::size_t>(y / 24.0f)];
}
// Blends the border cell with unlimited fractions.
float bilinear_extrapolating(const HeightGrid& grid, float x, float y) {
    const float gx = x / 24.0f;
    const float gy = y / 24.0f;
    const std::size_t cx = gx >= 7.0f ? 7 : static_cast<std::size_t>(gx);
    const std::size_t cy = gy >= 7.0f ? 7 : static_cast<std::size_t>(gy);
    const float fx = gx - static_cast<float>(cx);
    const float fy = gy - static_cast<float>(cy);
    const std::size_t v = cx * 9 + cy;
    return grid[v] * (1.0f - fx) * (1.0f - fy) + grid[v + 9] * fx * (1.0f - fy) +
           grid[v + 1] * (1.0f - fx) * fy + grid[v + 10] * fx * fy;
}
float slope_in_degrees(const HeightGrid& grid, float x, float y) {
    return slope_at(grid, x, y) * 180.0f / std::numbers::pi_v<float>;
}
// The normal of a gradient of half the size.
float normal_z_halved(const HeightGrid& grid, float x, float y) {
    const float half = std::tan(slope_at(grid, x, y)) * 0.5f;
    return 1.0f / std::sqrt(half * half + 1.0f);
}
float triangle_transposed(const HeightGrid& grid, std::uint16_t key, float x, float y) {
    return triangle_plane_height_from_grid(transposed(grid), key, x, y);
}
float triangle_plus_one(const HeightGrid& grid, std::uint16_t key, float x, float y) {
    return triangle_plane_height_from_grid(grid, key, x, y) + 1.0f;
}
float triangle_halved_far_out(const HeightGrid& grid, std::uint16_t key, float x, float y) {
    const float z = triangle_plane_height_from_grid(grid, key, x, y);
    return x > 170.0f ? z * 0.5f : z;
}
SplitDir split_constant(std::uint16_t, std::uint32_t, std::uint32_t) {
    return SplitDir::Diag10To01;
}
SplitDir split_per_landblock(std::uint16_t key, std::uint32_t, std::uint32_t) {
    return get_split_dir(key, 0, 0);
}
bool road_never(const RoadMap&, float, float) {
    return false;
}
bool road_always(const RoadMap&, float, float) {
    return true;
}
bool road_transposed(const RoadMap& roads, float x, float y) {
    return on_road(roads, y, x);
}

TEST(HeightChecks, each_check_fails_on_its_faults_with_its_message) {
    struct Row {
        Body body;
        Operations queries;
        std::string expected;
    };
    using namespace tests;
    const Row rows[] = {
        {bilinear_at_vertex_equals_raw_height,
         {.bilinear = bilinear_transposed},
         "expected Z=62 at vertex (3,4); got 78"},
        // A transposed build hidden by a transposed query is caught by the raw read.
        {bilinear_at_vertex_equals_raw_height,
         {.build = build_transposed, .bilinear = bilinear_transposed},
         "assertion failed: (grid[3 * 9 + 4] - 62.0).abs() < 1e-5"},
        {bilinear_midpoint_is_corner_average,
         {.bilinear = bilinear_nearest_vertex},
         "expected 25, got 10"},
        // At (240, 216) the fractions run 3 and 2 past cell (7, 7): 100 * 3 * 2.
        {bilinear_clamps_oob_inputs,
         {.bilinear = bilinear_extrapolating},
         "OOB should clamp to vertex (8,8)=100; got 600"},
        {slope_linear_ramp_45deg, {.slope = slope_in_degrees}, "expected π/4, got 45"},
        {slope_flat_terrain_is_zero,
         {.slope = normal_z_from_grid},
         "flat slope should be ~0, got 1"},
        {normal_z_flat_is_one_and_ramp_is_cos45,
         {.normal_z = slope_at},
         "flat N.z should be ~1.0, got 0"},
        // 1 / sqrt(0.25 + 1.0) = 0.894427191...
        {normal_z_flat_is_one_and_ramp_is_cos45,
         {.normal_z = normal_z_halved},
         "expected cos(π/4)=0.70710677, got 0.8944272"},
        // cos(45 radians) = 0.525321988...
        {normal_z_flat_is_one_and_ramp_is_cos45,
         {.slope = slope_in_degrees},
         "N.z (0.70710677) must equal cos(slope_at) (0.52532196)"},
        {triangle_plane_z_at_vertex_equals_raw_height,
         {.triangle_plane = triangle_transposed},
         "expected 62, got 78"},
        {triangle_plane_z_matches_bilinear_on_planar_ramp,
         {.triangle_plane = triangle_plus_one},
         "planar ramp at (12, 12): bilinear=12 triangle=13"},
        {triangle_plane_z_matches_bilinear_on_planar_ramp,
         {.triangle_plane = triangle_halved_far_out},
         "planar ramp at (180, 30): bilinear=180 triangle=90"},
        {get_split_dir_mixed_output,
         {.split_dir = split_constant},
         "landblock 0 has 0 cells split Diag00To11 and 64 split Diag10To01; expected both splits"},
        {get_split_dir_mixed_output,
         {.split_dir = split_per_landblock},
         "landblock 0 has 64 cells split Diag00To11 and 0 split Diag10To01; expected both splits"},
        {on_road_basic,
         {.road = road_never},
         "(100, 98) lies 2 units from the road along y=96 but is not on it"},
        {on_road_basic,
         {.road = road_always},
         "(100, 60) lies 36 units from the road along y=96 but is on it"},
        {on_road_basic,
         {.road = road_transposed},
         "(100, 98) lies 2 units from the road along y=96 but is not on it"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(outcome(row.body, row.queries), row.expected);
    }
}

// Operations whose results change from call to call.
int calls = 0;
float first_result = 0.0f;
float later_results = 0.0f;

float triangle_sequence(const HeightGrid&, std::uint16_t, float, float) {
    return calls++ == 0 ? first_result : later_results;
}

// The 66th call is the second call for cell (0, 1) of landblock 0 in a check that visits the
// 64 cells twice.
SplitDir split_drifting(std::uint16_t key, std::uint32_t cx, std::uint32_t cy) {
    const SplitDir split = get_split_dir(key, cx, cy);
    if (++calls != 66) {
        return split;
    }
    return split == SplitDir::Diag00To11 ? SplitDir::Diag10To01 : SplitDir::Diag00To11;
}

TEST(HeightChecks, midpoint_range_and_repeatability) {
    const auto run = [](float first, float later) {
        calls = 0;
        first_result = first;
        later_results = later;
        return outcome(tests::triangle_plane_z_midpoint_is_consistent_and_bounded,
                       {.triangle_plane = triangle_sequence});
    };
    EXPECT_EQ(run(40.0005f, 40.0005f), "passed");
    EXPECT_EQ(run(9.9995f, 9.9995f), "passed");
    EXPECT_EQ(run(40.002f, 40.002f), "z=40.002 out of [10, 40]");
    EXPECT_EQ(run(std::nanf(""), 25.0f), "z=NaN out of [10, 40]");
    // 25.0 and the next float up differ in the last bit only.
    EXPECT_EQ(run(25.0f, std::nextafter(25.0f, 26.0f)),
              "assertion `left == right` failed\n  left: 1103626240\n right: 1103626241");
}

TEST(HeightChecks, split_determinism_detects_a_drifting_split) {
    calls = 0;
    const SplitDir split = get_split_dir(0, 0, 1);
    const SplitDir other =
        split == SplitDir::Diag00To11 ? SplitDir::Diag10To01 : SplitDir::Diag00To11;
    EXPECT_EQ(
        outcome(tests::get_split_dir_deterministic_across_calls, {.split_dir = split_drifting}),
        std::string("cell (0, 1) of landblock 0 was split ") + split_dir_name(split) + ", then " +
            split_dir_name(other));
}

} // namespace
} // namespace sarnivelle_scenery_bake::height
