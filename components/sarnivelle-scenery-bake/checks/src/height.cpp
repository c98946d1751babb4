// The height checks and their synthetic terrain: each registered check beside the body it runs
// over the module's own operations, then the module's list of them.
#include "sarnivelle_scenery_bake/checks/height.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "runner/check.hpp"

namespace sarnivelle_scenery_bake::height::tests {

CellLandblock synthetic_landblock(std::vector<std::uint8_t> height_indices) {
    return CellLandblock(0xA9B4FFFFu, 0, std::vector<std::uint16_t>(vertex_count, 0),
                         std::move(height_indices));
}

Region synthetic_region(std::vector<float> land_height_table) {
    using namespace sarnivelle_dat::file_type::region;
    return Region(
        "Synthetic",
        LandDefinition(std::move(land_height_table), 1, 1, 24.0f, 8, 9, 200.0f, 1000.0f, 5.0f),
        NamedListGroup({}, {}, {}, {}, {}, 0, 1.0f, 1), std::nullopt, std::nullopt, std::nullopt,
        TerrainDesc({}, {}, {}, {}, {}, std::nullopt, std::nullopt), std::nullopt, 0x13000000u, 1,
        0, 0);
}

namespace {

constexpr std::size_t side = static_cast<std::size_t>(vertices_per_side);

// The grid entry of vertex (ix, iy).
constexpr std::size_t vertex(std::size_t ix, std::size_t iy) {
    return ix * side + iy;
}

// Land height tables.

// Entry k holds k * scale: the identity table for 1, the doubled table for 2.
std::vector<float> scaled_table(float scale) {
    std::vector<float> table(land_height_count);
    for (std::size_t k = 0; k < table.size(); ++k) {
        table[k] = static_cast<float>(k) * scale;
    }
    return table;
}

std::vector<float> constant_table(float height) {
    return std::vector<float>(land_height_count, height);
}

// Height indices, entry ix * 9 + iy for vertex (ix, iy).

// Index k at vertex k.
std::vector<std::uint8_t> counting_indices() {
    std::vector<std::uint8_t> indices(vertex_count);
    for (std::size_t k = 0; k < indices.size(); ++k) {
        indices[k] = static_cast<std::uint8_t>(k);
    }
    return indices;
}

// 24 * ix at vertex (ix, iy): over the identity table, ground rising one cell size per cell
// along x and level along y.
std::vector<std::uint8_t> ramp_indices() {
    std::vector<std::uint8_t> indices(vertex_count);
    for (std::size_t k = 0; k < indices.size(); ++k) {
        indices[k] = static_cast<std::uint8_t>(24 * (k / side));
    }
    return indices;
}

// 0 everywhere except 100 at the far corner, vertex (8, 8).
std::vector<std::uint8_t> far_corner_post_indices() {
    std::vector<std::uint8_t> indices(vertex_count, 0);
    indices[vertex(8, 8)] = 100;
    return indices;
}

// 0 everywhere except the corners of cell (0, 0): 10, 20, 30 and 40 at vertices (0, 0),
// (1, 0), (0, 1) and (1, 1).
std::vector<std::uint8_t> first_cell_corner_indices() {
    std::vector<std::uint8_t> indices(vertex_count, 0);
    indices[vertex(0, 0)] = 10;
    indices[vertex(1, 0)] = 20;
    indices[vertex(0, 1)] = 30;
    indices[vertex(1, 1)] = 40;
    return indices;
}

// The key of the fixture landblock, the upper half of its id.
constexpr std::uint16_t fixture_key = 0xA9B4;

// Landblocks at both ends of the key range, and the fixture's.
constexpr std::array<std::uint16_t, 4> sample_keys = {0x0000, 0x0101, fixture_key, 0xFFFF};

// A point inside cell (2, 2): its centre.
constexpr float cell_2_2_centre = 60.0f;

} // namespace

// Each check builds its terrain, then the grid, queries and compares. Its records are
// destroyed in reverse order of creation, the region before the landblock, also while a
// failure unwinds.

SARNIVELLE_CHECK(height, bilinear_at_vertex_equals_raw_height) {
    bilinear_at_vertex_equals_raw_height(Operations{});
}

void bilinear_at_vertex_equals_raw_height(const Operations& ops) {
    const CellLandblock landblock = synthetic_landblock(counting_indices());
    const Region region = synthetic_region(scaled_table(2.0f));
    const HeightGrid grid = ops.build(landblock, region);

    const float z = ops.bilinear(grid, 72.0f, 96.0f);
    SARNIVELLE_ASSERT(std::fabs(z - 62.0f) < 1e-5f, "expected Z=62 at vertex (3,4); got {}", z);
    // The grid itself, so that a fault in the build is told apart from one in the query.
    SARNIVELLE_ASSERT(std::fabs(grid[3 * 9 + 4] - 62.0f) < 1e-5f,
                      "assertion failed: (grid[3 * 9 + 4] - 62.0).abs() < 1e-5");
}

SARNIVELLE_CHECK(height, bilinear_midpoint_is_corner_average) {
    bilinear_midpoint_is_corner_average(Operations{});
}

void bilinear_midpoint_is_corner_average(const Operations& ops) {
    const CellLandblock landblock = synthetic_landblock(first_cell_corner_indices());
    const Region region = synthetic_region(scaled_table(1.0f));
    const HeightGrid grid = ops.build(landblock, region);

    const float z = ops.bilinear(grid, 12.0f, 12.0f);
    SARNIVELLE_ASSERT(std::fabs(z - 25.0f) < 1e-5f, "expected 25, got {}", z);
}

SARNIVELLE_CHECK(height, bilinear_clamps_oob_inputs) {
    bilinear_clamps_oob_inputs(Operations{});
}

void bilinear_clamps_oob_inputs(const Operations& ops) {
    const CellLandblock landblock = synthetic_landblock(far_corner_post_indices());
    const Region region = synthetic_region(scaled_table(1.0f));
    const HeightGrid grid = ops.build(landblock, region);

    // Beyond both far edges, on whole grid coordinates (10, 9).
    const float z = ops.bilinear(grid, 240.0f, 216.0f);
    SARNIVELLE_ASSERT(std::fabs(z - 100.0f) < 1e-5f, "OOB should clamp to vertex (8,8)=100; got {}",
                      z);
}

SARNIVELLE_CHECK(height, slope_flat_terrain_is_zero) {
    slope_flat_terrain_is_zero(Operations{});
}

void slope_flat_terrain_is_zero(const Operations& ops) {
    const CellLandblock landblock = synthetic_landblock(std::vector<std::uint8_t>(vertex_count, 0));
    const Region region = synthetic_region(constant_table(5.0f));
    const HeightGrid grid = ops.build(landblock, region);

    const float slope = ops.slope(grid, cell_2_2_centre, cell_2_2_centre);
    SARNIVELLE_ASSERT(std::fabs(slope) < 1e-5f, "flat slope should be ~0, got {}", slope);
}

SARNIVELLE_CHECK(height, normal_z_flat_is_one_and_ramp_is_cos45) {
    normal_z_flat_is_one_and_ramp_is_cos45(Operations{});
}

void normal_z_flat_is_one_and_ramp_is_cos45(const Operations& ops) {
    const CellLandblock flat_landblock =
        synthetic_landblock(std::vector<std::uint8_t>(vertex_count, 0));
    const Region flat_region = synthetic_region(constant_table(5.0f));
    const HeightGrid flat = ops.build(flat_landblock, flat_region);

    const float flat_nz = ops.normal_z(flat, cell_2_2_centre, cell_2_2_centre);
    SARNIVELLE_ASSERT(std::fabs(flat_nz - 1.0f) < 1e-5f, "flat N.z should be ~1.0, got {}",
                      flat_nz);

    // The ramp is built only once the flat ground has passed, and lives beside it.
    const CellLandblock ramp_landblock = synthetic_landblock(ramp_indices());
    const Region ramp_region = synthetic_region(scaled_table(1.0f));
    const HeightGrid ramp = ops.build(ramp_landblock, ramp_region);

    const float cos_45 = 0.70710677f;
    const float nz = ops.normal_z(ramp, cell_2_2_centre, cell_2_2_centre);
    SARNIVELLE_ASSERT(std::fabs(nz - cos_45) < 1e-4f, "expected cos(π/4)={}, got {}", cos_45, nz);
    const float cos_slope = std::cos(ops.slope(ramp, cell_2_2_centre, cell_2_2_centre));
    SARNIVELLE_ASSERT(std::fabs(nz - cos_slope) < 1e-5f, "N.z ({}) must equal cos(slope_at) ({})",
                      nz, cos_slope);
}

SARNIVELLE_CHECK(height, slope_linear_ramp_45deg) {
    slope_linear_ramp_45deg(Operations{});
}

void slope_linear_ramp_45deg(const Operations& ops) {
    const CellLandblock landblock = synthetic_landblock(ramp_indices());
    const Region region = synthetic_region(scaled_table(1.0f));
    const HeightGrid grid = ops.build(landblock, region);

    const float quarter_pi = 0.7853982f;
    const float slope = ops.slope(grid, cell_2_2_centre, cell_2_2_centre);
    SARNIVELLE_ASSERT(std::fabs(slope - quarter_pi) < 1e-4f, "expected π/4, got {}", slope);
}

SARNIVELLE_CHECK(height, triangle_plane_z_at_vertex_equals_raw_height) {
    triangle_plane_z_at_vertex_equals_raw_height(Operations{});
}

void triangle_plane_z_at_vertex_equals_raw_height(const Operations& ops) {
    const CellLandblock landblock = synthetic_landblock(counting_indices());
    const Region region = synthetic_region(scaled_table(2.0f));
    const HeightGrid grid = ops.build(landblock, region);

    const float z = ops.triangle_plane(grid, fixture_key, 72.0f, 96.0f);
    SARNIVELLE_ASSERT(std::fabs(z - 62.0f) < 1e-4f, "expected 62, got {}", z);
}

SARNIVELLE_CHECK(height, triangle_plane_z_matches_bilinear_on_planar_ramp) {
    triangle_plane_z_matches_bilinear_on_planar_ramp(Operations{});
}

void triangle_plane_z_matches_bilinear_on_planar_ramp(const Operations& ops) {
    const CellLandblock landblock = synthetic_landblock(ramp_indices());
    const Region region = synthetic_region(scaled_table(1.0f));
    const HeightGrid grid = ops.build(landblock, region);

    // Both diagonals, a cell centre, a vertex and points off the centre.
    struct Point {
        float x;
        float y;
    };
    constexpr Point points[] = {
        {12.0f, 12.0f}, {40.0f, 80.0f}, {96.0f, 96.0f}, {50.0f, 100.0f}, {180.0f, 30.0f}};
    for (const Point p : points) {
        const float b = ops.bilinear(grid, p.x, p.y);
        const float t = ops.triangle_plane(grid, fixture_key, p.x, p.y);
        SARNIVELLE_ASSERT(std::fabs(b - t) < 1e-3f,
                          "planar ramp at ({}, {}): bilinear={} triangle={}", p.x, p.y, b, t);
    }
}

SARNIVELLE_CHECK(height, get_split_dir_mixed_output) {
    get_split_dir_mixed_output(Operations{});
}

void get_split_dir_mixed_output(const Operations& ops) {
    for (const std::uint16_t key : sample_keys) {
        int diag_00_to_11 = 0;
        int diag_10_to_01 = 0;
        for (std::uint32_t cx = 0; cx < 8; ++cx) {
            for (std::uint32_t cy = 0; cy < 8; ++cy) {
                ++(ops.split_dir(key, cx, cy) == SplitDir::Diag00To11 ? diag_00_to_11
                                                                      : diag_10_to_01);
            }
        }
        SARNIVELLE_ASSERT(diag_00_to_11 > 0 && diag_10_to_01 > 0,
                          "landblock {} has {} cells split Diag00To11 and {} split Diag10To01; "
                          "expected both splits",
                          key, diag_00_to_11, diag_10_to_01);
    }
}

SARNIVELLE_CHECK(height, get_split_dir_deterministic_across_calls) {
    get_split_dir_deterministic_across_calls(Operations{});
}

void get_split_dir_deterministic_across_calls(const Operations& ops) {
    for (const std::uint16_t key : sample_keys) {
        // All cells once, then all cells again, so that repeated calls are not back to back.
        SplitDir first[8][8];
        for (std::uint32_t cx = 0; cx < 8; ++cx) {
            for (std::uint32_t cy = 0; cy < 8; ++cy) {
                first[cx][cy] = ops.split_dir(key, cx, cy);
            }
        }
        for (std::uint32_t cx = 0; cx < 8; ++cx) {
            for (std::uint32_t cy = 0; cy < 8; ++cy) {
                const SplitDir again = ops.split_dir(key, cx, cy);
                SARNIVELLE_ASSERT(again == first[cx][cy],
                                  "cell ({}, {}) of landblock {} was split {}, then {}", cx, cy,
                                  key, split_dir_name(first[cx][cy]), split_dir_name(again));
            }
        }
    }
}

SARNIVELLE_CHECK(height, triangle_plane_z_midpoint_is_consistent_and_bounded) {
    triangle_plane_z_midpoint_is_consistent_and_bounded(Operations{});
}

void triangle_plane_z_midpoint_is_consistent_and_bounded(const Operations& ops) {
    const CellLandblock landblock = synthetic_landblock(first_cell_corner_indices());
    const Region region = synthetic_region(scaled_table(1.0f));
    const HeightGrid grid = ops.build(landblock, region);

    const float z1 = ops.triangle_plane(grid, fixture_key, 12.0f, 12.0f);
    SARNIVELLE_ASSERT(9.999f <= z1 && z1 <= 40.001f, "z={} out of [10, 40]", z1);
    const float z2 = ops.triangle_plane(grid, fixture_key, 12.0f, 12.0f);
    SARNIVELLE_ASSERT_EQ(std::bit_cast<std::uint32_t>(z1), std::bit_cast<std::uint32_t>(z2));
}

SARNIVELLE_CHECK(height, on_road_basic) {
    on_road_basic(Operations{});
}

void on_road_basic(const Operations& ops) {
    // A road along the vertex line y = 96.0, 3.0 units to either side.
    RoadMap roads;
    for (std::size_t ix = 0; ix < side; ++ix) {
        roads.road_vertices[vertex(ix, 4)] = true;
    }
    roads.half_width = 3.0f;

    SARNIVELLE_ASSERT(ops.road(roads, 100.0f, 98.0f),
                      "({}, {}) lies 2 units from the road along y=96 but is not on it", 100.0f,
                      98.0f);
    SARNIVELLE_ASSERT(!ops.road(roads, 100.0f, 60.0f),
                      "({}, {}) lies 36 units from the road along y=96 but is on it", 100.0f,
                      60.0f);
}

// The module's part of the registry, in ascending byte order of the names.
constexpr auto registered = std::to_array<const runner::StaticTestDescAndFn*>({
    &bilinear_at_vertex_equals_raw_height_check,
    &bilinear_clamps_oob_inputs_check,
    &bilinear_midpoint_is_corner_average_check,
    &get_split_dir_deterministic_across_calls_check,
    &get_split_dir_mixed_output_check,
    &normal_z_flat_is_one_and_ramp_is_cos45_check,
    &on_road_basic_check,
    &slope_flat_terrain_is_zero_check,
    &slope_linear_ramp_45deg_check,
    &triangle_plane_z_at_vertex_equals_raw_height_check,
    &triangle_plane_z_matches_bilinear_on_planar_ramp_check,
    &triangle_plane_z_midpoint_is_consistent_and_bounded_check,
});

std::span<const runner::StaticTestDescAndFn* const> checks() {
    return registered;
}

} // namespace sarnivelle_scenery_bake::height::tests
