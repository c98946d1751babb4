// Cost of the bounding-box and placement-noise checks, each of which must stay well under a
// millisecond, and of the module operations that scenery placement calls per object.
#include <array>
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "sarnivelle_scenery_bake/aabb.hpp"
#include "sarnivelle_scenery_bake/noise.hpp"

namespace {

namespace aabb = sarnivelle_scenery_bake::aabb;
namespace noise = sarnivelle_scenery_bake::noise;

template <void (*Body)()>
void check(benchmark::State& state) {
    for (auto _ : state) {
        Body();
    }
}

// The registered checks run their bodies on the module's own operations.
void aabb_intersects_overlap() {
    aabb::tests::check_intersects_overlap();
}
void aabb_intersects_disjoint() {
    aabb::tests::check_intersects_disjoint();
}
void aabb_intersects_touching() {
    aabb::tests::check_intersects_touching_edges();
}
void aabb_local_no_rotation() {
    aabb::tests::check_transform_local_no_rotation();
}
void aabb_local_quarter_turn() {
    aabb::tests::check_transform_local_quarter_turn();
}
void aabb_local_scale() {
    aabb::tests::check_transform_local_scale_doubles_extent();
}
void aabb_mesh_no_rotation() {
    aabb::tests::check_transform_mesh_no_rotation();
}
void aabb_mesh_octagon() {
    aabb::tests::check_transform_mesh_tighter_on_octagon();
}
void aabb_mesh_empty() {
    aabb::tests::check_transform_mesh_empty();
}
void noise_displace_zero() {
    noise::tests::check_displace_zero_returns_base();
}
void noise_deterministic() {
    noise::tests::check_object_noise_deterministic();
}
void noise_reference_value() {
    noise::tests::check_prng_reference_value();
}
void noise_constants() {
    noise::tests::check_prng_constants();
}
void noise_rotate_zero() {
    noise::tests::check_rotate_zero_max();
}
void noise_scale_fixed() {
    noise::tests::check_scale_min_equals_max();
}

BENCHMARK(check<aabb_intersects_overlap>)->Name("check/aabb_intersects_overlap");
BENCHMARK(check<aabb_intersects_disjoint>)->Name("check/aabb_intersects_disjoint");
BENCHMARK(check<aabb_intersects_touching>)->Name("check/aabb_intersects_touching");
BENCHMARK(check<aabb_local_no_rotation>)->Name("check/transform_local_no_rotation");
BENCHMARK(check<aabb_local_quarter_turn>)->Name("check/transform_local_quarter_turn");
BENCHMARK(check<aabb_local_scale>)->Name("check/transform_local_scale_doubles_extent");
BENCHMARK(check<aabb_mesh_no_rotation>)->Name("check/transform_mesh_no_rotation");
BENCHMARK(check<aabb_mesh_octagon>)->Name("check/transform_mesh_octagon");
BENCHMARK(check<aabb_mesh_empty>)->Name("check/transform_mesh_empty");
BENCHMARK(check<noise_displace_zero>)->Name("check/displace_zero_returns_base_origin");
BENCHMARK(check<noise_deterministic>)->Name("check/object_noise_is_deterministic");
BENCHMARK(check<noise_reference_value>)->Name("check/prng_cell_mat_scene_thousand_thousand");
BENCHMARK(check<noise_constants>)->Name("check/prng_constants_match_oru");
BENCHMARK(check<noise_rotate_zero>)->Name("check/rotate_obj_zero_max_returns_zero");
BENCHMARK(check<noise_scale_fixed>)->Name("check/scale_obj_min_equals_max");

// The world box of a mesh, per vertex count, under a turn that is not a quarter turn.
void transform_mesh_to_aabb(benchmark::State& state) {
    std::vector<aabb::Vec3> mesh(static_cast<std::size_t>(state.range(0)));
    for (std::size_t i = 0; i < mesh.size(); ++i) {
        const auto f = static_cast<float>(i);
        mesh[i] = {f * 0.25f, 100.0f - f * 0.5f, f * 0.125f};
    }
    const aabb::Placement placement{{96.0f, 48.0f, 10.0f}, 37.5f, 1.25f};
    for (auto _ : state) {
        benchmark::DoNotOptimize(aabb::transform_mesh_to_aabb(mesh, placement));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(transform_mesh_to_aabb)->Arg(8)->Arg(1024);

// The noise of one object: five draws of the cell hash.
void object_noise(benchmark::State& state) {
    const noise::NoiseLimits limits{12.0f, 360.0f, 0.8f, 1.25f};
    std::uint32_t object = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            noise::object_noise({100.0f, 50.0f, 10.0f}, {1352, 1447}, object++, limits));
    }
}
BENCHMARK(object_noise);

} // namespace

BENCHMARK_MAIN();
