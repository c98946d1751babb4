#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "grids.hpp"
#include "sarnivelle_scenery_bake/checks/height.hpp"

namespace sarnivelle_scenery_bake::height {
namespace {

using namespace grids;

// ---- the check fixture and build_height_grid ------------------------------------------------

TEST(Fixture, records_carry_the_given_lists_and_the_fixed_values) {
    const Region region = tests::synthetic_region(scaled_table(1.0f));
    EXPECT_EQ(region.name, "Synthetic");
    EXPECT_EQ(bits(region.land_definition.land_height_table.at(200)), bits(200.0f));
    EXPECT_EQ(region.land_definition.value_4, 8);
    EXPECT_EQ(region.word_1, 0x13000000u);
    EXPECT_TRUE(region.named_lists.list_a.empty() && region.terrain_desc.items.empty());
    EXPECT_FALSE(region.optional_list_a || region.optional_list_b || region.day_group_set ||
                 region.optional_block || region.terrain_desc.optional_value_1);

    const CellLandblock landblock = tests::synthetic_landblock(std::vector<std::uint8_t>(81, 200));
    EXPECT_EQ(landblock.id, 0xA9B4FFFFu);
    EXPECT_EQ(landblock.vertex_words, std::vector<std::uint16_t>(81, 0));
}

TEST(BuildHeightGrid, looks_each_vertex_up_in_the_table) {
    std::vector<std::uint8_t> counting(81);
    for (std::size_t k = 0; k < 81; ++k) {
        counting[k] = static_cast<std::uint8_t>(k);
    }
    const auto build = [](std::vector<std::uint8_t> indices, std::vector<float> table) {
        return build_height_grid(tests::synthetic_landblock(std::move(indices)),
                                 tests::synthetic_region(std::move(table)));
    };
    EXPECT_EQ(build(counting, scaled_table(2.0f)), counting_grid());

    // Index 0 names the first entry, 255 the last.
    std::vector<std::uint8_t> ends(81, 0);
    ends[80] = 255;
    std::vector<float> table(256, 1.0f);
    table[0] = -7.5f;
    table[255] = 1234.25f;
    const HeightGrid grid = build(ends, table);
    EXPECT_EQ(bits(grid[79]), bits(-7.5f));
    EXPECT_EQ(bits(grid[80]), bits(1234.25f));
}

TEST(BuildHeightGrid, rejects_lists_of_the_wrong_length_naming_field_and_sizes) {
    const auto message = [](std::size_t indices, std::size_t table) -> std::string {
        try {
            (void)build_height_grid(
                tests::synthetic_landblock(std::vector<std::uint8_t>(indices, 0)),
                tests::synthetic_region(std::vector<float>(table, 0.0f)));
        } catch (const RecordSizeError& error) {
            return error.what();
        }
        return "accepted";
    };
    EXPECT_EQ(message(80, 256),
              "cannot build a height grid: height_indices holds 80 entries, expected 81");
    EXPECT_EQ(message(82, 0),
              "cannot build a height grid: height_indices holds 82 entries, expected 81");
    EXPECT_EQ(message(81, 255),
              "cannot build a height grid: land_height_table holds 255 entries, expected 256");
    EXPECT_EQ(message(81, 0),
              "cannot build a height grid: land_height_table holds 0 entries, expected 256");
    EXPECT_EQ(message(81, 256), "accepted");
}

// ---- bilinear_height_from_grid --------------------------------------------------------------

TEST(Bilinear, reference_points_bit_for_bit) {
    struct Row {
        HeightGrid grid;
        float x, y, expected;
    };
    const Row rows[] = {
        {ramp_grid(), 40.0f, 80.0f, 39.999996185302734f}, // the blend order's residue
        {counting_grid(), 240.0f, 1e30f, 160.0f},         // beyond both far edges
        {counting_grid(), inf, inf, 160.0f},              //
        {counting_grid(), 500.0f, 30.0f, 146.5f},         // between (8, 1) and (8, 2)
        {counting_grid(), -0.5f, -inf, 0.0f},             // below the near edges
        {ramp_grid(), -10.0f, 5.0f, 0.0f},                //
        {ramp_grid(), 250.0f, 100.0f, 192.0f},            //
        {counting_grid(), nan, 96.0f, 8.0f},              // NaN counts as 0.0
        {counting_grid(), nan, nan, 0.0f},                //
    };
    for (const Row& row : rows) {
        EXPECT_EQ(bits(bilinear_height_from_grid(row.grid, row.x, row.y)), bits(row.expected))
            << row.x << ", " << row.y;
    }
    for (int ix = 0; ix < 9; ++ix) {
        for (int iy = 0; iy < 9; ++iy) {
            const float z = bilinear_height_from_grid(
                counting_grid(), 24.0f * static_cast<float>(ix), 24.0f * static_cast<float>(iy));
            EXPECT_EQ(bits(z), bits(static_cast<float>(2 * (ix * 9 + iy))));
        }
    }
}

// With height 1 on one vertex line and 0 elsewhere, a point on a vertex line of the other axis
// reads the fraction itself: a true division by 24, not a multiplication by its reciprocal.
TEST(Bilinear, fractions) {
    const auto along_x = [](float x, float y, int line) {
        return bilinear_height_from_grid(
            grid_of([&](int ix, int) { return ix == line ? 1.0f : 0.0f; }), x, y);
    };
    const auto along_y = [](float x, float y, int line) {
        return bilinear_height_from_grid(
            grid_of([&](int, int iy) { return iy == line ? 1.0f : 0.0f; }), x, y);
    };
    EXPECT_EQ(bits(along_x(40.0f, 72.0f, 2)), bits(0.6666666269302368f)); // (40, 80): cell (1, 3)
    EXPECT_EQ(bits(along_y(72.0f, 80.0f, 4)), bits(0.33333325386047363f));
    EXPECT_EQ(bits(along_x(50.0f, 96.0f, 3)), bits(0.08333325386047363f)); // (50, 100): (2, 4)
    EXPECT_EQ(bits(along_y(48.0f, 100.0f, 5)), bits(0.16666650772094727f));
}

// ---- slope_at and normal_z_from_grid --------------------------------------------------------

TEST(SlopeAndNormal, uneven_ground) {
    // dzdx = 10/24, dzdy = 20/24, s = 0.8680555.
    EXPECT_LT(std::fabs(slope_at(first_cell_corners(), 12.0f, 12.0f) - 0.75005275f), 1e-6f);
    EXPECT_LT(std::fabs(normal_z_from_grid(first_cell_corners(), 1.0f, 23.0f) - 0.7316529f), 1e-6f);
    // Normal Z and the cosine of the slope agree.
    for (float x = 3.0f; x < 192.0f; x += 17.0f) {
        for (float y = 5.0f; y < 192.0f; y += 23.0f) {
            EXPECT_LT(std::fabs(normal_z_from_grid(counting_grid(), x, y) -
                                std::cos(slope_at(counting_grid(), x, y))),
                      1e-5f);
        }
    }
}

TEST(SlopeAndNormal, points_on_or_beyond_an_edge_use_the_nearest_border_cell) {
    // Every cell leans differently.
    const HeightGrid grid =
        grid_of([](int ix, int iy) { return static_cast<float>(ix * ix + 3 * iy * iy); });
    struct Row {
        float x, y, inside_x, inside_y;
    };
    const Row rows[] = {{192.0f, 100.0f, 180.0f, 100.0f}, {100.0f, 192.0f, 100.0f, 180.0f},
                        {1e30f, inf, 180.0f, 180.0f},     {-0.0f, -1.0f, 12.0f, 12.0f},
                        {-inf, -3e9f, 12.0f, 12.0f},      {nan, nan, 12.0f, 12.0f},
                        {24.0f, 48.0f, 36.0f, 60.0f}};
    for (const Row& row : rows) {
        EXPECT_EQ(bits(slope_at(grid, row.x, row.y)),
                  bits(slope_at(grid, row.inside_x, row.inside_y)))
            << row.x << ", " << row.y;
        EXPECT_EQ(bits(normal_z_from_grid(grid, row.x, row.y)),
                  bits(normal_z_from_grid(grid, row.inside_x, row.inside_y)))
            << row.x << ", " << row.y;
    }
    EXPECT_NE(bits(slope_at(grid, 12.0f, 12.0f)), bits(slope_at(grid, 180.0f, 180.0f)));
}

} // namespace
} // namespace sarnivelle_scenery_bake::height
