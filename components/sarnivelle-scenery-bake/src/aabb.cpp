#include "sarnivelle_scenery_bake/aabb.hpp"

#include <cmath>
#include <numbers>
#include <span>

namespace sarnivelle_scenery_bake::aabb {
namespace {

// A rotation about the vertical axis: a whole number of quarter turns, or else its cosine and
// sine.
struct Turn {
    int quarters = -1; // 0 to 3 for a whole number of quarter turns, else -1
    float cos = 1.0f;
    float sin = 0.0f;
};

Turn turn_of(float degrees) {
    // fmod is exact, so a whole multiple of 90 degrees stays recognisable after the reduction;
    // NaN and infinite angles give NaN here and fall through to sinf and cosf, which give NaN.
    const float reduced = std::fmod(degrees, 360.0f);
    if (std::fpclassify(std::fmod(reduced, 90.0f)) == FP_ZERO) {
        // `reduced` is a multiple of 90 in -270..270 here, so the conversion is exact and in range.
        return {(static_cast<int>(reduced / 90.0f) + 4) % 4};
    }
    const float radians = reduced * std::numbers::pi_v<float> / 180.0f;
    return {-1, std::cos(radians), std::sin(radians)};
}

// Scale, then turn about the vertical axis, then move: the steps of `transform_point`, with the
// rotation worked out once by the caller.
Vec3 place(const Vec3& local, const Placement& placement, const Turn& turn) {
    const float sx = local.x * placement.scale;
    const float sy = local.y * placement.scale;
    const float sz = local.z * placement.scale;
    // Whole quarter turns swap and negate coordinates rather than multiply by cosf and sinf of
    // a rounded angle, which are not exactly 0 and +-1; that keeps them exact, and an infinite
    // coordinate stays infinite instead of meeting a zero factor.
    float rx = 0.0f;
    float ry = 0.0f;
    switch (turn.quarters) {
    case 0:
        rx = sx;
        ry = sy;
        break;
    case 1:
        rx = -sy;
        ry = sx;
        break;
    case 2:
        rx = -sx;
        ry = -sy;
        break;
    case 3:
        rx = sy;
        ry = -sx;
        break;
    default:
        rx = turn.cos * sx - turn.sin * sy;
        ry = turn.sin * sx + turn.cos * sy;
        break;
    }
    return {placement.position.x + rx, placement.position.y + ry, placement.position.z + sz};
}

} // namespace

bool aabb_is_empty(const Aabb& box) {
    // Written so that a NaN bound, for which every comparison is false, counts as empty.
    const bool holds_points =
        box.min.x <= box.max.x && box.min.y <= box.max.y && box.min.z <= box.max.z;
    return !holds_points;
}

bool aabb_intersects(const Aabb& a, const Aabb& b) {
    if (aabb_is_empty(a) || aabb_is_empty(b)) {
        return false;
    }
    // Closed intervals: equal bounds, where the boxes touch, overlap.
    return a.min.x <= b.max.x && b.min.x <= a.max.x && a.min.y <= b.max.y && b.min.y <= a.max.y &&
           a.min.z <= b.max.z && b.min.z <= a.max.z;
}

Aabb aabb_extend(const Aabb& box, const Vec3& point) {
    // fmin and fmax return the other operand when one is NaN, so a NaN coordinate is ignored.
    return {{std::fmin(box.min.x, point.x), std::fmin(box.min.y, point.y),
             std::fmin(box.min.z, point.z)},
            {std::fmax(box.max.x, point.x), std::fmax(box.max.y, point.y),
             std::fmax(box.max.z, point.z)}};
}

Vec3 transform_point(const Vec3& local, const Placement& placement) {
    return place(local, placement, turn_of(placement.rotation_degrees));
}

Aabb transform_local_aabb(const Aabb& local, const Placement& placement) {
    if (aabb_is_empty(local)) {
        return empty_aabb();
    }
    const Turn turn = turn_of(placement.rotation_degrees);
    Aabb world = empty_aabb();
    for (unsigned corner = 0; corner < 8; ++corner) {
        const Vec3 point{(corner & 1U) != 0 ? local.max.x : local.min.x,
                         (corner & 2U) != 0 ? local.max.y : local.min.y,
                         (corner & 4U) != 0 ? local.max.z : local.min.z};
        world = aabb_extend(world, place(point, placement, turn));
    }
    return world;
}

Aabb transform_mesh_to_aabb(std::span<const Vec3> vertices, const Placement& placement) {
    const Turn turn = turn_of(placement.rotation_degrees);
    Aabb world = empty_aabb();
    for (const Vec3& vertex : vertices) {
        world = aabb_extend(world, place(vertex, placement, turn));
    }
    return world;
}

} // namespace sarnivelle_scenery_bake::aabb
