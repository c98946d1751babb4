// Batch terrain queries: many points of one landblock per call, on the widest vector
// instructions the running CPU has.
//
// Result i of every batch query is the same bits as the point query of height.hpp at
// (x[i], y[i]) (a NaN result is a NaN, payload aside), for every input: the batch paths evaluate
// the same formulas in the same order, with true divisions by 24.0 and no fused multiply-add.
//
// Spans: x and y hold the points, out receives one result per point. All three must have the
// same length, or the call throws std::invalid_argument naming the lengths before it writes
// anything; an empty batch does nothing. out may be the very same array as x or as y (the
// results then replace the coordinates); any other overlap of out with x or y gives unspecified
// values. The queries never allocate and never read outside the grid, the table or the spans.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "sarnivelle_scenery_bake/height.hpp"

namespace sarnivelle_scenery_bake::height {

// What is the same everywhere in a cell, for the 64 cells of one landblock. Entry
// cx * 8 + cy describes cell (cx, cy); the point queries pick the cell of a point as
// floor(v / 24.0) limited to 0..7 on each axis, and so do the batch queries.
struct CellTable {
    // get_split_dir of the landblock key and the cell.
    std::array<SplitDir, 64> split{};
    // slope_at and normal_z_from_grid anywhere in the cell.
    std::array<float, 64> slope{};
    std::array<float, 64> normal_z{};
    // Where the cell's diagonal meets the cell's far y edge, y = 24.0 * (cy + 1): x1 for
    // Diag00To11 and x0 for Diag10To01.
    std::array<float, 64> diagonal_end_x{};
    // The plane of each triangle of the cell as height = ((d - nx * x) - ny * y) / -576.0:
    // entry cx * 8 + cy for the first triangle of the split, entry 64 + cx * 8 + cy for the
    // second.
    std::array<float, 128> plane_d{};
    std::array<float, 128> plane_nx{};
    std::array<float, 128> plane_ny{};
};

// The cell table of a grid built from the landblock with key `landblock_key`.
CellTable make_cell_table(const HeightGrid& grid, std::uint16_t landblock_key) noexcept;

// The instruction sets a batch query can run on, narrowest first.
enum class BatchPath : std::uint8_t {
    Scalar, // one point at a time, in plain C++
    Sse2,   // 4 points at a time; every x86-64 CPU has it
    Avx2,   // 8 points at a time
    Avx512, // 16 points at a time
};

inline constexpr std::array<BatchPath, 4> all_batch_paths = {BatchPath::Scalar, BatchPath::Sse2,
                                                             BatchPath::Avx2, BatchPath::Avx512};

// "scalar", "sse2", "avx2" or "avx512": the names SARNIVELLE_HEIGHT_SIMD accepts.
const char* batch_path_name(BatchPath path) noexcept;

// Whether the running CPU (and operating system) can run `path`.
bool batch_path_supported(BatchPath path) noexcept;

// The path the queries below take when none is given: the widest supported one, unless the
// environment variable SARNIVELLE_HEIGHT_SIMD names another. A name the CPU cannot run, or no
// name of a path, falls back to the widest supported path and says so once on standard error.
// Chosen on the first call and fixed for the life of the process.
BatchPath selected_batch_path() noexcept;

// The queries below run on `path`, or on the widest supported path if the CPU cannot run it.

// bilinear_height_from_grid at every point.
void bilinear_heights(const HeightGrid& grid, std::span<const float> x, std::span<const float> y,
                      std::span<float> out, BatchPath path = selected_batch_path());

// triangle_plane_height_from_grid at every point, for the landblock whose grid and key `cells`
// was made from.
void triangle_plane_heights(const CellTable& cells, std::span<const float> x,
                            std::span<const float> y, std::span<float> out,
                            BatchPath path = selected_batch_path());

// slope_at at every point, from the grid `cells` was made from.
void slopes(const CellTable& cells, std::span<const float> x, std::span<const float> y,
            std::span<float> out, BatchPath path = selected_batch_path());

// normal_z_from_grid at every point, from the grid `cells` was made from.
void normal_zs(const CellTable& cells, std::span<const float> x, std::span<const float> y,
               std::span<float> out, BatchPath path = selected_batch_path());

} // namespace sarnivelle_scenery_bake::height
