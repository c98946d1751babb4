// A check executable of its own: a few checks, one of them over the height library, handed to
// the runner in ascending byte order of their names.
#include <array>
#include <atomic>
#include <cmath>
#include <string>

#include "runner/check.hpp"
#include "runner/runner.hpp"
#include "sarnivelle_scenery_bake/height.hpp"

namespace consumer::tests {

namespace height = sarnivelle_scenery_bake::height;

SARNIVELLE_CHECK(consumer, bilinear_height_at_a_vertex) {
    height::HeightGrid grid{};
    grid[3 * 9 + 4] = 62.0f;
    const float z = height::bilinear_height_from_grid(grid, 72.0f, 96.0f);
    SARNIVELLE_ASSERT(std::fabs(z - 62.0f) < 1e-5f, "expected 62 at vertex (3, 4), got {}", z);
}

#ifdef CONSUMER_FAILING_CHECK
SARNIVELLE_CHECK(consumer, deliberately_wrong_height) {
    const height::HeightGrid grid{};
    SARNIVELLE_ASSERT_EQ(height::bilinear_height_from_grid(grid, 12.0f, 12.0f), 1.0f);
}
#endif

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

constexpr std::array registry = {
    &bilinear_height_at_a_vertex_check,
#ifdef CONSUMER_FAILING_CHECK
    &deliberately_wrong_height_check,
#endif
    &spawned_threads_are_joined_check,
    &split_dir_names_both_diagonals_check,
};

void entry() {
    runner::test_main_static(registry);
}

} // namespace consumer::tests

int main(int argc, char** argv) {
    return runner::lang_start(argc, argv, &consumer::tests::entry);
}
