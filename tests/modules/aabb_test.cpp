#include "sarnivelle_scenery_bake/aabb.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

#include <gtest/gtest.h>

#include "check_failure.hpp"

namespace sarnivelle_scenery_bake::aabb {
namespace {

using testing::expect_failure;
using testing::failure_of;
using tests::Operations;
using Mesh = std::span<const Vec3>;

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

void expect_same_point(const Vec3& actual, const Vec3& expected) {
    const auto bits = [](float v) { return std::bit_cast<std::uint32_t>(v); };
    EXPECT_EQ(bits(actual.x), bits(expected.x)) << actual.x << " vs " << expected.x;
    EXPECT_EQ(bits(actual.y), bits(expected.y)) << actual.y << " vs " << expected.y;
    EXPECT_EQ(bits(actual.z), bits(expected.z)) << actual.z << " vs " << expected.z;
}

TEST(AabbChecks, PassOnTheModule) {
    EXPECT_EQ(failure_of([] { tests::check_intersects_overlap(); }), std::nullopt);
    EXPECT_EQ(failure_of([] { tests::check_intersects_disjoint(); }), std::nullopt);
    EXPECT_EQ(failure_of([] { tests::check_intersects_touching_edges(); }), std::nullopt);
    EXPECT_EQ(failure_of([] { tests::check_transform_local_no_rotation(); }), std::nullopt);
    EXPECT_EQ(failure_of([] { tests::check_transform_local_quarter_turn(); }), std::nullopt);
    EXPECT_EQ(failure_of([] { tests::check_transform_local_scale_doubles_extent(); }),
              std::nullopt);
    EXPECT_EQ(failure_of([] { tests::check_transform_mesh_no_rotation(); }), std::nullopt);
    EXPECT_EQ(failure_of([] { tests::check_transform_mesh_tighter_on_octagon(); }), std::nullopt);
    EXPECT_EQ(failure_of([] { tests::check_transform_mesh_empty(); }), std::nullopt);
}

TEST(AabbChecks, IntersectionChecksFailOnWrongBoundaries) {
    Operations strict;
    strict.intersects = [](const Aabb& a, const Aabb& b) {
        return a.min.x < b.max.x && b.min.x < a.max.x && a.min.y < b.max.y && b.min.y < a.max.y &&
               a.min.z < b.max.z && b.min.z < a.max.z;
    };
    expect_failure([&] { tests::check_intersects_touching_edges(strict); },
                   "sharing the face x = 1: intersection of (0, 0, 0) .. (1, 1, 1) and "
                   "(1, 0, 0) .. (2, 1, 1) should be true");
    // Excluding touching boxes is right about overlapping and separated ones.
    EXPECT_EQ(failure_of([&] { tests::check_intersects_overlap(strict); }), std::nullopt);
    EXPECT_EQ(failure_of([&] { tests::check_intersects_disjoint(strict); }), std::nullopt);

    Operations slack;
    slack.intersects = [](const Aabb& a, const Aabb& b) {
        return aabb_intersects(a, {{b.min.x - 1e-4f, b.min.y, b.min.z}, b.max});
    };
    expect_failure([&] { tests::check_intersects_disjoint(slack); }, "apart by one float step");

    Operations x_only;
    x_only.intersects = [](const Aabb& a, const Aabb& b) {
        return a.min.x <= b.max.x && b.min.x <= a.max.x;
    };
    expect_failure([&] { tests::check_intersects_disjoint(x_only); }, "apart in y");

    Operations never;
    never.intersects = [](const Aabb&, const Aabb&) { return false; };
    expect_failure([&] { tests::check_intersects_overlap(never); }, "overlap in every axis");
}

TEST(AabbChecks, LocalTransformChecksFailOnMissingSteps) {
    Operations unturned;
    unturned.transform_local = [](const Aabb& local, const Placement& p) {
        return transform_local_aabb(local, {p.position, 0.0f, p.scale});
    };
    expect_failure([&] { tests::check_transform_local_quarter_turn(unturned); },
                   "quarter turn: box (9, 17, 30) .. (12, 24, 35) is not the expected "
                   "(6, 19, 30) .. (13, 22, 35)");

    Operations clockwise;
    clockwise.transform_local = [](const Aabb& local, const Placement& p) {
        return transform_local_aabb(local, {p.position, -p.rotation_degrees, p.scale});
    };
    expect_failure([&] { tests::check_transform_local_quarter_turn(clockwise); }, "quarter turn");

    Operations unscaled;
    unscaled.transform_local = [](const Aabb& local, const Placement& p) {
        return transform_local_aabb(local, {p.position, p.rotation_degrees, 1.0f});
    };
    expect_failure([&] { tests::check_transform_local_scale_doubles_extent(unscaled); },
                   "scale 2: box");

    Operations unmoved;
    unmoved.transform_local = [](const Aabb& local, const Placement& p) {
        return transform_local_aabb(local, {{}, p.rotation_degrees, p.scale});
    };
    expect_failure([&] { tests::check_transform_local_no_rotation(unmoved); },
                   "moved without rotation");
}

TEST(AabbChecks, MeshChecksFailOnLooseOrMisplacedBoxes) {
    Operations corner_form;
    corner_form.transform_mesh = [](Mesh mesh, const Placement& p) {
        return transform_local_aabb(transform_mesh_to_aabb(mesh, {}), p);
    };
    expect_failure([&] { tests::check_transform_mesh_tighter_on_octagon(corner_form); },
                   "larger than its vertices");

    // Unturned, the octagon's box is a square that its turned vertices lie inside.
    Operations unturned;
    unturned.transform_mesh = [](Mesh mesh, const Placement& p) {
        return transform_mesh_to_aabb(mesh, {p.position, 0.0f, p.scale});
    };
    expect_failure([&] { tests::check_transform_mesh_tighter_on_octagon(unturned); },
                   "larger than its vertices");

    Operations unscaled;
    unscaled.transform_mesh = [](Mesh mesh, const Placement& p) {
        return transform_mesh_to_aabb(mesh, {p.position, p.rotation_degrees, 1.0f});
    };
    expect_failure([&] { tests::check_transform_mesh_tighter_on_octagon(unscaled); },
                   "lies outside the mesh box");

    Operations unmoved;
    unmoved.transform_mesh = [](Mesh mesh, const Placement& p) {
        return transform_mesh_to_aabb(mesh, {{}, p.rotation_degrees, p.scale});
    };
    expect_failure([&] { tests::check_transform_mesh_no_rotation(unmoved); },
                   "mesh moved without rotation");

    Operations zero_box;
    zero_box.transform_mesh = [](Mesh mesh, const Placement& p) {
        return mesh.empty() ? Aabb{} : transform_mesh_to_aabb(mesh, p);
    };
    expect_failure([&] { tests::check_transform_mesh_empty(zero_box); },
                   "empty mesh in place: box (0, 0, 0) .. (0, 0, 0) is not the expected "
                   "(inf, inf, inf) .. (-inf, -inf, -inf)");
}

TEST(TransformPoint, WholeQuarterTurnsAreExact) {
    const Vec3 local{3.0f, -7.25f, 2.0f};
    const Vec3 quarter{7.25f, 3.0f, 2.0f};
    const Vec3 half{-3.0f, 7.25f, 2.0f};
    const Vec3 three_quarters{-7.25f, -3.0f, 2.0f};
    for (const auto& [degrees, expected] :
         {std::pair{0.0f, local}, std::pair{90.0f, quarter}, std::pair{180.0f, half},
          std::pair{270.0f, three_quarters}, std::pair{-90.0f, three_quarters},
          std::pair{360.0f, local}, std::pair{450.0f, quarter}, std::pair{-720.0f, local},
          std::pair{3600090.0f, quarter}}) {
        SCOPED_TRACE(degrees);
        expect_same_point(transform_point(local, {{}, degrees, 1.0f}), expected);
    }
    // Scaled, turned, then moved.
    expect_same_point(transform_point({1.0f, 0.0f, 1.0f}, {{10.0f, 20.0f, 30.0f}, 90.0f, 3.0f}),
                      {10.0f, 23.0f, 33.0f});
}

TEST(TransformPoint, NanAndInfiniteInputsGiveDefinedResults) {
    const Vec3 turned_by_nan = transform_point({1.0f, 2.0f, 3.0f}, {{}, nan, 1.0f});
    EXPECT_TRUE(std::isnan(turned_by_nan.x) && std::isnan(turned_by_nan.y));
    EXPECT_EQ(turned_by_nan.z, 3.0f); // the turn leaves the vertical axis alone
    EXPECT_TRUE(std::isnan(transform_point({1.0f, 2.0f, 3.0f}, {{}, -inf, 1.0f}).x));
    // A whole quarter turn moves infinite coordinates without meeting a zero factor.
    expect_same_point(transform_point({inf, -inf, 1.0f}, {{}, 90.0f, 2.0f}), {inf, inf, 2.0f});
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
    const Aabb world = transform_local_aabb(empty_aabb(), {{5.0f, 5.0f, 5.0f}, 30.0f, 2.0f});
    expect_same_point(world.min, empty_aabb().min);
    expect_same_point(world.max, empty_aabb().max);

    const Aabb mirrored =
        transform_local_aabb({{1.0f, 2.0f, 3.0f}, {4.0f, 5.0f, 6.0f}}, {{}, 0.0f, -1.0f});
    expect_same_point(mirrored.min, {-4.0f, -5.0f, -6.0f});
    expect_same_point(mirrored.max, {-1.0f, -2.0f, -3.0f});
}

TEST(TransformMeshToAabb, SingleVertexAndNanVertices) {
    const std::array<Vec3, 1> single = {Vec3{1.0f, -2.0f, 0.5f}};
    const Aabb point = transform_mesh_to_aabb(single, {{100.0f, 50.0f, 10.0f}, 90.0f, 2.0f});
    expect_same_point(point.min, {104.0f, 52.0f, 11.0f});
    expect_same_point(point.max, {104.0f, 52.0f, 11.0f});

    // A NaN coordinate leaves its axis to the other vertices; only NaN leaves the box empty.
    const std::array<Vec3, 3> mesh = {Vec3{nan, nan, nan}, Vec3{1.0f, 2.0f, 3.0f},
                                      Vec3{-1.0f, nan, 0.0f}};
    const Aabb box = transform_mesh_to_aabb(mesh, {});
    expect_same_point(box.min, {-1.0f, 2.0f, 0.0f});
    expect_same_point(box.max, {1.0f, 2.0f, 3.0f});
    EXPECT_TRUE(aabb_is_empty(transform_mesh_to_aabb(Mesh(mesh).first(1), {})));
}

} // namespace
} // namespace sarnivelle_scenery_bake::aabb
