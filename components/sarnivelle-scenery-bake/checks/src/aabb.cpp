// The bounding-box checks: their bodies, then the registered checks that run them over the
// module's own operations, then the module's list of them.
#include "sarnivelle_scenery_bake/checks/aabb.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "runner/check.hpp"

namespace sarnivelle_scenery_bake::aabb::tests {

namespace {

bool same_bits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

bool same_box(const Aabb& a, const Aabb& b) {
    return same_bits(a.min.x, b.min.x) && same_bits(a.min.y, b.min.y) &&
           same_bits(a.min.z, b.min.z) && same_bits(a.max.x, b.max.x) &&
           same_bits(a.max.y, b.max.y) && same_bits(a.max.z, b.max.z);
}

std::string describe(const Vec3& v) {
    return runner::format("({}, {}, {})", v.x, v.y, v.z);
}

std::string describe(const Aabb& box) {
    return runner::format("{} .. {}", describe(box.min), describe(box.max));
}

bool holds(const Aabb& box, const Vec3& p) {
    return box.min.x <= p.x && p.x <= box.max.x && box.min.y <= p.y && p.y <= box.max.y &&
           box.min.z <= p.z && p.z <= box.max.z;
}

Vec3 extent(const Aabb& box) {
    return {box.max.x - box.min.x, box.max.y - box.min.y, box.max.z - box.min.z};
}

// Intersection is symmetric, so each pair is asked both ways round.
void expect_intersection(const Operations& ops, std::string_view what, const Aabb& a, const Aabb& b,
                         bool expected) {
    SARNIVELLE_ASSERT(ops.intersects(a, b) == expected && ops.intersects(b, a) == expected,
                      "{}: intersection of {} and {} should be {}", what, describe(a), describe(b),
                      expected);
}

void expect_box(std::string_view what, const Aabb& actual, const Aabb& expected) {
    SARNIVELLE_ASSERT(same_box(actual, expected), "{}: box {} is not the expected {}", what,
                      describe(actual), describe(expected));
}

// The unit cube at the origin, the partner of the intersection checks.
constexpr Aabb unit_cube{{0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}};

// The unit cube moved by (dx, dy, dz).
constexpr Aabb moved_cube(float dx, float dy, float dz) {
    return {{dx, dy, dz}, {1.0f + dx, 1.0f + dy, 1.0f + dz}};
}

// An asymmetric local box, so that a turn the wrong way or a swapped axis shows.
constexpr Aabb local_box{{-1.0f, -3.0f, 0.0f}, {2.0f, 4.0f, 5.0f}};
constexpr Vec3 position{10.0f, 20.0f, 30.0f};

} // namespace

void aabb_intersects_overlap(const Operations& ops) {
    expect_intersection(ops, "overlap in every axis", unit_cube, moved_cube(0.5f, 0.25f, 0.75f),
                        true);
    expect_intersection(ops, "a box inside another", {{-1.0f, -1.0f, -1.0f}, {2.0f, 2.0f, 2.0f}},
                        unit_cube, true);
    expect_intersection(ops, "a box with itself", unit_cube, unit_cube, true);
    expect_intersection(ops, "crossing slabs", {{-5.0f, 0.25f, 0.25f}, {5.0f, 0.5f, 0.5f}},
                        {{0.25f, -5.0f, 0.25f}, {0.5f, 5.0f, 0.5f}}, true);
}

void aabb_intersects_disjoint(const Operations& ops) {
    // Apart in one axis while overlapping in the other two: each axis alone separates.
    expect_intersection(ops, "apart in x", unit_cube, moved_cube(2.0f, 0.5f, 0.5f), false);
    expect_intersection(ops, "apart in y", unit_cube, moved_cube(0.5f, -2.0f, 0.5f), false);
    expect_intersection(ops, "apart in z", unit_cube, moved_cube(0.5f, 0.5f, 2.0f), false);
    // The smallest gap a float allows still separates.
    const float just_past = std::nextafter(1.0f, 2.0f);
    expect_intersection(ops, "apart by one float step", unit_cube,
                        {{just_past, 0.0f, 0.0f}, {2.0f, 1.0f, 1.0f}}, false);
}

void aabb_intersects_touching_edges_count_as_intersect(const Operations& ops) {
    expect_intersection(ops, "sharing the face x = 1", unit_cube, moved_cube(1.0f, 0.0f, 0.0f),
                        true);
    expect_intersection(ops, "sharing the face y = 0", unit_cube, moved_cube(0.0f, -1.0f, 0.0f),
                        true);
    expect_intersection(ops, "sharing the face z = 1", unit_cube, moved_cube(0.0f, 0.0f, 1.0f),
                        true);
    expect_intersection(ops, "sharing the edge x = 1, y = 1", unit_cube,
                        moved_cube(1.0f, 1.0f, 0.25f), true);
    expect_intersection(ops, "sharing the corner (0, 0, 0)", unit_cube,
                        moved_cube(-1.0f, -1.0f, -1.0f), true);
}

void transform_local_aabb_no_rotation(const Operations& ops) {
    const Aabb world = ops.transform_local(local_box, {position, 0.0f, 1.0f});
    expect_box("moved without rotation", world, {{9.0f, 17.0f, 30.0f}, {12.0f, 24.0f, 35.0f}});
}

void transform_local_aabb_quarter_turn(const Operations& ops) {
    // A counter-clockwise quarter turn takes (x, y) to (-y, x): x in -1..2 and y in -3..4
    // become x in -4..3 and y in -1..2, before the move by (10, 20, 30).
    const Aabb world = ops.transform_local(local_box, {position, 90.0f, 1.0f});
    expect_box("quarter turn", world, {{6.0f, 19.0f, 30.0f}, {13.0f, 22.0f, 35.0f}});
}

void transform_local_aabb_scale_doubles_extent(const Operations& ops) {
    const Vec3 local_extent = extent(local_box);
    const Aabb straight = ops.transform_local(local_box, {position, 0.0f, 2.0f});
    expect_box("scale 2", straight, {{8.0f, 14.0f, 30.0f}, {14.0f, 28.0f, 40.0f}});
    const Vec3 straight_extent = extent(straight);
    SARNIVELLE_ASSERT(same_bits(straight_extent.x, 2.0f * local_extent.x) &&
                          same_bits(straight_extent.y, 2.0f * local_extent.y) &&
                          same_bits(straight_extent.z, 2.0f * local_extent.z),
                      "scale 2: extent {} is not twice {}", describe(straight_extent),
                      describe(local_extent));
    // Turned a quarter, the doubled x and y extents trade places.
    const Vec3 turned = extent(ops.transform_local(local_box, {position, 90.0f, 2.0f}));
    SARNIVELLE_ASSERT(same_bits(turned.x, 2.0f * local_extent.y) &&
                          same_bits(turned.y, 2.0f * local_extent.x) &&
                          same_bits(turned.z, 2.0f * local_extent.z),
                      "scale 2 with a quarter turn: extent {}, local extent {}", describe(turned),
                      describe(local_extent));
}

void transform_mesh_to_aabb_no_rotation(const Operations& ops) {
    constexpr std::array<Vec3, 4> mesh = {Vec3{1.0f, 2.0f, 3.0f}, Vec3{-4.0f, 0.5f, 2.0f},
                                          Vec3{2.0f, -1.0f, -6.0f}, Vec3{0.0f, 5.0f, 1.0f}};
    expect_box("mesh in place", ops.transform_mesh(mesh, {}),
               {{-4.0f, -1.0f, -6.0f}, {2.0f, 5.0f, 3.0f}});
    expect_box("mesh moved without rotation", ops.transform_mesh(mesh, {position, 0.0f, 1.0f}),
               {{6.0f, 19.0f, 24.0f}, {12.0f, 25.0f, 33.0f}});
}

void transform_mesh_to_aabb_is_tighter_than_corner_form_on_octagon(const Operations& ops) {
    // A regular octagon of circumradius 1 with a vertex on each half axis, as a prism of
    // height 2: its local box is -1..1 in x and y and 0..2 in z.
    constexpr float d = 0.70710677f; // sqrt(1/2), rounded
    constexpr std::array<Vec3, 8> ring = {
        Vec3{1.0f, 0.0f, 0.0f},  Vec3{d, d, 0.0f},   Vec3{0.0f, 1.0f, 0.0f},  Vec3{-d, d, 0.0f},
        Vec3{-1.0f, 0.0f, 0.0f}, Vec3{-d, -d, 0.0f}, Vec3{0.0f, -1.0f, 0.0f}, Vec3{d, -d, 0.0f}};
    std::array<Vec3, 16> prism{};
    for (std::size_t i = 0; i < ring.size(); ++i) {
        prism[i] = ring[i];
        prism[i + ring.size()] = {ring[i].x, ring[i].y, 2.0f};
    }
    const Aabb local{{-1.0f, -1.0f, 0.0f}, {1.0f, 1.0f, 2.0f}};
    expect_box("octagon in place", ops.transform_mesh(prism, {}), local);

    // Turned by 30 degrees the corners of the local box reach out to cos 30 + sin 30 = 1.37
    // times the scale, the octagon's own vertices only to cos 15 = 0.97 times.
    const Placement placement{{50.0f, 60.0f, 5.0f}, 30.0f, 2.0f};
    const Aabb from_corners = ops.transform_local(local, placement);
    const Aabb from_mesh = ops.transform_mesh(prism, placement);

    // The mesh box is the box of the placed vertices: it holds each of them, and each of its
    // six faces is reached by one.
    bool face_reached[6] = {};
    for (const Vec3& vertex : prism) {
        const Vec3 p = transform_point(vertex, placement);
        SARNIVELLE_ASSERT(holds(from_mesh, p),
                          "octagon: placed vertex {} lies outside the mesh box {}", describe(p),
                          describe(from_mesh));
        face_reached[0] = face_reached[0] || same_bits(p.x, from_mesh.min.x);
        face_reached[1] = face_reached[1] || same_bits(p.y, from_mesh.min.y);
        face_reached[2] = face_reached[2] || same_bits(p.z, from_mesh.min.z);
        face_reached[3] = face_reached[3] || same_bits(p.x, from_mesh.max.x);
        face_reached[4] = face_reached[4] || same_bits(p.y, from_mesh.max.y);
        face_reached[5] = face_reached[5] || same_bits(p.z, from_mesh.max.z);
    }
    for (const bool reached : face_reached) {
        SARNIVELLE_ASSERT(reached, "octagon: the mesh box {} is larger than its vertices",
                          describe(from_mesh));
    }

    // Strictly tighter across the turn, equal along the vertical axis.
    SARNIVELLE_ASSERT(
        from_corners.min.x < from_mesh.min.x && from_mesh.max.x < from_corners.max.x &&
            from_corners.min.y < from_mesh.min.y && from_mesh.max.y < from_corners.max.y,
        "octagon: mesh box {} is not strictly inside corner box {} in x and y", describe(from_mesh),
        describe(from_corners));
    SARNIVELLE_ASSERT(same_bits(from_corners.min.z, from_mesh.min.z) &&
                          same_bits(from_corners.max.z, from_mesh.max.z),
                      "octagon: mesh box {} and corner box {} differ in z", describe(from_mesh),
                      describe(from_corners));
}

void transform_mesh_to_aabb_empty_returns_inf_sentinels(const Operations& ops) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    const Aabb sentinels{{inf, inf, inf}, {-inf, -inf, -inf}};
    const std::span<const Vec3> no_vertices;
    expect_box("empty mesh in place", ops.transform_mesh(no_vertices, {}), sentinels);
    expect_box("empty mesh placed", ops.transform_mesh(no_vertices, {position, 30.0f, 2.0f}),
               sentinels);
}

