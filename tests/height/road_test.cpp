#include <limits>

#include <gtest/gtest.h>

#include "sarnivelle_scenery_bake/height.hpp"

namespace sarnivelle_scenery_bake::height {
namespace {

RoadMap roads_at(std::initializer_list<std::pair<int, int>> vertices, float half_width) {
    RoadMap roads;
    for (const auto& [ix, iy] : vertices) {
        roads.road_vertices[static_cast<std::size_t>(ix * 9 + iy)] = true;
    }
    roads.half_width = half_width;
    return roads;
}

TEST(OnRoad, segment_between_neighbouring_road_vertices) {
    // From vertex (2, 3) at (48, 72) to vertex (3, 3) at (72, 72).
    const RoadMap roads = roads_at({{2, 3}, {3, 3}}, 4.0f);
    EXPECT_TRUE(on_road(roads, 60.0f, 72.0f));
    EXPECT_TRUE(on_road(roads, 60.0f, 76.0f)); // the edge of the road belongs to it
    EXPECT_FALSE(on_road(roads, 60.0f, 76.5f));
    EXPECT_TRUE(on_road(roads, 45.0f, 70.0f)); // round end beyond the vertex
    EXPECT_FALSE(on_road(roads, 45.0f, 75.0f));
    EXPECT_FALSE(on_road(roads, 80.0f, 72.0f));
}

TEST(OnRoad, diagonal_neighbours_are_not_joined) {
    const RoadMap roads = roads_at({{1, 1}, {2, 2}}, 2.0f);
    EXPECT_TRUE(on_road(roads, 24.0f, 25.0f));
    EXPECT_TRUE(on_road(roads, 48.0f, 47.0f));
    EXPECT_FALSE(on_road(roads, 36.0f, 36.0f));
}

TEST(OnRoad, segments_along_y_and_lone_vertices) {
    const RoadMap roads = roads_at({{8, 7}, {8, 8}, {0, 0}}, 1.0f);
    EXPECT_TRUE(on_road(roads, 192.0f, 180.0f));
    EXPECT_TRUE(on_road(roads, 192.5f, 190.0f));
    EXPECT_FALSE(on_road(roads, 190.0f, 180.0f));
    EXPECT_TRUE(on_road(roads, 0.5f, -0.5f));
    EXPECT_FALSE(on_road(roads, 12.0f, 0.0f)); // (1, 0) carries no road
}

TEST(OnRoad, no_road_for_nan_or_unusable_widths) {
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    const RoadMap roads = roads_at({{4, 4}, {4, 5}}, 3.0f);
    EXPECT_FALSE(on_road(roads, nan, 100.0f));
    EXPECT_FALSE(on_road(roads, 96.0f, nan));
    EXPECT_FALSE(on_road(roads, std::numeric_limits<float>::infinity(), 100.0f));
    EXPECT_FALSE(on_road(roads_at({{4, 4}}, -1.0f), 96.0f, 96.0f));
    EXPECT_FALSE(on_road(roads_at({{4, 4}}, nan), 96.0f, 96.0f));
    EXPECT_FALSE(on_road(RoadMap{}, 96.0f, 96.0f));
}

} // namespace
} // namespace sarnivelle_scenery_bake::height
