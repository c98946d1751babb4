// Cost of building a height grid and of each query: latency, with every query depending on the
// previous result, and throughput over 4096 points in and around the landblock. Then the batch
// queries on each instruction-set path, at batch sizes from 64 to 1048576 points, and the cell
// table they read.
#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "sarnivelle_scenery_bake/checks/height.hpp"
#include "sarnivelle_scenery_bake/height.hpp"
#include "sarnivelle_scenery_bake/height_batch.hpp"

namespace {

using namespace sarnivelle_scenery_bake::height;

constexpr std::uint16_t key = 0xA9B4;

HeightGrid uneven_grid() {
    HeightGrid grid{};
    for (std::size_t k = 0; k < grid.size(); ++k) {
        grid[k] = static_cast<float>((k * 7919) % 257) * 0.75f;
    }
    return grid;
}

struct Point {
    float x;
    float y;
};

// Points of the landblock and a border of 24 units around it.
const std::vector<Point>& points() {
    static const std::vector<Point> cached = [] {
        std::mt19937 random(12345);
        std::uniform_real_distribution<float> coordinate(-24.0f, 216.0f);
        std::vector<Point> out(4096);
        for (Point& p : out) {
            p = {coordinate(random), coordinate(random)};
        }
        return out;
    }();
    return cached;
}

void build_grid(benchmark::State& state) {
    std::vector<std::uint8_t> indices(vertex_count);
    std::vector<float> table(land_height_count);
    for (std::size_t k = 0; k < indices.size(); ++k) {
        indices[k] = static_cast<std::uint8_t>(k * 3);
    }
    for (std::size_t k = 0; k < table.size(); ++k) {
        table[k] = static_cast<float>(k) * 0.5f;
    }
    const CellLandblock landblock = tests::synthetic_landblock(std::move(indices));
    const Region region = tests::synthetic_region(std::move(table));
    for (auto _ : state) {
        benchmark::DoNotOptimize(build_height_grid(landblock, region));
    }
}
BENCHMARK(build_grid);

// Each query's point depends on the previous result, so queries cannot overlap.
template <float (*Query)(const HeightGrid&, float, float)>
void latency(benchmark::State& state) {
    const HeightGrid grid = uneven_grid();
    const std::vector<Point>& ps = points();
    float carry = 0.0f;
    std::size_t i = 0;
    for (auto _ : state) {
        const Point p = ps[i++ & 4095];
        carry = Query(grid, p.x + carry * 1e-30f, p.y);
    }
    benchmark::DoNotOptimize(carry);
}

template <float (*Query)(const HeightGrid&, float, float)>
void throughput(benchmark::State& state) {
    const HeightGrid grid = uneven_grid();
    const std::vector<Point>& ps = points();
    for (auto _ : state) {
        float sum = 0.0f;
        for (const Point& p : ps) {
            sum += Query(grid, p.x, p.y);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ps.size()));
}

float triangle_plane(const HeightGrid& grid, float x, float y) {
    return triangle_plane_height_from_grid(grid, key, x, y);
}

BENCHMARK(latency<bilinear_height_from_grid>)->Name("bilinear/latency");
BENCHMARK(throughput<bilinear_height_from_grid>)->Name("bilinear/throughput");
BENCHMARK(latency<triangle_plane>)->Name("triangle_plane/latency");
BENCHMARK(throughput<triangle_plane>)->Name("triangle_plane/throughput");
BENCHMARK(latency<slope_at>)->Name("slope/latency");
BENCHMARK(throughput<slope_at>)->Name("slope/throughput");
BENCHMARK(latency<normal_z_from_grid>)->Name("normal_z/latency");
BENCHMARK(throughput<normal_z_from_grid>)->Name("normal_z/throughput");

// ---- batch queries ----

// The path the batch queries take by default, in the context printed before the results.
const bool path_in_context = [] {
    benchmark::AddCustomContext("height batch path", batch_path_name(selected_batch_path()));
    return true;
}();

// x and y of `count` points spread like those of points().
struct Batch {
    std::vector<float> x;
    std::vector<float> y;
};

const Batch& batch_of(std::size_t count) {
    static std::vector<std::pair<std::size_t, Batch>> cached;
    for (const auto& [n, batch] : cached) {
        if (n == count) {
            return batch;
        }
    }
    std::mt19937 random(54321);
    std::uniform_real_distribution<float> coordinate(-24.0f, 216.0f);
    Batch batch;
    for (std::size_t i = 0; i < count; ++i) {
        batch.x.push_back(coordinate(random));
        batch.y.push_back(coordinate(random));
    }
    return cached.emplace_back(count, std::move(batch)).second;
}

enum class BatchQuery { Bilinear, TrianglePlane, Slope, NormalZ };

// Points per second of one batch query on one path; the batch size is the argument.
void batch(benchmark::State& state, BatchQuery query, BatchPath path) {
    if (!batch_path_supported(path)) {
        state.SkipWithError("this CPU cannot run the path");
        return;
    }
    const HeightGrid grid = uneven_grid();
    const CellTable cells = make_cell_table(grid, key);
    const Batch& in = batch_of(static_cast<std::size_t>(state.range(0)));
    std::vector<float> out(in.x.size());
    for (auto _ : state) {
        switch (query) {
        case BatchQuery::Bilinear:
            bilinear_heights(grid, in.x, in.y, out, path);
            break;
        case BatchQuery::TrianglePlane:
            triangle_plane_heights(cells, in.x, in.y, out, path);
            break;
        case BatchQuery::Slope:
            slopes(cells, in.x, in.y, out, path);
            break;
        case BatchQuery::NormalZ:
            normal_zs(cells, in.x, in.y, out, path);
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

const bool batch_benchmarks_registered = [] {
    constexpr std::pair<BatchQuery, const char*> queries[] = {
        {BatchQuery::Bilinear, "bilinear"},
        {BatchQuery::TrianglePlane, "triangle_plane"},
        {BatchQuery::Slope, "slope"},
        {BatchQuery::NormalZ, "normal_z"},
    };
    for (const auto& [query, name] : queries) {
        for (const BatchPath path : all_batch_paths) {
            const std::string full = std::string(name) + "/batch/" + batch_path_name(path);
            benchmark::RegisterBenchmark(full.c_str(), batch, query, path)
                ->Arg(64)
                ->Arg(4096)
                ->Arg(1 << 20);
        }
    }
    return true;
}();

// The cell table the batch triangle-plane, slope and normal queries read: once per grid.
void cell_table(benchmark::State& state) {
    const HeightGrid grid = uneven_grid();
    for (auto _ : state) {
        benchmark::DoNotOptimize(make_cell_table(grid, key));
    }
}
BENCHMARK(cell_table);

} // namespace

BENCHMARK_MAIN();
