// Reference values that pin the order of operations of each height query: a grid of irregular
// decimal heights, and points at which every rearrangement of a query's formula that is equal
// in exact arithmetic (another order of a sum or product, another grouping of the slope's
// differences, the square root elsewhere, another base vertex for either triangle of either
// split) gives other bits. The tables are the output of reference_values.cpp, which evaluates
// each formula step by step in 32-bit floats apart from the library; above each row stand the
// result and the rearrangements that row tells apart.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "grids.hpp"

namespace sarnivelle_scenery_bake::height {
namespace {

using namespace grids;

// As in reference_values.cpp: heights (k^2 * 7919 + k * 31 + 13) mod 10007, in hundredths.
HeightGrid decimal_grid() {
    HeightGrid grid{};
    for (int k = 0; k < 81; ++k) {
        grid[static_cast<std::size_t>(k)] =
            static_cast<float>((k * k * 7919 + k * 31 + 13) % 10007) / 100.0f;
    }
    return grid;
}

struct Row {
    float x, y;
    std::uint32_t expected; // the bits of the result
};

const std::vector<Row> bilinear_rows = {
    // 24.2316589, not as by: sum order 0132; sum order 0213; sum order 0231; sum order 0312;
    // sum order 0321; sum order 1203; sum order 1230; sum order 1302; sum order 1320; sum
    // order 2301; sum order 2310; sum in pairs with term 1; sum in pairs with term 2; sum in
    // pairs with term 3; term 0 h*b*a; term 0 h*(a*b); term 1 h*(a*b); lerp y then x
    {28.38f, 15.75f, 0x41c1da70u},
    // 61.1888924, not as by: lerp x then y
    {153.88f, 124.38f, 0x4274c16du},
    // 45.6690979, not as by: term 1 h*b*a
    {115.48f, 180.18f, 0x4236ad28u},
    // 86.2179642, not as by: term 2 h*b*a
    {26.79f, 74.75f, 0x42ac6f99u},
    // 37.341217, not as by: term 3 h*(a*b)
    {22.26f, 31.26f, 0x42155d68u},
    // 64.3855438, not as by: term 3 h*b*a
    {94.48f, 36.23f, 0x4280c566u},
    // 73.0110779, not as by: term 2 h*(a*b)
    {8.74f, 174.23f, 0x429205acu},
};

const std::vector<Row> slope_rows = {
    // 0.823498189, not as by: dzdx chained; dzdy reciprocal
    {153.88f, 124.38f, 0x3f52d0c7u},
    // 0.89818567, not as by: dzdx reciprocal; hypot
    {135.08f, 70.87f, 0x3f65ef7fu},
    // 0.0282905009, not as by: dzdx sums first; dzdy sums first
    {22.26f, 31.26f, 0x3ce7c17bu},
    // 0.836162925, not as by: dzdy chained
    {49.58f, 116.25f, 0x3f560ec6u},
};

const std::vector<Row> normal_z_rows = {
    // 0.4506253, not as by: root of the quotient; cos of the slope
    {28.38f, 15.75f, 0x3ee6b85cu},
    // 0.679659367, not as by: dzdx chained; dzdx reciprocal; dzdy reciprocal
    {153.88f, 124.38f, 0x3f2dfe28u},
    // 0.379728347, not as by: dzdy sums first; dzdy chained
    {115.48f, 180.18f, 0x3ec26bc1u},
    // 0.279064089, not as by: one added to dzdy^2
    {26.79f, 74.75f, 0x3e8ee17du},
    // 0.682305634, not as by: dzdx sums first
    {182.22f, 183.88f, 0x3f2eab95u},
};

// Landblock 0xA9B4: rows in both triangles of cells of both splits.
const std::vector<Row> triangle_plane_rows = {
    // 21.3045883, not as by: Diag10To01 first based on V1; x and y terms together
    {28.38f, 15.75f, 0x41aa6fccu},
    // 51.83461, not as by: Diag10To01 first based on V2
    {153.88f, 124.38f, 0x424f56a4u},
    // 38.4404297, not as by: Diag00To11 first based on V1; d grouped late
    {115.48f, 180.18f, 0x4219c300u},
    // 59.112442, not as by: Diag00To11 second based on V2
    {25.11f, 104.13f, 0x426c7324u},
    // 88.6928329, not as by: Diag00To11 first based on V2
    {26.79f, 74.75f, 0x42b162bbu},
    // 72.8654633, not as by: Diag00To11 second based on V1
    {1.05f, 111.61f, 0x4291bb1eu},
    // 30.4267044, not as by: Diag10To01 second based on V2
    {130.83f, 142.78f, 0x41f369e4u},
    // 43.512188, not as by: Diag10To01 second based on V1
    {178.35f, 66.57f, 0x422e0c7bu},
};

void expect_rows(float (*query)(const HeightGrid&, float, float), const std::vector<Row>& rows) {
    const HeightGrid grid = decimal_grid();
    for (const Row& row : rows) {
        EXPECT_EQ(bits(query(grid, row.x, row.y)), row.expected) << row.x << ", " << row.y;
    }
}

TEST(ReferenceValues, bilinear_height_sums_and_multiplies_in_the_stated_order) {
    expect_rows(&bilinear_height_from_grid, bilinear_rows);
}

TEST(ReferenceValues, slope_groups_the_edge_differences_as_stated) {
    expect_rows(&slope_at, slope_rows);
}

TEST(ReferenceValues, normal_z_adds_one_then_takes_the_root_then_divides) {
    expect_rows(&normal_z_from_grid, normal_z_rows);
}

float fixture_triangle_plane(const HeightGrid& grid, float x, float y) {
    return triangle_plane_height_from_grid(grid, fixture_key, x, y);
}

TEST(ReferenceValues, triangle_plane_height_takes_each_triangle_from_its_first_vertex) {
    expect_rows(&fixture_triangle_plane, triangle_plane_rows);
}

} // namespace
} // namespace sarnivelle_scenery_bake::height
