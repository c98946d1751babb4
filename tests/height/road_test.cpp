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

// Road vertices join their neighbours along x and y with segments of the given half width and
// round ends; diagonal neighbours are not joined.
TEST(OnRoad, segments_between_neighbouring_road_vertices) {
    struct Row {
        RoadMap roads;
        float x, y;
        bool expected;
    };
    // From vertex (2, 3) at (48, 72) to vertex (3, 3) at (72, 72).
    const RoadMap along_x = roads_at({{2, 3}, {3, 3}}, 4.0f);
    const RoadMap diagonal = roads_at({{1, 1}, {2, 2}}, 2.0f);
    const RoadMap along_y = roads_at({{8, 7}, {8, 8}, {0, 0}}, 1.0f);
    const Row rows[] = {
        {along_x, 60.0f, 76.0f, true}, // the edge of the road belongs to it
        {along_x, 60.0f, 76.5f, false},  {along_x, 45.0f, 70.0f, true}, // round end
        {along_x, 45.0f, 75.0f, false},  {along_x, 80.0f, 72.0f, false},
        {diagonal, 24.0f, 25.0f, true},  {diagonal, 48.0f, 47.0f, true},
        {diagonal, 36.0f, 36.0f, false}, {along_y, 192.0f, 180.0f, true},
        {along_y, 192.5f, 190.0f, true}, {along_y, 190.0f, 180.0f, false},
        {along_y, 0.5f, -0.5f, true},    {along_y, 12.0f, 0.0f, false}, // (1, 0) carries no road
    };
    for (const Row& row : rows) {
        EXPECT_EQ(on_road(row.roads, row.x, row.y), row.expected) << row.x << ", " << row.y;
    }
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
