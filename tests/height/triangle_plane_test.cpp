#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "grids.hpp"

namespace sarnivelle_scenery_bake::height {
namespace {

using namespace grids;

// ---- get_split_dir --------------------------------------------------------------------------

TEST(SplitDir, reference_cells_and_counts) {
    struct Row {
        std::uint16_t key;
        std::uint32_t cx, cy;
        SplitDir split;
    };
    const Row rows[] = {
        {0x0000, 0, 0, SplitDir::Diag00To11}, // h = 0xAE6470DB
        {0x0101, 0, 0, SplitDir::Diag10To01}, // h = 0x310B8BEB
        {0xA9B4, 0, 0, SplitDir::Diag00To11}, // h = 0xC15BD913
        {0xA9B4, 3, 4, SplitDir::Diag10To01}, // h = 0x5D7BD85C
        {0xFFFF, 7, 7, SplitDir::Diag00To11}, // h = 0xE8FB6F44
    };
    for (const Row& row : rows) {
        EXPECT_EQ(get_split_dir(row.key, row.cx, row.cy), row.split) << row.key;
    }

    // Every landblock has both splits; the fixture's has 40 cells of one and 24 of the other.
    for (std::uint32_t key = 0; key <= 0xFFFF; ++key) {
        int diag_00_to_11 = 0;
        for (std::uint32_t cell = 0; cell < 64; ++cell) {
            const auto split = get_split_dir(static_cast<std::uint16_t>(key), cell / 8, cell % 8);
            diag_00_to_11 += split == SplitDir::Diag00To11 ? 1 : 0;
        }
        ASSERT_TRUE(diag_00_to_11 > 0 && diag_00_to_11 < 64) << key;
        if (key == fixture_key) {
            EXPECT_EQ(diag_00_to_11, 40);
        }
    }
}

// ---- triangle_plane_height_from_grid --------------------------------------------------------

HeightGrid zero_but(std::size_t entry, float height) {
    HeightGrid grid{};
    grid[entry] = height;
    return grid;
}

TEST(TrianglePlane, reference_points_bit_for_bit) {
    struct Row {
        HeightGrid grid;
        float x, y, expected;
    };
    // Cell (0, 0) is split Diag00To11 and cell (3, 4) Diag10To01; entries 10 and 41 are their
    // corners c11.
    const Row rows[] = {
        {zero_but(10, 24.0f), 12.0f, 12.0f, 12.0f},  // centre, on the diagonal
        {zero_but(10, 24.0f), 18.0f, 6.0f, 6.0f},    // first triangle
        {zero_but(10, 24.0f), 6.0f, 18.0f, 6.0f},    // second triangle
        {zero_but(41, 24.0f), 84.0f, 108.0f, -0.0f}, // centre, first triangle, all corners 0
        {zero_but(41, 24.0f), 90.0f, 114.0f, 12.0f}, // second triangle
        {ramp_grid(), -10.0f, 5.0f, -10.0f},         // the border planes continue outside
        {ramp_grid(), 250.0f, 100.0f, 250.0f},
        {ramp_grid(), 192.0f, 50.0f, 192.0f}, // far edge: cell 7, u = 1
        {ramp_grid(), 1e30f, 10.0f, 1e30f},
        {ramp_grid(), -1e30f, 10.0f, -1e30f},
        {ramp_grid(), 3e9f, -3e9f, 3e9f},
        {ramp_grid(), inf, 10.0f, inf},
        {first_cell_corners(), 12.0f, 12.0f, 25.0f},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(bits(triangle_plane_height_from_grid(row.grid, fixture_key, row.x, row.y)),
                  bits(row.expected))
            << row.x << ", " << row.y;
    }
}

TEST(TrianglePlane, one_plane_is_exact_with_every_key) {
    for (std::uint32_t key = 0; key <= 0xFFFF; ++key) {
        ASSERT_EQ(bits(triangle_plane_height_from_grid(ramp_grid(), static_cast<std::uint16_t>(key),
                                                       40.0f, 80.0f)),
                  bits(40.0f))
            << key;
    }
}

TEST(TrianglePlane, vertices_with_whole_heights_are_exact) {
    const HeightGrid rough = grid_of(
        [](int ix, int iy) { return static_cast<float>((ix * 7919 + iy * 104729) % 1001); });
    // The fixture's landblock has cells of both splits.
    for (int ix = 0; ix < 9; ++ix) {
        for (int iy = 0; iy < 9; ++iy) {
            const float z = triangle_plane_height_from_grid(
                rough, fixture_key, 24.0f * static_cast<float>(ix), 24.0f * static_cast<float>(iy));
            // Equal as numbers: a height of 0.0 may come out as -0.0.
            EXPECT_EQ(z, rough[static_cast<std::size_t>(ix * 9 + iy)]) << ix << ", " << iy;
        }
    }
}

// NaN corners poison every point that reads them, so a finite result shows which cell a point
// was given; NaN coordinates give NaN.
TEST(TrianglePlane, cell_boundaries_and_nan) {
    const HeightGrid line_0_nan = grid_of([](int ix, int) { return ix == 0 ? nan : 1.0f; });
    EXPECT_TRUE(std::isnan(triangle_plane_height_from_grid(line_0_nan, fixture_key, 23.5f, 50.0f)));
    EXPECT_EQ(bits(triangle_plane_height_from_grid(line_0_nan, fixture_key, 24.0f, 50.0f)),
              bits(1.0f));
    const HeightGrid far_nan = grid_of([](int ix, int) { return ix >= 2 ? nan : 3.0f; });
    EXPECT_EQ(bits(triangle_plane_height_from_grid(far_nan, fixture_key, -0.0f, 10.0f)),
              bits(3.0f));

    for (const auto& [x, y] : {std::pair{nan, 10.0f}, {10.0f, nan}, {nan, nan}, {10.0f, -inf}}) {
        EXPECT_TRUE(std::isnan(triangle_plane_height_from_grid(ramp_grid(), fixture_key, x, y)));
    }
}

} // namespace
} // namespace sarnivelle_scenery_bake::height
