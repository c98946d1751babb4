// The checks of the height module, under the convention of the bounding-box checks
// (`sarnivelle_scenery_bake/checks/aabb.hpp`), and the synthetic terrain they build on.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "runner/test_desc.hpp"
#include "sarnivelle_scenery_bake/height.hpp"

namespace sarnivelle_scenery_bake::height::tests {

// A landblock record with the given 81 height indices; every other field has its fixed
// fixture value (id 0xA9B4FFFF, 81 zero vertex words).
CellLandblock synthetic_landblock(std::vector<std::uint8_t> height_indices);

// A region named "Synthetic" with the given 256-entry land height table; every other field
// has its fixed fixture value, and every other list and optional field is empty or absent.
Region synthetic_region(std::vector<float> land_height_table);

// The grid build and the queries the checks run; the defaults are the module's own.
struct Operations {
    HeightGrid (*build)(const CellLandblock&, const Region&) = &build_height_grid;
    float (*bilinear)(const HeightGrid&, float, float) = &bilinear_height_from_grid;
    float (*slope)(const HeightGrid&, float, float) = &slope_at;
    float (*normal_z)(const HeightGrid&, float, float) = &normal_z_from_grid;
    float (*triangle_plane)(const HeightGrid&, std::uint16_t, float,
                            float) = &triangle_plane_height_from_grid;
    SplitDir (*split_dir)(std::uint16_t, std::uint32_t, std::uint32_t) = &get_split_dir;
    bool (*road)(const RoadMap&, float, float) = &on_road;
};

// A body fails by panicking with its check's failure message.
void bilinear_at_vertex_equals_raw_height(const Operations& ops);
void bilinear_clamps_oob_inputs(const Operations& ops);
void bilinear_midpoint_is_corner_average(const Operations& ops);
void get_split_dir_deterministic_across_calls(const Operations& ops);
void get_split_dir_mixed_output(const Operations& ops);
void normal_z_flat_is_one_and_ramp_is_cos45(const Operations& ops);
void on_road_basic(const Operations& ops);
void slope_flat_terrain_is_zero(const Operations& ops);
void slope_linear_ramp_45deg(const Operations& ops);
void triangle_plane_z_at_vertex_equals_raw_height(const Operations& ops);
void triangle_plane_z_matches_bilinear_on_planar_ramp(const Operations& ops);
void triangle_plane_z_midpoint_is_consistent_and_bounded(const Operations& ops);

// The registered checks of this module, in ascending byte order of their names.
std::span<const runner::StaticTestDescAndFn* const> checks();

} // namespace sarnivelle_scenery_bake::height::tests
