// The names the executable's registry must hold, in registry order: written out here, apart
// from the registry itself, so that tests compare against what was meant.
#pragma once

#include <array>
#include <string_view>

namespace test_support {

inline constexpr std::array<std::string_view, 27> registry_names{
    "aabb::tests::aabb_intersects_disjoint",
    "aabb::tests::aabb_intersects_overlap",
    "aabb::tests::aabb_intersects_touching_edges_count_as_intersect",
    "aabb::tests::transform_local_aabb_no_rotation",
    "aabb::tests::transform_local_aabb_quarter_turn",
    "aabb::tests::transform_local_aabb_scale_doubles_extent",
    "aabb::tests::transform_mesh_to_aabb_empty_returns_inf_sentinels",
    "aabb::tests::transform_mesh_to_aabb_is_tighter_than_corner_form_on_octagon",
    "aabb::tests::transform_mesh_to_aabb_no_rotation",
    "height::tests::bilinear_at_vertex_equals_raw_height",
    "height::tests::bilinear_clamps_oob_inputs",
    "height::tests::bilinear_midpoint_is_corner_average",
    "height::tests::get_split_dir_deterministic_across_calls",
    "height::tests::get_split_dir_mixed_output",
    "height::tests::normal_z_flat_is_one_and_ramp_is_cos45",
    "height::tests::on_road_basic",
    "height::tests::slope_flat_terrain_is_zero",
    "height::tests::slope_linear_ramp_45deg",
    "height::tests::triangle_plane_z_at_vertex_equals_raw_height",
    "height::tests::triangle_plane_z_matches_bilinear_on_planar_ramp",
    "height::tests::triangle_plane_z_midpoint_is_consistent_and_bounded",
    "noise::tests::displace_zero_returns_base_origin",
    "noise::tests::object_noise_is_deterministic",
    "noise::tests::prng_cell_mat_scene_thousand_thousand",
    "noise::tests::prng_constants_match_oru",
    "noise::tests::rotate_obj_zero_max_returns_zero",
    "noise::tests::scale_obj_min_equals_max",
};

} // namespace test_support
