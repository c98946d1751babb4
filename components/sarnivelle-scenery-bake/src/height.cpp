#include "sarnivelle_scenery_bake/height.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

} // namespace sarnivelle_scenery_bake::height
