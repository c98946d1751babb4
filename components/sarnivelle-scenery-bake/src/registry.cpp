#include "registry.hpp"

#include <array>

#include "checks.hpp"

namespace sarnivelle_scenery_bake {
namespace {

namespace a = aabb::tests;
namespace h = height::tests;
namespace n = noise::tests;

constexpr std::array<const runner::StaticTestDescAndFn*, 27> checks = {
    &a::aabb_intersects_disjoint_check,
    &a::aabb_intersects_overlap_check,
    &a::aabb_intersects_touching_edges_count_as_intersect_check,
    &a::transform_local_aabb_no_rotation_check,
    &a::transform_local_aabb_quarter_turn_check,
    &a::transform_local_aabb_scale_doubles_extent_check,
    &a::transform_mesh_to_aabb_empty_returns_inf_sentinels_check,
    &a::transform_mesh_to_aabb_is_tighter_than_corner_form_on_octagon_check,
    &a::transform_mesh_to_aabb_no_rotation_check,
    &h::bilinear_at_vertex_equals_raw_height_check,
    &h::bilinear_clamps_oob_inputs_check,
    &h::bilinear_midpoint_is_corner_average_check,
    &h::get_split_dir_deterministic_across_calls_check,
    &h::get_split_dir_mixed_output_check,
    &h::normal_z_flat_is_one_and_ramp_is_cos45_check,
    &h::on_road_basic_check,
    &h::slope_flat_terrain_is_zero_check,
    &h::slope_linear_ramp_45deg_check,
    &h::triangle_plane_z_at_vertex_equals_raw_height_check,
    &h::triangle_plane_z_matches_bilinear_on_planar_ramp_check,
    &h::triangle_plane_z_midpoint_is_consistent_and_bounded_check,
    &n::displace_zero_returns_base_origin_check,
    &n::object_noise_is_deterministic_check,
    &n::prng_cell_mat_scene_thousand_thousand_check,
    &n::prng_constants_match_oru_check,
    &n::rotate_obj_zero_max_returns_zero_check,
    &n::scale_obj_min_equals_max_check,
};

} // namespace

std::span<const runner::StaticTestDescAndFn* const> registry() {
    return checks;
}

} // namespace sarnivelle_scenery_bake
