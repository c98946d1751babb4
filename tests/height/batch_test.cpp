// The batch queries against the point queries, bit for bit, on every path this CPU can run.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iostream>
#include <limits>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.hpp"
#include "grids.hpp"
#include "sarnivelle_scenery_bake/height_batch.hpp"

namespace sarnivelle_scenery_bake::height {
namespace {

using namespace grids;

// About 2^22 points per query and path; a sanitized build runs 1/16 of them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t property_points = std::size_t{1} << 18;
#else
constexpr std::size_t property_points = std::size_t{1} << 22;
#endif

// What the tests fill output arrays with before a call, to see what the call wrote.
constexpr float guard_value = -12345.5f;

// ---- inputs ---------------------------------------------------------------------------------

// v moved by `steps` ulps, up for positive steps.
float nudge(float v, int steps) {
    for (; steps > 0; --steps) {
        v = std::nextafter(v, inf);
    }
    for (; steps < 0; ++steps) {
        v = std::nextafter(v, -inf);
    }
    return v;
}

// Coordinates of every kind the queries must answer alike, drawn with a fixed seed: uniform in
// and around the landblock, on cell edges and diagonals give or take up to 3 ulps, far outside,
// and the special values (NaN with any payload and sign, infinities, zeros, subnormals).
struct Points {
    std::vector<float> x;
    std::vector<float> y;
};

const Points& property_inputs() {
    static const Points points = [] {
        std::mt19937 random(20261208);
        const auto uniform = [&](float lo, float hi) {
            return std::uniform_real_distribution<float>(lo, hi)(random);
        };
        const auto integer = [&](int lo, int hi) {
            return std::uniform_int_distribution<int>(lo, hi)(random);
        };
        const auto special = [&]() -> float {
            const std::uint32_t sign = static_cast<std::uint32_t>(integer(0, 1)) << 31;
            const auto payload = static_cast<std::uint32_t>(integer(1, (1 << 23) - 1));
            switch (integer(0, 5)) {
            case 0:
                return std::bit_cast<float>(sign | 0x7F800000u | payload); // NaN
            case 1:
                return std::bit_cast<float>(sign | 0x7F800000u); // infinity
            case 2:
                return std::bit_cast<float>(sign); // zero
            case 3:
                return std::bit_cast<float>(sign | payload); // subnormal
            case 4:
                return sign != 0 ? -std::numeric_limits<float>::max()
                                 : std::numeric_limits<float>::max();
            default:
                return sign != 0 ? -std::numeric_limits<float>::min()
                                 : std::numeric_limits<float>::min();
            }
        };
        const auto coordinate = [&]() -> float {
            const int kind = integer(0, 99);
            if (kind < 45) {
                return uniform(-30.0f, 222.0f);
            }
            if (kind < 70) {
                return nudge(24.0f * static_cast<float>(integer(-1, 9)), integer(-3, 3));
            }
            if (kind < 85) {
                const float magnitude = std::exp2(uniform(8.0f, 127.0f));
                return integer(0, 1) != 0 ? magnitude : -magnitude;
            }
            return special();
        };
        Points out;
        out.x.resize(property_points);
        out.y.resize(property_points);
        for (std::size_t i = 0; i < property_points; ++i) {
            if (integer(0, 99) < 20) {
                // On one of the diagonals of a cell in or next to the landblock.
                const float x0 = 24.0f * static_cast<float>(integer(-1, 8));
                const float y0 = 24.0f * static_cast<float>(integer(-1, 8));
                const float along = 24.0f * uniform(0.0f, 1.0f);
                out.x[i] = nudge(x0 + along, integer(-3, 3));
                out.y[i] =
                    nudge(integer(0, 1) != 0 ? y0 + along : y0 + 24.0f - along, integer(-3, 3));
            } else {
                out.x[i] = coordinate();
                out.y[i] = coordinate();
            }
        }
        return out;
    }();
    return points;
}

struct Terrain {
    const char* name;
    HeightGrid grid;
    std::uint16_t key;
};

// Flat, a ramp, random heights and extreme heights, under keys that vary the splits. The
// property test gives each terrain an equal share of the points.
const std::vector<Terrain>& terrains() {
    static const std::vector<Terrain> all = [] {
        std::mt19937 random(7);
        const auto uniform = [&](float lo, float hi) {
            return std::uniform_real_distribution<float>(lo, hi)(random);
        };
        constexpr std::array<float, 10> extremes = {std::numeric_limits<float>::max(),
                                                    -std::numeric_limits<float>::max(),
                                                    inf,
                                                    -inf,
                                                    nan,
                                                    -0.0f,
                                                    1e-45f,
                                                    -3e-39f,
                                                    1e30f,
                                                    -1e-30f};
        const auto extreme = [&](int, int) {
            return random() % 3 == 0 ? extremes[random() % extremes.size()] : uniform(-1e6f, 1e6f);
        };
        return std::vector<Terrain>{
            {"flat", grid_of([](int, int) { return 5.0f; }), 0x0000},
            {"ramp", ramp_grid(), 0xA9B4},
            {"counting", counting_grid(), 0xFFFF},
            {"random", grid_of([&](int, int) { return uniform(-1000.0f, 1000.0f); }), 0x1234},
            {"random", grid_of([&](int, int) { return uniform(-1.0f, 1.0f); }), 0x80FF},
            {"random", grid_of([&](int, int) { return uniform(-1e5f, 1e5f); }), 0x5A3C},
            {"extreme", grid_of(extreme), 0xC001},
            {"extreme", grid_of(extreme), 0x0F0F},
        };
    }();
    return all;
}

// ---- the queries, as point and as batch ------------------------------------------------------

enum class Query { Bilinear, TrianglePlane, Slope, NormalZ };
constexpr std::array<Query, 4> all_queries = {Query::Bilinear, Query::TrianglePlane, Query::Slope,
                                              Query::NormalZ};

const char* query_name(Query query) {
    constexpr std::array<const char*, 4> names = {"bilinear", "triangle_plane", "slope",
                                                  "normal_z"};
    return names[static_cast<std::size_t>(query)];
}

float point_query(Query query, const Terrain& terrain, float x, float y) {
    switch (query) {
    case Query::Bilinear:
        return bilinear_height_from_grid(terrain.grid, x, y);
    case Query::TrianglePlane:
        return triangle_plane_height_from_grid(terrain.grid, terrain.key, x, y);
    case Query::Slope:
        return slope_at(terrain.grid, x, y);
    case Query::NormalZ:
        return normal_z_from_grid(terrain.grid, x, y);
    }
    return 0.0f;
}

void batch_query(Query query, const Terrain& terrain, const CellTable& cells,
                 std::span<const float> x, std::span<const float> y, std::span<float> out,
                 BatchPath path) {
    switch (query) {
    case Query::Bilinear:
        return bilinear_heights(terrain.grid, x, y, out, path);
    case Query::TrianglePlane:
        return triangle_plane_heights(cells, x, y, out, path);
    case Query::Slope:
        return slopes(cells, x, y, out, path);
    case Query::NormalZ:
        return normal_zs(cells, x, y, out, path);
    }
}

// The same bits, or NaN on both sides.
bool same_result(float expected, float actual) {
    return bits(expected) == bits(actual) || (std::isnan(expected) && std::isnan(actual));
}

// Compares out[i] with the point query at (x[i], y[i]); describes the first mismatch.
::testing::AssertionResult matches_point_queries(Query query, const Terrain& terrain,
                                                 std::span<const float> x, std::span<const float> y,
                                                 std::span<const float> out) {
    std::size_t mismatches = 0;
    std::string first;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float expected = point_query(query, terrain, x[i], y[i]);
        if (!same_result(expected, out[i]) && mismatches++ == 0) {
            first = "point " + std::to_string(i) + " (" + std::to_string(x[i]) + " [" +
                    std::to_string(bits(x[i])) + "], " + std::to_string(y[i]) + " [" +
                    std::to_string(bits(y[i])) + "]): point query " + std::to_string(expected) +
                    " [" + std::to_string(bits(expected)) + "], batch " + std::to_string(out[i]) +
                    " [" + std::to_string(bits(out[i])) + "]";
        }
    }
    if (mismatches == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << mismatches << " of " << out.size() << " results differ on terrain " << terrain.name
           << " (key " << terrain.key << "); first at " << first;
}

// ---- one property test per query and path ----------------------------------------------------

class BatchQuery : public ::testing::TestWithParam<std::tuple<Query, BatchPath>> {};

TEST_P(BatchQuery, equals_the_point_query_bit_for_bit) {
    const auto [query, path] = GetParam();
    if (!batch_path_supported(path)) {
        GTEST_SKIP() << "this CPU cannot run " << batch_path_name(path);
    }
    const Points& points = property_inputs();
    const std::size_t share = property_points / terrains().size();
    for (std::size_t t = 0; t < terrains().size(); ++t) {
        const Terrain& terrain = terrains()[t];
        // Slices of different lengths, so that most end in a partial vector.
        const std::size_t n = share - t;
        const std::span<const float> x(points.x.data() + t * share, n);
        const std::span<const float> y(points.y.data() + t * share, n);
        std::vector<float> out(n);
        batch_query(query, terrain, make_cell_table(terrain.grid, terrain.key), x, y, out, path);
        EXPECT_TRUE(matches_point_queries(query, terrain, x, y, out));
    }
}

// Every length up to 70, so every tail of every vector width, and long batches; the arrays
// start 0 to 3 floats past an alignment of 64 bytes, and nothing past the batch is written.
TEST_P(BatchQuery, any_length_from_any_address_writes_exactly_the_batch) {
    const auto [query, path] = GetParam();
    if (!batch_path_supported(path)) {
        GTEST_SKIP() << "this CPU cannot run " << batch_path_name(path);
    }
    const Terrain& terrain = terrains()[3];
    const CellTable cells = make_cell_table(terrain.grid, terrain.key);
    const Points& points = property_inputs();
    std::vector<std::size_t> lengths(71);
    std::iota(lengths.begin(), lengths.end(), 0);
    lengths.insert(lengths.end(), {1000, 4099, 65536 + 13});
    for (const std::size_t n : lengths) {
        for (std::size_t offset = 0; offset < 4; ++offset) {
            alignas(64) static float x[80000];
            alignas(64) static float y[80000];
            alignas(64) static float out[80000];
            std::copy_n(points.x.begin() + static_cast<std::ptrdiff_t>(n), n, x + offset);
            std::copy_n(points.y.begin() + static_cast<std::ptrdiff_t>(n), n, y + offset);
            std::fill(std::begin(out), std::end(out), guard_value);
            batch_query(query, terrain, cells, {x + offset, n}, {y + offset, n}, {out + offset, n},
                        path);
            ASSERT_TRUE(matches_point_queries(query, terrain, {x + offset, n}, {y + offset, n},
                                              {out + offset, n}))
                << n << " points from offset " << offset;
            const auto written = [&](float v) { return bits(v) != bits(guard_value); };
            ASSERT_FALSE(std::any_of(out, out + offset, written)) << n << " from " << offset;
            ASSERT_FALSE(std::any_of(out + offset + n, std::end(out), written))
                << n << " points from offset " << offset;
        }
    }
}

// The results may replace either coordinate array.
TEST_P(BatchQuery, out_may_be_x_or_y) {
    const auto [query, path] = GetParam();
    const Terrain& terrain = terrains()[6];
    const CellTable cells = make_cell_table(terrain.grid, terrain.key);
    const Points& points = property_inputs();
    const std::span<const float> x(points.x.data(), 999);
    const std::span<const float> y(points.y.data(), 999);
    std::vector<float> expected(x.size());
    batch_query(query, terrain, cells, x, y, expected, path);
    for (const bool into_x : {true, false}) {
        std::vector<float> vx(x.begin(), x.end());
        std::vector<float> vy(y.begin(), y.end());
        std::vector<float>& in_place = into_x ? vx : vy;
        batch_query(query, terrain, cells, vx, vy, in_place, path);
        EXPECT_TRUE(matches_point_queries(query, terrain, x, y, in_place)) << into_x;
    }
}

// Lengths that differ are refused, naming them, before anything is written.
TEST_P(BatchQuery, spans_of_different_lengths_throw_before_writing) {
    const auto [query, path] = GetParam();
    const Terrain& terrain = terrains()[3];
    const CellTable cells = make_cell_table(terrain.grid, terrain.key);
    const std::string name = query == Query::Bilinear        ? "bilinear_heights"
                             : query == Query::TrianglePlane ? "triangle_plane_heights"
                             : query == Query::Slope         ? "slopes"
                                                             : "normal_zs";
    struct Row {
        std::size_t x, y, out;
        std::string message;
    };
    const Row rows[] = {
        {5, 4, 5, name + ": x holds 5 values but y holds 4"},
        {0, 17, 17, name + ": x holds 0 values but y holds 17"},
        {6, 6, 5, name + ": out holds 5 values for 6 points"},
        {3, 3, 40, name + ": out holds 40 values for 3 points"},
    };
    const std::vector<float> coordinates(64, 50.0f);
    for (const Row& row : rows) {
        std::vector<float> out(row.out, guard_value);
        try {
            batch_query(query, terrain, cells, {coordinates.data(), row.x},
                        {coordinates.data(), row.y}, out, path);
            ADD_FAILURE() << "accepted " << row.message;
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(error.what(), row.message);
        }
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) {
            return bits(v) == bits(guard_value);
        })) << row.message;
    }
}

