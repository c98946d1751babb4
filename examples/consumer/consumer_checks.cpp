// A check executable of its own: every SARNIVELLE_CHECK below runs, in ascending byte order of
// the names, without a registry to keep (SARNIVELLE_MAIN at the end).
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "runner/check.hpp"
#include "runner/runner.hpp"
#include "sarnivelle_scenery_bake/height.hpp"

namespace consumer::tests {

namespace height = sarnivelle_scenery_bake::height;

// A grid rising one unit per unit along x.
height::HeightGrid ramp() {
    height::HeightGrid grid{};
    for (std::size_t k = 0; k < grid.size(); ++k) {
        grid[k] = height::cell_size * static_cast<float>(k / 9);
    }
    return grid;
}

SARNIVELLE_CHECK(consumer, bilinear_height_at_a_vertex) {
    height::HeightGrid grid{};
    grid[3 * 9 + 4] = 62.0f;
    const float z = height::bilinear_height_from_grid(grid, 72.0f, 96.0f);
    SARNIVELLE_ASSERT_NEAR(z, 62.0f, 1e-5f, "at vertex (3, {})", 4);
    SARNIVELLE_ASSERT_ULPS(z, 62.0f, 0);
}

SARNIVELLE_CHECK(consumer, ramp_rises_along_x) {
    const height::HeightGrid grid = ramp();
    const float low = height::bilinear_height_from_grid(grid, 10.0f, 50.0f);
    const float high = height::bilinear_height_from_grid(grid, 100.0f, 50.0f);
    SARNIVELLE_ASSERT_LT(low, high);
    SARNIVELLE_ASSERT_LE(high, 192.0f);
    SARNIVELLE_ASSERT_GT(high - low, 89.0f);
    SARNIVELLE_ASSERT_GE(low, 0.0f);
    SARNIVELLE_ASSERT_NE(low, high, "a ramp is not flat");
}

SARNIVELLE_CHECK(consumer, vector_at_reports_its_range) {
    const std::vector<int> cells(3);
    SARNIVELLE_ASSERT_THROWS(cells.at(3), std::out_of_range);
    SARNIVELLE_ASSERT_NO_THROW(cells.at(2));
}

SARNIVELLE_CHECK(consumer, spawned_threads_are_joined) {
    std::atomic<int> done{0};
    runner::JoinHandle first = runner::spawn([&done] { ++done; });
    runner::JoinHandle second = runner::spawn([&done] { ++done; });
    first.join();
    second.join();
    SARNIVELLE_ASSERT_EQ(done.load(), 2);
}

SARNIVELLE_CHECK(consumer, split_dir_names_both_diagonals) {
    SARNIVELLE_ASSERT_EQ(std::string(height::split_dir_name(height::SplitDir::Diag00To11)),
                         std::string("Diag00To11"));
}

// Reported as ignored; `--ignored` runs it.
SARNIVELLE_CHECK(consumer, survey_of_every_landblock, ignored("takes an hour")) {
    for (int block = 0; block < 65536; ++block) {
        SARNIVELLE_ASSERT_GE(block, 0);
    }
}

// Passes because its body fails, with a message that holds the text.
SARNIVELLE_CHECK(consumer, nan_is_never_near, expected_failure("|nan - 0.0f|")) {
    const float nan = std::nanf("");
    SARNIVELLE_ASSERT_NEAR(nan, 0.0f, 1e30f);
}

#ifdef CONSUMER_FAILING_CHECK
SARNIVELLE_CHECK(consumer, deliberately_wrong_height) {
    const height::HeightGrid grid{};
    SARNIVELLE_ASSERT_NEAR(height::bilinear_height_from_grid(grid, 12.0f, 12.0f), 1.0f, 1e-5f);
}
#endif

} // namespace consumer::tests

SARNIVELLE_MAIN()