SARNIVELLE_CHECK(aabb, aabb_intersects_overlap) {
    aabb_intersects_overlap(Operations{});
}
SARNIVELLE_CHECK(aabb, aabb_intersects_disjoint) {
    aabb_intersects_disjoint(Operations{});
}
SARNIVELLE_CHECK(aabb, aabb_intersects_touching_edges_count_as_intersect) {
    aabb_intersects_touching_edges_count_as_intersect(Operations{});
}
SARNIVELLE_CHECK(aabb, transform_local_aabb_no_rotation) {
    transform_local_aabb_no_rotation(Operations{});
}
SARNIVELLE_CHECK(aabb, transform_local_aabb_quarter_turn) {
    transform_local_aabb_quarter_turn(Operations{});
}
SARNIVELLE_CHECK(aabb, transform_local_aabb_scale_doubles_extent) {
    transform_local_aabb_scale_doubles_extent(Operations{});
}
SARNIVELLE_CHECK(aabb, transform_mesh_to_aabb_no_rotation) {
    transform_mesh_to_aabb_no_rotation(Operations{});
}
SARNIVELLE_CHECK(aabb, transform_mesh_to_aabb_is_tighter_than_corner_form_on_octagon) {
    transform_mesh_to_aabb_is_tighter_than_corner_form_on_octagon(Operations{});
}
SARNIVELLE_CHECK(aabb, transform_mesh_to_aabb_empty_returns_inf_sentinels) {
    transform_mesh_to_aabb_empty_returns_inf_sentinels(Operations{});
}

// The module's part of the registry, in ascending byte order of the names.
constexpr auto registered = std::to_array<const runner::StaticTestDescAndFn*>({
    &aabb_intersects_disjoint_check,
    &aabb_intersects_overlap_check,
    &aabb_intersects_touching_edges_count_as_intersect_check,
    &transform_local_aabb_no_rotation_check,
    &transform_local_aabb_quarter_turn_check,
    &transform_local_aabb_scale_doubles_extent_check,
    &transform_mesh_to_aabb_empty_returns_inf_sentinels_check,
    &transform_mesh_to_aabb_is_tighter_than_corner_form_on_octagon_check,
    &transform_mesh_to_aabb_no_rotation_check,
});

std::span<const runner::StaticTestDescAndFn* const> checks() {
    return registered;
}

} // namespace sarnivelle_scenery_bake::aabb::tests
