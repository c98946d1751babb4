// The batch kernels of each instruction-set path, as the dispatch in height_batch.cpp sees them.
//
// A kernel takes raw pointers and a count that the caller has checked. The grid and tables
// are passed as flat float arrays: the 81 vertex heights, and the arrays of a CellTable.
#pragma once

#include <cstddef>

namespace sarnivelle_scenery_bake::height::batch {

// The arrays of a CellTable that the kernels read.
struct CellArrays {
    const float* slope;          // 64 entries
    const float* normal_z;       // 64 entries
    const float* diagonal_end_x; // 64 entries
    const float* plane_d;        // 128 entries
    const float* plane_nx;       // 128 entries
    const float* plane_ny;       // 128 entries
    // The split of each cell: 0 for Diag00To11, 1 for Diag10To01.
    const unsigned char* split; // 64 entries
};

struct Kernels {
    void (*bilinear)(const float* grid, const float* x, const float* y, float* out, std::size_t n);
    void (*triangle_plane)(const CellArrays& cells, const float* x, const float* y, float* out,
                           std::size_t n);
    // Looks the cell of each point up in a 64-entry table: the slope or the normal Z.
    void (*cell_lookup)(const float* table, const float* x, const float* y, float* out,
                        std::size_t n);
};

// Each defined in its own file, compiled for its own instruction set; call only those the CPU
// supports.
extern const Kernels scalar_kernels;
extern const Kernels sse2_kernels;
extern const Kernels avx2_kernels;
extern const Kernels avx512_kernels;

} // namespace sarnivelle_scenery_bake::height::batch
