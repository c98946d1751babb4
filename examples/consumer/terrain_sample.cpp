// Samples a terrain with the height library alone: a ramp rising one unit per unit along x.
#include <cstdio>

#include "sarnivelle_scenery_bake/height.hpp"

int main() {
    namespace height = sarnivelle_scenery_bake::height;
    height::HeightGrid grid{};
    for (std::size_t k = 0; k < grid.size(); ++k) {
        grid[k] = height::cell_size * static_cast<float>(k / 9);
    }
    const float z = height::bilinear_height_from_grid(grid, 100.0f, 50.0f);
    std::printf("height at (100, 50): %g\n", static_cast<double>(z));
    return z == 100.0f ? 0 : 1;
}