// On and beyond a far edge the blend holds its upper index at 8, so it reads only the vertices
// of that edge: with every other vertex NaN, a path that fetched a neighbour in memory instead
// (the next line of the grid, or past its end) would turn a finite height into NaN.
TEST(BilinearHeights, on_and_beyond_a_far_edge_read_only_the_edge) {
    struct Edge {
        const char* name;
        bool (*on_edge)(int ix, int iy);
        bool x_beyond;
        bool y_beyond;
    };
    const Edge edges[] = {
        {"far y edge", [](int, int iy) { return iy == 8; }, false, true},
        {"far x edge", [](int ix, int) { return ix == 8; }, true, false},
        {"far corner", [](int ix, int iy) { return ix == 8 && iy == 8; }, true, true},
    };
    constexpr std::array<float, 5> beyond = {192.0f, 192.5f, 300.0f, 1e30f, inf};
    for (const Edge& edge : edges) {
        const HeightGrid grid = grid_of([&](int ix, int iy) {
            return edge.on_edge(ix, iy) ? static_cast<float>(1 + ix + iy) : nan;
        });
        std::vector<float> x;
        std::vector<float> y;
        for (const float far : beyond) {
            for (int step = -5; step <= 45; ++step) {
                const float along = 4.8f * static_cast<float>(step); // -24.0 to 216.0
                x.push_back(edge.x_beyond ? far : along);
                y.push_back(edge.y_beyond ? far : along);
            }
        }
        for (const BatchPath path : all_batch_paths) {
            if (!batch_path_supported(path)) {
                continue;
            }
            std::vector<float> out(x.size(), guard_value);
            bilinear_heights(grid, x, y, out, path);
            const Terrain terrain{edge.name, grid, 0};
            EXPECT_TRUE(matches_point_queries(Query::Bilinear, terrain, x, y, out))
                << batch_path_name(path);
            EXPECT_TRUE(std::none_of(out.begin(), out.end(), [](float v) { return std::isnan(v); }))
                << edge.name << " on " << batch_path_name(path);
        }
    }
}

