// Cost of the bounding-box and placement-noise checks, each of which must stay well under a
// millisecond, and of the module operations that scenery placement calls per object.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "runner/test_desc.hpp"
#include "sarnivelle_scenery_bake/aabb.hpp"
#include "sarnivelle_scenery_bake/checks/aabb.hpp"
#include "sarnivelle_scenery_bake/checks/noise.hpp"
#include "sarnivelle_scenery_bake/noise.hpp"

namespace {

namespace aabb = sarnivelle_scenery_bake::aabb;
namespace noise = sarnivelle_scenery_bake::noise;

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

// Every registered check of the two modules, by its name: the registered function runs its
// body on the module's own operations.
int main(int argc, char** argv) {
    for (const auto module : {aabb::tests::checks(), noise::tests::checks()}) {
        for (const runner::StaticTestDescAndFn* check : module) {
            benchmark::RegisterBenchmark(std::string(check->desc.name).c_str(),
                                         [fn = check->test](benchmark::State& state) {
                                             for (auto _ : state) {
                                                 fn();
                                             }
                                         });
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
