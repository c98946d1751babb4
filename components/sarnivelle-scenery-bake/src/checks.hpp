// The registry entries that the modules define beside their checks.
#pragma once

#include "runner/test_desc.hpp"

#define SARNIVELLE_DECLARE_CHECK(name)                                                             \
    extern constinit const ::runner::StaticTestDescAndFn name##_check

namespace sarnivelle_scenery_bake::aabb::tests {
SARNIVELLE_DECLARE_CHECK(aabb_intersects_disjoint);
SARNIVELLE_DECLARE_CHECK(aabb_intersects_overlap);
SARNIVELLE_DECLARE_CHECK(aabb_intersects_touching_edges_count_as_intersect);
SARNIVELLE_DECLARE_CHECK(transform_local_aabb_no_rotation);
SARNIVELLE_DECLARE_CHECK(transform_local_aabb_quarter_turn);
SARNIVELLE_DECLARE_CHECK(transform_local_aabb_scale_doubles_extent);
SARNIVELLE_DECLARE_CHECK(transform_mesh_to_aabb_empty_returns_inf_sentinels);
SARNIVELLE_DECLARE_CHECK(transform_mesh_to_aabb_is_tighter_than_corner_form_on_octagon);
SARNIVELLE_DECLARE_CHECK(transform_mesh_to_aabb_no_rotation);
} // namespace sarnivelle_scenery_bake::aabb::tests

namespace sarnivelle_scenery_bake::height::tests {
SARNIVELLE_DECLARE_CHECK(bilinear_at_vertex_equals_raw_height);
SARNIVELLE_DECLARE_CHECK(bilinear_clamps_oob_inputs);
SARNIVELLE_DECLARE_CHECK(bilinear_midpoint_is_corner_average);
SARNIVELLE_DECLARE_CHECK(get_split_dir_deterministic_across_calls);
SARNIVELLE_DECLARE_CHECK(get_split_dir_mixed_output);
SARNIVELLE_DECLARE_CHECK(normal_z_flat_is_one_and_ramp_is_cos45);
SARNIVELLE_DECLARE_CHECK(on_road_basic);
SARNIVELLE_DECLARE_CHECK(slope_flat_terrain_is_zero);
SARNIVELLE_DECLARE_CHECK(slope_linear_ramp_45deg);
SARNIVELLE_DECLARE_CHECK(triangle_plane_z_at_vertex_equals_raw_height);
SARNIVELLE_DECLARE_CHECK(triangle_plane_z_matches_bilinear_on_planar_ramp);
SARNIVELLE_DECLARE_CHECK(triangle_plane_z_midpoint_is_consistent_and_bounded);
} // namespace sarnivelle_scenery_bake::height::tests

namespace sarnivelle_scenery_bake::noise::tests {
SARNIVELLE_DECLARE_CHECK(displace_zero_returns_base_origin);
SARNIVELLE_DECLARE_CHECK(object_noise_is_deterministic);
SARNIVELLE_DECLARE_CHECK(prng_cell_mat_scene_thousand_thousand);
SARNIVELLE_DECLARE_CHECK(prng_constants_match_oru);
SARNIVELLE_DECLARE_CHECK(rotate_obj_zero_max_returns_zero);
SARNIVELLE_DECLARE_CHECK(scale_obj_min_equals_max);
} // namespace sarnivelle_scenery_bake::noise::tests

#undef SARNIVELLE_DECLARE_CHECK