// The split of every cell, which the batch queries do not read, is get_split_dir's.
TEST(CellTable, split_is_the_split_of_each_cell) {
    for (const std::uint16_t key : std::array<std::uint16_t, 4>{0x0000, 0x0101, 0xA9B4, 0xFFFF}) {
        const CellTable cells = make_cell_table(counting_grid(), key);
        for (std::uint32_t cell = 0; cell < 64; ++cell) {
            EXPECT_EQ(cells.split[cell], get_split_dir(key, cell / 8, cell % 8)) << key << cell;
        }
    }
}

// Run alone as a child process by the next test.
TEST(SelectedBatchPath, is_one_this_cpu_runs) {
    const BatchPath path = selected_batch_path();
    EXPECT_TRUE(batch_path_supported(path));
    std::cout << "selected batch path: " << batch_path_name(path) << "\n";
}

TEST(SelectedBatchPath, is_the_widest_unless_the_environment_names_another) {
    std::string widest = "scalar";
    for (const BatchPath path : all_batch_paths) {
        if (batch_path_supported(path)) {
            widest = batch_path_name(path);
        }
    }
    struct Row {
        std::string value;
        std::string chosen;
        std::string error;
    };
    const Row rows[] = {
        {"", widest, ""},
        {"scalar", "scalar", ""},
        {"sse2", "sse2", ""},
    };
    std::vector<Row> all(std::begin(rows), std::end(rows));
    // Only a whole name chooses a path: a value that begins one (or extends one) is unknown.
    for (const std::string value :
         {"AVX2", "avx", "avx5", "sse", "scal", "sse2 ", "avx2x", "avx5120", "scalar\n"}) {
        all.push_back({value, widest,
                       "SARNIVELLE_HEIGHT_SIMD=" + value +
                           ": not a path (scalar, sse2, avx2 or avx512); using " + widest + "\n"});
    }
    for (const Row& row : all) {
        test_support::ChildSpec child;
        child.args = {"--gtest_filter=SelectedBatchPath.is_one_this_cpu_runs"};
        child.env = {{"SARNIVELLE_HEIGHT_SIMD", row.value}};
        const test_support::ChildResult result = test_support::run_child("/proc/self/exe", child);
        EXPECT_TRUE(result.exited && result.exit_status == 0) << result.out << result.err;
        EXPECT_NE(result.out.find("selected batch path: " + row.chosen + "\n"), std::string::npos)
            << row.value << ": " << result.out;
        EXPECT_EQ(result.err, row.error) << row.value;
    }
}

INSTANTIATE_TEST_SUITE_P(All, BatchQuery,
                         ::testing::Combine(::testing::ValuesIn(all_queries),
                                            ::testing::ValuesIn(all_batch_paths)),
                         [](const ::testing::TestParamInfo<std::tuple<Query, BatchPath>>& param) {
                             return std::string(query_name(std::get<0>(param.param))) + "_" +
                                    batch_path_name(std::get<1>(param.param));
                         });

} // namespace
} // namespace sarnivelle_scenery_bake::height
