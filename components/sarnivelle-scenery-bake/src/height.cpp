#include "sarnivelle_scenery_bake/height.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

#include "runner/check.hpp"

namespace sarnivelle_scenery_bake::height {

RecordSizeError::RecordSizeError(std::string field, std::size_t actual, std::size_t expected)
    : std::invalid_argument("cannot build a height grid: " + field + " holds " +
                            std::to_string(actual) + " entries, expected " +
                            std::to_string(expected)),
      field_(std::move(field)), actual_(actual), expected_(expected) {}

HeightGrid build_height_grid(const CellLandblock& landblock, const Region& region) {
    const std::vector<std::uint8_t>& indices = landblock.height_indices;
    const std::vector<float>& table = region.land_definition.land_height_table;
    if (indices.size() != vertex_count) {
        throw RecordSizeError("height_indices", indices.size(), vertex_count);
    }
    if (table.size() != land_height_count) {
        throw RecordSizeError("land_height_table", table.size(), land_height_count);
    }
    // A height index is one byte, so it always names an entry of the 256-entry table.
    HeightGrid grid{};
    for (std::size_t k = 0; k < vertex_count; ++k) {
        grid[k] = table[indices[k]];
    }
    return grid;
}

namespace {

constexpr std::size_t side = static_cast<std::size_t>(vertices_per_side);

std::size_t vertex(std::size_t ix, std::size_t iy) {
    return ix * side + iy;
}

// Where a coordinate lies for the bilinear blend: the lower and upper vertex index along the
// axis and the fraction between them.
struct BlendAxis {
    std::size_t lower;
    std::size_t upper;
    float fraction;
};

// The position along one axis, limited to the landblock: the grid coordinate v / 24.0 is
// clamped to [0.0, 8.0], so on and beyond the far edge lower = upper = 8 and the fraction is 0.
// A NaN coordinate counts as 0.0.
BlendAxis blend_axis(float v) {
    // A true division: multiplying by a reciprocal rounds differently.
    float g = v / cell_size;
    if (!(g >= 0.0f)) {
        g = 0.0f;
    }
    if (g > 8.0f) {
        g = 8.0f;
    }
    // g lies in [0.0, 8.0], where conversion truncates exactly as floor does.
    const auto lower = static_cast<std::size_t>(g);
    const std::size_t upper = lower < side - 1 ? lower + 1 : lower;
    return {lower, upper, g - static_cast<float>(lower)};
}

// floor(v / 24.0) as a cell index limited to 0..7. The floor is saturated first, so NaN gives
// 0, anything below 0.0 gives 0 and anything from 7.0 up, infinity included, gives 7.
std::uint32_t cell_index(float v) {
    // A true division: multiplying by a reciprocal rounds differently.
    const float g = v / cell_size;
    if (!(g >= 0.0f)) {
        return 0;
    }
    if (g >= 7.0f) {
        return 7;
    }
    // g lies in [0.0, 7.0), where conversion truncates exactly as floor does.
    return static_cast<std::uint32_t>(g);
}

// The sum of squares of the gradient of the cell that holds (x, y).
float squared_gradient(const HeightGrid& grid, float x, float y) {
    const std::size_t cx = cell_index(x);
    const std::size_t cy = cell_index(y);
    const float h00 = grid[vertex(cx, cy)];
    const float h10 = grid[vertex(cx + 1, cy)];
    const float h01 = grid[vertex(cx, cy + 1)];
    const float h11 = grid[vertex(cx + 1, cy + 1)];
    // The mean of the cell's two edge differences along each axis, over the cell size.
    const float dzdx = ((h10 - h00) + (h11 - h01)) * 0.5f / cell_size;
    const float dzdy = ((h01 - h00) + (h11 - h10)) * 0.5f / cell_size;
    return dzdx * dzdx + dzdy * dzdy;
}

struct Point3 {
    float x;
    float y;
    float z;
};

// A triangle as the ordered triple (V0, V1, V2): V0 is the base of the plane computation and
// the edges run from it to V1 and then V2, which fixes the rounding of the result.
struct Triangle {
    Point3 v0;
    Point3 v1;
    Point3 v2;
};

// Height at (x, y) of the plane through a triangle's three corners.
float plane_height(const Triangle& tri, float x, float y) {
    const Point3 e1{tri.v1.x - tri.v0.x, tri.v1.y - tri.v0.y, tri.v1.z - tri.v0.z};
    const Point3 e2{tri.v2.x - tri.v0.x, tri.v2.y - tri.v0.y, tri.v2.z - tri.v0.z};
    const Point3 n{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
    const float d = (n.x * tri.v0.x + n.y * tri.v0.y) + n.z * tri.v0.z;
    // n.z is -576.0 for every triangle of a cell, whatever the heights.
    return ((d - n.x * x) - n.y * y) / n.z;
}

} // namespace

float bilinear_height_from_grid(const HeightGrid& grid, float x, float y) noexcept {
    const BlendAxis ax = blend_axis(x);
    const BlendAxis ay = blend_axis(y);
    const float fx = ax.fraction;
    const float fy = ay.fraction;
    const float h00 = grid[vertex(ax.lower, ay.lower)];
    const float h10 = grid[vertex(ax.upper, ay.lower)];
    const float h01 = grid[vertex(ax.lower, ay.upper)];
    const float h11 = grid[vertex(ax.upper, ay.upper)];
    // Each product height first, left to right, and the four products summed left to right:
    // another order leaves another rounding residue.
    return h00 * (1.0f - fx) * (1.0f - fy) + h10 * fx * (1.0f - fy) + h01 * (1.0f - fx) * fy +
           h11 * fx * fy;
}

float slope_at(const HeightGrid& grid, float x, float y) noexcept {
    return std::atan(std::sqrt(squared_gradient(grid, x, y)));
}

float normal_z_from_grid(const HeightGrid& grid, float x, float y) noexcept {
    return 1.0f / std::sqrt(squared_gradient(grid, x, y) + 1.0f);
}

const char* split_dir_name(SplitDir split) noexcept {
    return split == SplitDir::Diag00To11 ? "Diag00To11" : "Diag10To01";
}

SplitDir get_split_dir(std::uint16_t landblock_key, std::uint32_t cx, std::uint32_t cy) noexcept {
    const std::uint32_t key = landblock_key;
    const std::uint32_t gx = 8u * (key >> 8u) + cx;
    const std::uint32_t gy = 8u * (key & 0xFFu) + cy;
    // Unsigned arithmetic wraps modulo 2^32.
    const std::uint32_t h =
        gx * gy * 214614067u + gy * 1813693831u - gx * 1109124029u - 1369149221u;
    return (h & 0x80000000u) != 0 ? SplitDir::Diag00To11 : SplitDir::Diag10To01;
}

float triangle_plane_height_from_grid(const HeightGrid& grid, std::uint16_t landblock_key, float x,
                                      float y) noexcept {
    // Cell: only the index is limited; the point is not, so the border cell's plane continues
    // beyond the landblock.
    const std::uint32_t cx = cell_index(x);
    const std::uint32_t cy = cell_index(y);

    // Corners. Whole numbers, exact as floats.
    const float x0 = cell_size * static_cast<float>(cx);
    const float x1 = x0 + cell_size;
    const float y0 = cell_size * static_cast<float>(cy);
    const float y1 = y0 + cell_size;
    const Point3 c00{x0, y0, grid[vertex(cx, cy)]};
    const Point3 c10{x1, y0, grid[vertex(cx + 1, cy)]};
    const Point3 c01{x0, y1, grid[vertex(cx, cy + 1)]};
    const Point3 c11{x1, y1, grid[vertex(cx + 1, cy + 1)]};

    // Split: both triangles of the cell, each running clockwise.
    const bool diag_00_to_11 = get_split_dir(landblock_key, cx, cy) == SplitDir::Diag00To11;
    const Triangle first = diag_00_to_11 ? Triangle{c00, c11, c10} : Triangle{c00, c01, c10};
    const Triangle second = diag_00_to_11 ? Triangle{c01, c11, c00} : Triangle{c10, c01, c11};

    // Containment in the first triangle, from its corners A = V1, B = V2, C = V0.
    const Point3& a = first.v1;
    const Point3& b = first.v2;
    const Point3& c = first.v0;
    // Twice the signed area of every such triangle is -576.0 exactly, so this constant is the
    // same float that 1.0 / (2 * area) gives.
    constexpr float k = 1.0f / (2.0f * -288.0f);
    const float s = k * ((a.y * c.x - a.x * c.y + (c.y - a.y) * x) + (a.x - c.x) * y);
    const float t = k * ((a.x * b.y - a.y * b.x + (a.y - b.y) * x) + (b.x - a.x) * y);
    // Strict comparisons, false for NaN: a NaN s or t counts as inside.
    const bool outside = s < 0.0f || t < 0.0f || t > 1.0f - s;

    // Plane.
    return plane_height(outside ? second : first, x, y);
}

bool on_road(const RoadMap& roads, float x, float y) noexcept {
    if (std::isnan(x) || std::isnan(y) || !(roads.half_width >= 0.0f)) {
        return false;
    }
    const float reach = roads.half_width * roads.half_width;
    const auto is_road = [&](std::size_t ix, std::size_t iy) {
        return roads.road_vertices[vertex(ix, iy)];
    };
    // Within reach of the segment [lo, hi] along one axis at `across` on the other.
    const auto near_segment = [&](float along, float lo, float hi, float across) {
        const float d_along = along < lo ? lo - along : (along > hi ? along - hi : 0.0f);
        return d_along * d_along + across * across <= reach;
    };
    for (std::size_t ix = 0; ix < side; ++ix) {
        for (std::size_t iy = 0; iy < side; ++iy) {
            if (!is_road(ix, iy)) {
                continue;
            }
            const float vx = cell_size * static_cast<float>(ix);
            const float vy = cell_size * static_cast<float>(iy);
            if (near_segment(x, vx, vx, y - vy)) {
                return true;
            }
            if (ix + 1 < side && is_road(ix + 1, iy) &&
                near_segment(x, vx, vx + cell_size, y - vy)) {
                return true;
            }
            if (iy + 1 < side && is_road(ix, iy + 1) &&
                near_segment(y, vy, vy + cell_size, x - vx)) {
                return true;
            }
        }
    }
    return false;
}

namespace tests {

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
    bilinear_at_vertex_equals_raw_height(Queries{});
}

void bilinear_at_vertex_equals_raw_height(const Queries& q) {
    const CellLandblock landblock = synthetic_landblock(counting_indices());
    const Region region = synthetic_region(scaled_table(2.0f));
    const HeightGrid grid = q.build(landblock, region);

    const float z = q.bilinear(grid, 72.0f, 96.0f);
    SARNIVELLE_ASSERT(std::fabs(z - 62.0f) < 1e-5f, "expected Z=62 at vertex (3,4); got {}", z);
    // The grid itself, so that a fault in the build is told apart from one in the query.
    SARNIVELLE_ASSERT(std::fabs(grid[3 * 9 + 4] - 62.0f) < 1e-5f,
                      "assertion failed: (grid[3 * 9 + 4] - 62.0).abs() < 1e-5");
}

SARNIVELLE_CHECK(height, bilinear_midpoint_is_corner_average) {
    bilinear_midpoint_is_corner_average(Queries{});
}

void bilinear_midpoint_is_corner_average(const Queries& q) {
    const CellLandblock landblock = synthetic_landblock(first_cell_corner_indices());
    const Region region = synthetic_region(scaled_table(1.0f));
    const HeightGrid grid = q.build(landblock, region);

    const float z = q.bilinear(grid, 12.0f, 12.0f);
    SARNIVELLE_ASSERT(std::fabs(z - 25.0f) < 1e-5f, "expected 25, got {}", z);
}

SARNIVELLE_CHECK(height, bilinear_clamps_oob_inputs) {
    bilinear_clamps_oob_inputs(Queries{});
}

void bilinear_clamps_oob_inputs(const Queries& q) {
    const CellLandblock landblock = synthetic_landblock(far_corner_post_indices());
    const Region region = synthetic_region(scaled_table(1.0f));
    const HeightGrid grid = q.build(landblock, region);

    // Beyond both far edges, on whole grid coordinates (10, 9).
    const float z = q.bilinear(grid, 240.0f, 216.0f);
    SARNIVELLE_ASSERT(std::fabs(z - 100.0f) < 1e-5f, "OOB should clamp to vertex (8,8)=100; got {}",
                      z);
}

SARNIVELLE_CHECK(height, slope_flat_terrain_is_zero) {
    slope_flat_terrain_is_zero(Queries{});
}

void slope_flat_terrain_is_zero(const Queries& q) {
    const CellLandblock landblock = synthetic_landblock(std::vector<std::uint8_t>(vertex_count, 0));
    const Region region = synthetic_region(constant_table(5.0f));
    const HeightGrid grid = q.build(landblock, region);

    const float slope = q.slope(grid, cell_2_2_centre, cell_2_2_centre);
    SARNIVELLE_ASSERT(std::fabs(slope) < 1e-5f, "flat slope should be ~0, got {}", slope);
}

SARNIVELLE_CHECK(height, normal_z_flat_is_one_and_ramp_is_cos45) {
    normal_z_flat_is_one_and_ramp_is_cos45(Queries{});
}

void normal_z_flat_is_one_and_ramp_is_cos45(const Queries& q) {
    const CellLandblock flat_landblock =
        synthetic_landblock(std::vector<std::uint8_t>(vertex_count, 0));
    const Region flat_region = synthetic_region(constant_table(5.0f));
    const HeightGrid flat = q.build(flat_landblock, flat_region);

    const float flat_nz = q.normal_z(flat, cell_2_2_centre, cell_2_2_centre);
    SARNIVELLE_ASSERT(std::fabs(flat_nz - 1.0f) < 1e-5f, "flat N.z should be ~1.0, got {}",
                      flat_nz);

    // The ramp is built only once the flat ground has passed, and lives beside it.
    const CellLandblock ramp_landblock = synthetic_landblock(ramp_indices());
    const Region ramp_region = synthetic_region(scaled_table(1.0f));
    const HeightGrid ramp = q.build(ramp_landblock, ramp_region);

    const float cos_45 = 0.70710677f;
    const float nz = q.normal_z(ramp, cell_2_2_centre, cell_2_2_centre);
    SARNIVELLE_ASSERT(std::fabs(nz - cos_45) < 1e-4f, "expected cos(π/4)={}, got {}", cos_45, nz);
    const float cos_slope = std::cos(q.slope(ramp, cell_2_2_centre, cell_2_2_centre));
    SARNIVELLE_ASSERT(std::fabs(nz - cos_slope) < 1e-5f, "N.z ({}) must equal cos(slope_at) ({})",
                      nz, cos_slope);
}

SARNIVELLE_CHECK(height, slope_linear_ramp_45deg) {
    slope_linear_ramp_45deg(Queries{});
}

void slope_linear_ramp_45deg(const Queries& q) {
    const CellLandblock landblock = synthetic_landblock(ramp_indices());
    const Region region = synthetic_region(scaled_table(1.0f));
    const HeightGrid grid = q.build(landblock, region);

    const float quarter_pi = 0.7853982f;
    const float slope = q.slope(grid, cell_2_2_centre, cell_2_2_centre);
    SARNIVELLE_ASSERT(std::fabs(slope - quarter_pi) < 1e-4f, "expected π/4, got {}", slope);
}

SARNIVELLE_CHECK(height, triangle_plane_z_at_vertex_equals_raw_height) {
    triangle_plane_z_at_vertex_equals_raw_height(Queries{});
}

void triangle_plane_z_at_vertex_equals_raw_height(const Queries& q) {
    const CellLandblock landblock = synthetic_landblock(counting_indices());
    const Region region = synthetic_region(scaled_table(2.0f));
    const HeightGrid grid = q.build(landblock, region);

    const float z = q.triangle_plane(grid, fixture_key, 72.0f, 96.0f);
    SARNIVELLE_ASSERT(std::fabs(z - 62.0f) < 1e-4f, "expected 62, got {}", z);
}

SARNIVELLE_CHECK(height, triangle_plane_z_matches_bilinear_on_planar_ramp) {
    triangle_plane_z_matches_bilinear_on_planar_ramp(Queries{});
}

void triangle_plane_z_matches_bilinear_on_planar_ramp(const Queries& q) {
    const CellLandblock landblock = synthetic_landblock(ramp_indices());
    const Region region = synthetic_region(scaled_table(1.0f));
    const HeightGrid grid = q.build(landblock, region);

    // Both diagonals, a cell centre, a vertex and points off the centre.
    struct Point {
        float x;
        float y;
    };
    constexpr Point points[] = {
        {12.0f, 12.0f}, {40.0f, 80.0f}, {96.0f, 96.0f}, {50.0f, 100.0f}, {180.0f, 30.0f}};
    for (const Point p : points) {
        const float b = q.bilinear(grid, p.x, p.y);
        const float t = q.triangle_plane(grid, fixture_key, p.x, p.y);
        SARNIVELLE_ASSERT(std::fabs(b - t) < 1e-3f,
                          "planar ramp at ({}, {}): bilinear={} triangle={}", p.x, p.y, b, t);
    }
}

SARNIVELLE_CHECK(height, get_split_dir_mixed_output) {
    get_split_dir_mixed_output(Queries{});
}

void get_split_dir_mixed_output(const Queries& q) {
    for (const std::uint16_t key : sample_keys) {
        int diag_00_to_11 = 0;
        int diag_10_to_01 = 0;
        for (std::uint32_t cx = 0; cx < 8; ++cx) {
            for (std::uint32_t cy = 0; cy < 8; ++cy) {
                ++(q.split_dir(key, cx, cy) == SplitDir::Diag00To11 ? diag_00_to_11
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
    get_split_dir_deterministic_across_calls(Queries{});
}

void get_split_dir_deterministic_across_calls(const Queries& q) {
    for (const std::uint16_t key : sample_keys) {
        // All cells once, then all cells again, so that repeated calls are not back to back.
        SplitDir first[8][8];
        for (std::uint32_t cx = 0; cx < 8; ++cx) {
            for (std::uint32_t cy = 0; cy < 8; ++cy) {
                first[cx][cy] = q.split_dir(key, cx, cy);
            }
        }
        for (std::uint32_t cx = 0; cx < 8; ++cx) {
            for (std::uint32_t cy = 0; cy < 8; ++cy) {
                const SplitDir again = q.split_dir(key, cx, cy);
                SARNIVELLE_ASSERT(again == first[cx][cy],
                                  "cell ({}, {}) of landblock {} was split {}, then {}", cx, cy,
                                  key, split_dir_name(first[cx][cy]), split_dir_name(again));
            }
        }
    }
}

SARNIVELLE_CHECK(height, triangle_plane_z_midpoint_is_consistent_and_bounded) {
    triangle_plane_z_midpoint_is_consistent_and_bounded(Queries{});
}

void triangle_plane_z_midpoint_is_consistent_and_bounded(const Queries& q) {
    const CellLandblock landblock = synthetic_landblock(first_cell_corner_indices());
    const Region region = synthetic_region(scaled_table(1.0f));
    const HeightGrid grid = q.build(landblock, region);

    const float z1 = q.triangle_plane(grid, fixture_key, 12.0f, 12.0f);
    SARNIVELLE_ASSERT(9.999f <= z1 && z1 <= 40.001f, "z={} out of [10, 40]", z1);
    const float z2 = q.triangle_plane(grid, fixture_key, 12.0f, 12.0f);
    SARNIVELLE_ASSERT_EQ(std::bit_cast<std::uint32_t>(z1), std::bit_cast<std::uint32_t>(z2));
}

SARNIVELLE_CHECK(height, on_road_basic) {
    on_road_basic(Queries{});
}

void on_road_basic(const Queries& q) {
    // A road along the vertex line y = 96.0, 3.0 units to either side.
    RoadMap roads;
    for (std::size_t ix = 0; ix < side; ++ix) {
        roads.road_vertices[vertex(ix, 4)] = true;
    }
    roads.half_width = 3.0f;

    SARNIVELLE_ASSERT(q.road(roads, 100.0f, 98.0f),
                      "({}, {}) lies 2 units from the road along y=96 but is not on it", 100.0f,
                      98.0f);
    SARNIVELLE_ASSERT(!q.road(roads, 100.0f, 60.0f),
                      "({}, {}) lies 36 units from the road along y=96 but is on it", 100.0f,
                      60.0f);
}

} // namespace tests

} // namespace sarnivelle_scenery_bake::height
