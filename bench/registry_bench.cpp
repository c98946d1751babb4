// The registry guards at the start of a run, on a registry of 10,000 checks: every defined
// check looked up in the registry, and the registry searched for a name listed twice. Also the
// walk over the loaded modules that finds the defined checks, and the sort of automatic
// registration.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/check_records.hpp"
#include "run/registry_guard.hpp"
#include "runner/test_desc.hpp"

namespace {

struct Registry {
    std::vector<std::string> names;
    std::vector<runner::StaticTestDescAndFn> checks;
    std::vector<const runner::StaticTestDescAndFn*> listed;
    std::vector<const runner::StaticTestDescAndFn*> defined;

    explicit Registry(std::size_t count) : names(count), checks(count) {
        for (std::size_t k = 0; k < count; ++k) {
            names[k] = "trivial::tests::check_" + std::to_string(k + 1);
            checks[k].desc.name = names[k];
            checks[k].desc.source_file = "bench/process/trivial_checks.cpp";
            checks[k].desc.start_line = static_cast<std::uint32_t>(k + 5);
        }
        for (const auto& check : checks) {
            listed.push_back(&check);
        }
        // The records come in link order, not in registry order.
        defined = listed;
        std::shuffle(defined.begin(), defined.end(), std::mt19937(7));
    }
};

void guards_10000(benchmark::State& state) {
    const Registry registry(10000);
    for (auto _ : state) {
        benchmark::DoNotOptimize(runner::registry_problem(registry.listed, registry.defined));
    }
}
BENCHMARK(guards_10000)->Unit(benchmark::kMicrosecond);

void sorted_by_name_10000(benchmark::State& state) {
    const Registry registry(10000);
    for (auto _ : state) {
        benchmark::DoNotOptimize(runner::sorted_by_name(registry.defined));
    }
}
BENCHMARK(sorted_by_name_10000)->Unit(benchmark::kMicrosecond);

void loaded_check_records(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(runner::platform::loaded_check_records());
    }
}
BENCHMARK(loaded_check_records)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
