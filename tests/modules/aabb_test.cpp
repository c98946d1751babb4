#include "sarnivelle_scenery_bake/aabb.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

#include <gtest/gtest.h>

#include "check_failure.hpp"
#include "sarnivelle_scenery_bake/checks/aabb.hpp"

namespace sarnivelle_scenery_bake::aabb {
namespace {

using tests::Operations;
using Mesh = std::span<const Vec3>;

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

std::array<std::uint32_t, 3> bits(const Vec3& v) {
    return {std::bit_cast<std::uint32_t>(v.x), std::bit_cast<std::uint32_t>(v.y),
            std::bit_cast<std::uint32_t>(v.z)};
}

void expect_same_box(const Aabb& actual, const Vec3& min, const Vec3& max) {
    EXPECT_EQ(bits(actual.min), bits(min));
    EXPECT_EQ(bits(actual.max), bits(max));
}

// Placements with one step left out or reversed, and the real transforms over them.
Placement unturned(const Placement& p) {
    return {p.position, 0.0f, p.scale};
}
Placement clockwise(const Placement& p) {
    return {p.position, -p.rotation_degrees, p.scale};
}
Placement unscaled(const Placement& p) {
    return {p.position, p.rotation_degrees, 1.0f};
}
Placement unmoved(const Placement& p) {
    return {{}, p.rotation_degrees, p.scale};
}
template <Placement (*change)(const Placement&)>
Aabb local_on(const Aabb& local, const Placement& p) {
    return transform_local_aabb(local, change(p));
}
template <Placement (*change)(const Placement&)>
Aabb mesh_on(Mesh mesh, const Placement& p) {
    return transform_mesh_to_aabb(mesh, change(p));
}

bool excluding_touch(const Aabb& a, const Aabb& b) {
    return a.min.x < b.max.x && b.min.x < a.max.x && a.min.y < b.max.y && b.min.y < a.max.y &&
           a.min.z < b.max.z && b.min.z < a.max.z;
}
bool with_slack(const Aabb& a, const Aabb& b) {
    return aabb_intersects(a, {{b.min.x - 1e-4f, b.min.y, b.min.z}, b.max});
}
bool x_only(const Aabb& a, const Aabb& b) {
    return a.min.x <= b.max.x && b.min.x <= a.max.x;
}
bool never(const Aabb&, const Aabb&) {
    return false;
}
Aabb corner_box(Mesh mesh, const Placement& p) {
    return transform_local_aabb(transform_mesh_to_aabb(mesh, {}), p);
}
Aabb zero_box_when_empty(Mesh mesh, const Placement& p) {
    return mesh.empty() ? Aabb{} : transform_mesh_to_aabb(mesh, p);
}

TEST(AabbChecks, EachCheckFailsOnAFaultyOperation) {
    using namespace tests;
    const testing::Fault<Operations> faults[] = {
        {aabb_intersects_touching_edges_count_as_intersect,
         {.intersects = excluding_touch},
         "sharing the face x = 1: intersection of (0, 0, 0) .. (1, 1, 1) and "
         "(1, 0, 0) .. (2, 1, 1) should be true"},
        {aabb_intersects_disjoint, {.intersects = with_slack}, "apart by one float step"},
        {aabb_intersects_disjoint, {.intersects = x_only}, "apart in y"},
        {aabb_intersects_overlap, {.intersects = never}, "overlap in every axis"},
        {transform_local_aabb_quarter_turn,
         {.transform_local = local_on<unturned>},
         "quarter turn: box (9, 17, 30) .. (12, 24, 35) is not the expected "
         "(6, 19, 30) .. (13, 22, 35)"},
        {transform_local_aabb_quarter_turn,
         {.transform_local = local_on<clockwise>},
         "quarter turn"},
        {transform_local_aabb_scale_doubles_extent,
         {.transform_local = local_on<unscaled>},
         "scale 2: box"},
        {transform_local_aabb_no_rotation,
         {.transform_local = local_on<unmoved>},
         "moved without rotation"},
        {transform_mesh_to_aabb_is_tighter_than_corner_form_on_octagon,
         {.transform_mesh = corner_box},
         "larger than its vertices"},
        // Unturned, the octagon's box is a square that its turned vertices lie inside.
        {transform_mesh_to_aabb_is_tighter_than_corner_form_on_octagon,
         {.transform_mesh = mesh_on<unturned>},
         "larger than its vertices"},
        {transform_mesh_to_aabb_is_tighter_than_corner_form_on_octagon,
         {.transform_mesh = mesh_on<unscaled>},
         "lies outside the mesh box"},
        {transform_mesh_to_aabb_no_rotation,
         {.transform_mesh = mesh_on<unmoved>},
         "mesh moved without rotation"},
        {transform_mesh_to_aabb_empty_returns_inf_sentinels,
         {.transform_mesh = zero_box_when_empty},
         "empty mesh in place: box (0, 0, 0) .. (0, 0, 0) is not the expected "
         "(inf, inf, inf) .. (-inf, -inf, -inf)"},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.message);
        testing::expect_failure(fault);
    }
}

TEST(TransformPoint, WholeQuarterTurnsAreExact) {
    const Vec3 local{3.0f, -7.25f, 2.0f};
    const Vec3 quarter{7.25f, 3.0f, 2.0f};
    const Vec3 three_quarters{-7.25f, -3.0f, 2.0f};
    for (const auto& [degrees, expected] :
         {std::pair{90.0f, quarter}, std::pair{180.0f, Vec3{-3.0f, 7.25f, 2.0f}},
          std::pair{270.0f, three_quarters}, std::pair{-90.0f, three_quarters},
          std::pair{450.0f, quarter}, std::pair{-720.0f, local}, std::pair{3600090.0f, quarter}}) {
        EXPECT_EQ(bits(transform_point(local, {{}, degrees, 1.0f})), bits(expected)) << degrees;
    }
    // Scaled, turned, then moved.
    EXPECT_EQ(bits(transform_point({1.0f, 0.0f, 1.0f}, {{10.0f, 20.0f, 30.0f}, 90.0f, 3.0f})),
              bits({10.0f, 23.0f, 33.0f}));
}

TEST(TransformPoint, NanAndInfiniteInputsGiveDefinedResults) {
    const Vec3 turned_by_nan = transform_point({1.0f, 2.0f, 3.0f}, {{}, nan, 1.0f});
    EXPECT_TRUE(std::isnan(turned_by_nan.x) && std::isnan(turned_by_nan.y));
    EXPECT_EQ(turned_by_nan.z, 3.0f); // the turn leaves the vertical axis alone
    EXPECT_TRUE(std::isnan(transform_point({1.0f, 2.0f, 3.0f}, {{}, -inf, 1.0f}).x));
    // A whole quarter turn moves infinite coordinates without meeting a zero factor.
    EXPECT_EQ(bits(transform_point({inf, -inf, 1.0f}, {{}, 90.0f, 2.0f})), bits({inf, inf, 2.0f}));
}

TEST(AabbIntersects, EmptyAndNanBoxesIntersectNothing) {
    const Aabb everything{{-inf, -inf, -inf}, {inf, inf, inf}};
    const Aabb nan_box{{0.0f, nan, 0.0f}, {1.0f, 1.0f, 1.0f}};
    EXPECT_TRUE(aabb_is_empty(empty_aabb()));
    EXPECT_TRUE(aabb_is_empty(nan_box));
    EXPECT_FALSE(aabb_intersects(empty_aabb(), everything));
    EXPECT_FALSE(aabb_intersects(everything, empty_aabb()));
    EXPECT_FALSE(aabb_intersects(nan_box, everything));
    // A single point is a box, and not an empty one.
    EXPECT_TRUE(aabb_intersects({{0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}}, everything));
}

TEST(TransformLocalAabb, EmptyStaysEmptyAndMirroringKeepsOrder) {
    expect_same_box(transform_local_aabb(empty_aabb(), {{5.0f, 5.0f, 5.0f}, 30.0f, 2.0f}),
                    empty_aabb().min, empty_aabb().max);
    expect_same_box(
        transform_local_aabb({{1.0f, 2.0f, 3.0f}, {4.0f, 5.0f, 6.0f}}, {{}, 0.0f, -1.0f}),
        {-4.0f, -5.0f, -6.0f}, {-1.0f, -2.0f, -3.0f});
}

TEST(TransformMeshToAabb, SingleVertexAndNanVertices) {
    const std::array<Vec3, 1> single = {Vec3{1.0f, -2.0f, 0.5f}};
    expect_same_box(transform_mesh_to_aabb(single, {{100.0f, 50.0f, 10.0f}, 90.0f, 2.0f}),
                    {104.0f, 52.0f, 11.0f}, {104.0f, 52.0f, 11.0f});

    // A NaN coordinate leaves its axis to the other vertices; only NaN leaves the box empty.
    const std::array<Vec3, 3> mesh = {Vec3{nan, nan, nan}, Vec3{1.0f, 2.0f, 3.0f},
                                      Vec3{-1.0f, nan, 0.0f}};
    expect_same_box(transform_mesh_to_aabb(mesh, {}), {-1.0f, 2.0f, 0.0f}, {1.0f, 2.0f, 3.0f});
    EXPECT_TRUE(aabb_is_empty(transform_mesh_to_aabb(Mesh(mesh).first(1), {})));
}

// Turns go counter-clockwise seen from above at every angle, not only at quarter turns: an
// asymmetric box and mesh at 30 degrees, which a clockwise turn or a mirror image would put
// elsewhere. Scaled about the local origin, turned, then moved.
TEST(Placement, TurnsCounterClockwiseBetweenQuarterTurns) {
    const Placement placement{{10.0f, 20.0f, 5.0f}, 30.0f, 2.0f};
    const float c = 0.8660254f; // cos 30
    const float s = 0.5f;       // sin 30
    const auto expect_near = [](const Vec3& actual, const Vec3& expected) {
        EXPECT_NEAR(actual.x, expected.x, 1e-5f);
        EXPECT_NEAR(actual.y, expected.y, 1e-5f);
        EXPECT_NEAR(actual.z, expected.z, 1e-5f);
    };
    expect_near(transform_point({1.0f, 0.0f, 0.0f}, placement),
                {10.0f + 2 * c, 20.0f + 2 * s, 5.0f});
    expect_near(transform_point({0.0f, 1.0f, 3.0f}, placement),
                {10.0f - 2 * s, 20.0f + 2 * c, 11.0f});

    // Corners (0, 0), (8, 0), (0, 2) and (8, 2) once scaled.
    const Aabb local_world =
        transform_local_aabb({{0.0f, 0.0f, 0.0f}, {4.0f, 1.0f, 1.0f}}, placement);
    expect_near(local_world.min, {10.0f - 2 * s, 20.0f, 5.0f});
    expect_near(local_world.max, {10.0f + 8 * c, 20.0f + 8 * s + 2 * c, 7.0f});

    const std::array<Vec3, 3> triangle = {Vec3{0.0f, 0.0f, 0.0f}, Vec3{4.0f, 0.0f, 0.0f},
                                          Vec3{0.0f, 1.0f, 1.0f}};
    const Aabb mesh_world = transform_mesh_to_aabb(triangle, placement);
    expect_near(mesh_world.min, {10.0f - 2 * s, 20.0f, 5.0f});
    expect_near(mesh_world.max, {10.0f + 8 * c, 20.0f + 8 * s, 7.0f});
}

// Each axis on its own: a box inverted or NaN in any one axis is empty, and extending a box
// moves only the bounds of the axes where the point lies outside, skipping a NaN coordinate.
TEST(AabbAxes, EmptinessAndExtensionTreatEachAxisApart) {
    float Vec3::*const axes[] = {&Vec3::x, &Vec3::y, &Vec3::z};
    const Aabb unit{{0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}};
    for (float Vec3::*const axis : axes) {
        Aabb inverted = unit;
        inverted.min.*axis = 2.0f;
        EXPECT_TRUE(aabb_is_empty(inverted));
        inverted.min.*axis = nan;
        EXPECT_TRUE(aabb_is_empty(inverted));
        Aabb flat = unit;
        flat.min.*axis = 1.0f;
        EXPECT_FALSE(aabb_is_empty(flat));

        Vec3 point{0.5f, 0.5f, 0.5f};
        point.*axis = -3.0f;
        Aabb grown = unit;
        grown.min.*axis = -3.0f;
        expect_same_box(aabb_extend(unit, point), grown.min, grown.max);
        point.*axis = 7.0f;
        grown = unit;
        grown.max.*axis = 7.0f;
        expect_same_box(aabb_extend(unit, point), grown.min, grown.max);
        point = {9.0f, 9.0f, 9.0f};
        point.*axis = nan;
        grown = {unit.min, {9.0f, 9.0f, 9.0f}};
        grown.max.*axis = 1.0f;
        expect_same_box(aabb_extend(unit, point), grown.min, grown.max);
    }
    expect_same_box(aabb_extend(empty_aabb(), {1.0f, -2.0f, 3.0f}), {1.0f, -2.0f, 3.0f},
                    {1.0f, -2.0f, 3.0f});
}

} // namespace
} // namespace sarnivelle_scenery_bake::aabb
