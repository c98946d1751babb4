// Grids and tables the height tests share.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>
#include <vector>

#include "sarnivelle_scenery_bake/height.hpp"

namespace sarnivelle_scenery_bake::height::grids {

inline std::uint32_t bits(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

inline constexpr float nan = std::numeric_limits<float>::quiet_NaN();
inline constexpr float inf = std::numeric_limits<float>::infinity();
inline constexpr std::uint16_t fixture_key = 0xA9B4;

// The grid whose vertex (ix, iy) has height f(ix, iy).
template <class F>
HeightGrid grid_of(F f) {
    HeightGrid grid{};
    for (int ix = 0; ix < 9; ++ix) {
        for (int iy = 0; iy < 9; ++iy) {
            grid[static_cast<std::size_t>(ix * 9 + iy)] = f(ix, iy);
        }
    }
    return grid;
}

// Height 24 * ix: one plane, height = x.
inline HeightGrid ramp_grid() {
    return grid_of([](int ix, int) { return 24.0f * static_cast<float>(ix); });
}

// Height 2 * (ix * 9 + iy).
inline HeightGrid counting_grid() {
    return grid_of([](int ix, int iy) { return static_cast<float>(2 * (ix * 9 + iy)); });
}

// 10, 20, 30 and 40 at vertices (0, 0), (1, 0), (0, 1) and (1, 1); 0.0 elsewhere.
inline HeightGrid first_cell_corners() {
    HeightGrid grid{};
    grid[0] = 10.0f;
    grid[9] = 20.0f;
    grid[1] = 30.0f;
    grid[10] = 40.0f;
    return grid;
}

// A land height table whose entry k is k * scale.
inline std::vector<float> scaled_table(float scale) {
    std::vector<float> table(256);
    for (std::size_t k = 0; k < table.size(); ++k) {
        table[k] = static_cast<float>(k) * scale;
    }
    return table;
}

} // namespace sarnivelle_scenery_bake::height::grids
