#include "sarnivelle_scenery_bake/height_batch.hpp"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "batch/kernels.hpp"

namespace sarnivelle_scenery_bake::height {

namespace {

struct Corner {
    float x;
    float y;
    float z;
};

struct Plane {
    float d;
    float nx;
    float ny;
};

// The plane through (V0, V1, V2) as the point query computes it: edges from V0 to V1 and V2,
// their cross product n, and d = (n.x * V0.x + n.y * V0.y) + n.z * V0.z. n.z is -576.0 for
// every triangle of a cell.
Plane plane_of(const Corner& v0, const Corner& v1, const Corner& v2) {
    const Corner e1{v1.x - v0.x, v1.y - v0.y, v1.z - v0.z};
    const Corner e2{v2.x - v0.x, v2.y - v0.y, v2.z - v0.z};
    const float nx = e1.y * e2.z - e1.z * e2.y;
    const float ny = e1.z * e2.x - e1.x * e2.z;
    const float nz = e1.x * e2.y - e1.y * e2.x;
    return {(nx * v0.x + ny * v0.y) + nz * v0.z, nx, ny};
}

} // namespace

CellTable make_cell_table(const HeightGrid& grid, std::uint16_t landblock_key) noexcept {
    CellTable table;
    for (std::uint32_t cx = 0; cx < 8; ++cx) {
        for (std::uint32_t cy = 0; cy < 8; ++cy) {
            const std::size_t cell = cx * 8 + cy;
            const float x0 = cell_size * static_cast<float>(cx);
            const float x1 = x0 + cell_size;
            const float y0 = cell_size * static_cast<float>(cy);
            const float y1 = y0 + cell_size;

            // The gradient is the same everywhere in the cell: ask at its centre.
            table.slope[cell] = slope_at(grid, x0 + 12.0f, y0 + 12.0f);
            table.normal_z[cell] = normal_z_from_grid(grid, x0 + 12.0f, y0 + 12.0f);

            const SplitDir split = get_split_dir(landblock_key, cx, cy);
            table.split[cell] = split;
            const Corner c00{x0, y0, grid[cx * 9 + cy]};
            const Corner c10{x1, y0, grid[(cx + 1) * 9 + cy]};
            const Corner c01{x0, y1, grid[cx * 9 + cy + 1]};
            const Corner c11{x1, y1, grid[(cx + 1) * 9 + cy + 1]};
            const bool diag_00_to_11 = split == SplitDir::Diag00To11;
            table.diagonal_end_x[cell] = diag_00_to_11 ? x1 : x0;
            const Plane first = diag_00_to_11 ? plane_of(c00, c11, c10) : plane_of(c00, c01, c10);
            const Plane second = diag_00_to_11 ? plane_of(c01, c11, c00) : plane_of(c10, c01, c11);
            table.plane_d[cell] = first.d;
            table.plane_nx[cell] = first.nx;
            table.plane_ny[cell] = first.ny;
            table.plane_d[64 + cell] = second.d;
            table.plane_nx[64 + cell] = second.nx;
            table.plane_ny[64 + cell] = second.ny;
        }
    }
    return table;
}

const char* batch_path_name(BatchPath path) noexcept {
    switch (path) {
    case BatchPath::Scalar:
        return "scalar";
    case BatchPath::Sse2:
        return "sse2";
    case BatchPath::Avx2:
        return "avx2";
    case BatchPath::Avx512:
        return "avx512";
    }
    return "unknown";
}

bool batch_path_supported(BatchPath path) noexcept {
    // Also reads whether the operating system saves the wider registers.
    __builtin_cpu_init();
    switch (path) {
    case BatchPath::Scalar:
    case BatchPath::Sse2:
        return true;
    case BatchPath::Avx2:
        return __builtin_cpu_supports("avx2") != 0;
    case BatchPath::Avx512:
        return __builtin_cpu_supports("avx512f") != 0;
    }
    return false;
}

namespace {

BatchPath widest_supported_path() {
    for (auto it = all_batch_paths.rbegin(); it != all_batch_paths.rend(); ++it) {
        if (batch_path_supported(*it)) {
            return *it;
        }
    }
    return BatchPath::Scalar;
}

constexpr const char* simd_variable = "SARNIVELLE_HEIGHT_SIMD";

BatchPath choose_path() {
    const BatchPath widest = widest_supported_path();
    const char* requested = std::getenv(simd_variable);
    if (requested == nullptr || *requested == '\0') {
        return widest;
    }
    for (const BatchPath path : all_batch_paths) {
        if (std::string_view(requested) != batch_path_name(path)) {
            continue;
        }
        if (batch_path_supported(path)) {
            return path;
        }
        std::fprintf(stderr, "%s=%s: this CPU cannot run that path; using %s\n", simd_variable,
                     requested, batch_path_name(widest));
        return widest;
    }
    std::fprintf(stderr, "%s=%s: not a path (scalar, sse2, avx2 or avx512); using %s\n",
                 simd_variable, requested, batch_path_name(widest));
    return widest;
}

const batch::Kernels& kernels_for(BatchPath path) {
    if (!batch_path_supported(path)) {
        path = widest_supported_path();
    }
    switch (path) {
    case BatchPath::Scalar:
        break;
    case BatchPath::Sse2:
        return batch::sse2_kernels;
    case BatchPath::Avx2:
        return batch::avx2_kernels;
    case BatchPath::Avx512:
        return batch::avx512_kernels;
    }
    return batch::scalar_kernels;
}

// Throws, naming the lengths, unless the three spans have the same length.
void check_lengths(const char* query, std::size_t x, std::size_t y, std::size_t out) {
    if (x != y) {
        throw std::invalid_argument(std::string(query) + ": x holds " + std::to_string(x) +
                                    " values but y holds " + std::to_string(y));
    }
    if (out != x) {
        throw std::invalid_argument(std::string(query) + ": out holds " + std::to_string(out) +
                                    " values for " + std::to_string(x) + " points");
    }
}

static_assert(sizeof(SplitDir) == 1 && static_cast<unsigned>(SplitDir::Diag00To11) == 0 &&
                  static_cast<unsigned>(SplitDir::Diag10To01) == 1,
              "the kernels read the splits as bytes, 0 for Diag00To11");

batch::CellArrays arrays_of(const CellTable& cells) {
    return {cells.slope.data(),
            cells.normal_z.data(),
            cells.diagonal_end_x.data(),
            cells.plane_d.data(),
            cells.plane_nx.data(),
            cells.plane_ny.data(),
            reinterpret_cast<const unsigned char*>(cells.split.data())};
}

} // namespace

BatchPath selected_batch_path() noexcept {
    static const BatchPath chosen = choose_path();
    return chosen;
}

void bilinear_heights(const HeightGrid& grid, std::span<const float> x, std::span<const float> y,
                      std::span<float> out, BatchPath path) {
    check_lengths("bilinear_heights", x.size(), y.size(), out.size());
    kernels_for(path).bilinear(grid.data(), x.data(), y.data(), out.data(), out.size());
}

void triangle_plane_heights(const CellTable& cells, std::span<const float> x,
                            std::span<const float> y, std::span<float> out, BatchPath path) {
    check_lengths("triangle_plane_heights", x.size(), y.size(), out.size());
    kernels_for(path).triangle_plane(arrays_of(cells), x.data(), y.data(), out.data(), out.size());
}

void slopes(const CellTable& cells, std::span<const float> x, std::span<const float> y,
            std::span<float> out, BatchPath path) {
    check_lengths("slopes", x.size(), y.size(), out.size());
    kernels_for(path).cell_lookup(cells.slope.data(), x.data(), y.data(), out.data(), out.size());
}

void normal_zs(const CellTable& cells, std::span<const float> x, std::span<const float> y,
               std::span<float> out, BatchPath path) {
    check_lengths("normal_zs", x.size(), y.size(), out.size());
    kernels_for(path).cell_lookup(cells.normal_z.data(), x.data(), y.data(), out.data(),
                                  out.size());
}

} // namespace sarnivelle_scenery_bake::height
