// Terrain height of one landblock: the grid of vertex heights and the point queries over it.
//
// A landblock is a square of 8 x 8 cells of 24.0 world units, with 9 x 9 vertices. Points are
// given in landblock-local coordinates (x, y), 32-bit floats measured from vertex (0, 0);
// vertex (ix, iy) stands at (24.0 * ix, 24.0 * iy), and cell (cx, cy) spans x from 24.0 * cx to
// 24.0 * (cx + 1) and likewise y.
//
// All arithmetic is in 32-bit floats, each formula evaluated in the order its comment gives, so
// results are the same bits at every optimisation level and on every target (the build turns
// floating-point contraction off). A grid coordinate is a true division by 24.0: multiplying by
// a reciprocal rounds differently.
//
// Every query is pure: it keeps no state, never allocates, never fails and never reads outside
// the grid, whatever its arguments (NaN, infinities, huge or negative coordinates included).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "sarnivelle_dat/file_type/region.hpp"
#include "sarnivelle_dat/landblock.hpp"

namespace sarnivelle_scenery_bake::height {

using sarnivelle_dat::file_type::region::Region;
using sarnivelle_dat::landblock::CellLandblock;

inline constexpr int cells_per_side = 8;
inline constexpr int vertices_per_side = 9;
inline constexpr std::size_t vertex_count = 81;
inline constexpr std::size_t land_height_count = 256;
inline constexpr float cell_size = 24.0f;
inline constexpr float landblock_side = 192.0f;

// The 81 vertex heights of one landblock. Entry ix * 9 + iy holds vertex (ix, iy): ix runs
// along x, so the nine entries 9 * ix to 9 * ix + 8 are one line of constant x.
using HeightGrid = std::array<float, vertex_count>;

// The error of build_height_grid over records whose lists have the wrong length.
class RecordSizeError : public std::invalid_argument {
public:
    RecordSizeError(std::string field, std::size_t actual, std::size_t expected);

    const std::string& field() const noexcept { return field_; }
    std::size_t actual() const noexcept { return actual_; }
    std::size_t expected() const noexcept { return expected_; }

private:
    std::string field_;
    std::size_t actual_;
    std::size_t expected_;
};

// The grid of a landblock: vertex k gets entry height_indices[k] of the region's
// land_height_table. Throws RecordSizeError, naming the field and both sizes, unless
// height_indices holds exactly 81 entries and land_height_table exactly 256; nothing is read
// out of bounds before that test. Apart from that error it does not allocate.
HeightGrid build_height_grid(const CellLandblock& landblock, const Region& region);

// Height at (x, y), blended from the four corners of the cell that holds the point; a point
// outside the landblock is first limited to the landblock, so beyond both far edges the result
// is vertex (8, 8). At a vertex the result is that vertex's height exactly. The blend is
//     h00 * (1 - fx) * (1 - fy) + h10 * fx * (1 - fy) + h01 * (1 - fx) * fy + h11 * fx * fy
// evaluated left to right. A NaN coordinate is treated as 0.0.
float bilinear_height_from_grid(const HeightGrid& grid, float x, float y) noexcept;

// Slope angle of the ground at (x, y), in radians from 0.0 to pi/2: atanf(sqrt(s)) of the
// gradient of the cell that holds the point, where s = dzdx^2 + dzdy^2 and
//     dzdx = ((h10 - h00) + (h11 - h01)) * 0.5 / 24.0,  dzdy = ((h01 - h00) + (h11 - h10)) * 0.5
//     / 24.0.
// The gradient is the same everywhere in a cell. A point on or beyond an edge of the landblock
// uses the nearest border cell; a NaN coordinate uses cell index 0 on its axis.
float slope_at(const HeightGrid& grid, float x, float y) noexcept;

// Z component of the unit upward surface normal at (x, y), from 0.0 to 1.0:
// 1.0 / sqrt(s + 1.0), with s and the cell chosen as by slope_at. Flat ground gives exactly 1.0.
float normal_z_from_grid(const HeightGrid& grid, float x, float y) noexcept;

// The diagonal that cuts a cell into its two triangles.
enum class SplitDir : std::uint8_t {
    Diag00To11, // from corner (x0, y0) to corner (x1, y1)
    Diag10To01, // from corner (x1, y0) to corner (x0, y1)
};

// The name of a split, as written in the enumeration.
const char* split_dir_name(SplitDir split) noexcept;

// The diagonal of cell (cx, cy), cx and cy from 0 to 7, of the landblock with key
// `landblock_key` (landblock X in bits 8 to 15, Y in bits 0 to 7). With the global cell
// coordinates gx = 8 * X + cx and gy = 8 * Y + cy, and wrapping unsigned 32-bit arithmetic,
//     h = gx * gy * 214614067 + gy * 1813693831 - gx * 1109124029 - 1369149221;
// the cell is split Diag00To11 when bit 31 of h is set, Diag10To01 otherwise.
SplitDir get_split_dir(std::uint16_t landblock_key, std::uint32_t cx, std::uint32_t cy) noexcept;

// Height at (x, y) on the plane of the triangle that holds the point, the cells of the
// landblock with key `landblock_key` being cut as get_split_dir says. The cell index is
// floor(x / 24.0), saturated (NaN gives 0) and limited to 0..7, and likewise for y; the point
// itself is not limited, so outside the landblock the plane of a border cell's triangle
// continues. A point on a far edge lies in cell 7. A NaN coordinate gives a NaN height.
float triangle_plane_height_from_grid(const HeightGrid& grid, std::uint16_t landblock_key, float x,
                                      float y) noexcept;

// The roads of a landblock. A road runs along the lattice: every two vertices that are
// neighbours along x or along y and both carry road are joined by a road segment, and a road
// vertex without such a neighbour is a patch of road of its own. The road extends
// `half_width` world units on every side of those segments and vertices.
struct RoadMap {
    std::array<bool, vertex_count> road_vertices{}; // entry ix * 9 + iy, as in HeightGrid
    float half_width = 0.0f;
};

// Whether (x, y) lies on a road of `roads`: within half_width (inclusive) of a road segment or
// road vertex. Points outside the landblock are answered the same way; a NaN coordinate is on
// no road.
bool on_road(const RoadMap& roads, float x, float y) noexcept;
} // namespace sarnivelle_scenery_bake::height
