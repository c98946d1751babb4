// Axis-aligned bounding boxes of scenery objects: intersection, and the world box of an object
// placed in a landblock, either from its local box or from its mesh's own vertices.
//
// Coordinates are 32-bit floats in world units; z is the vertical axis. All functions are pure:
// they keep no state, never allocate and never fail. NaN and infinite inputs give defined
// results (possibly NaN or infinite coordinates), never undefined behaviour.
#pragma once

#include <limits>
#include <span>

namespace sarnivelle_scenery_bake::aabb {

struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// A box holds every point p with min.x <= p.x <= max.x, and likewise in y and z. A box whose
// minimum lies above its maximum in some axis is empty; `empty_aabb()` is the canonical one.
struct Aabb {
    Vec3 min;
    Vec3 max;
};

// Where an object stands: a uniform scale about its local origin, then a rotation about the
// vertical axis, then a move to `position`. The rotation is in degrees, counter-clockwise seen
// from above (a quarter turn takes the local x axis onto the world y axis).
struct Placement {
    Vec3 position;
    float rotation_degrees = 0.0f;
    float scale = 1.0f;
};

// The box that holds nothing: minimum +inf and maximum -inf in every axis. Extending it by a
// point gives the box of that point alone.
constexpr Aabb empty_aabb() {
    constexpr float inf = std::numeric_limits<float>::infinity();
    return {{inf, inf, inf}, {-inf, -inf, -inf}};
}

// True when the box holds no point (minimum above maximum, or NaN, in some axis).
bool aabb_is_empty(const Aabb& box);

// True when the two boxes share at least one point. Boxes that only touch along a face, an edge
// or a corner intersect; an empty box intersects nothing.
bool aabb_intersects(const Aabb& a, const Aabb& b);

// The smallest box holding `box` and `point`. A NaN coordinate of `point` leaves that axis of
// the box unchanged.
Aabb aabb_extend(const Aabb& box, const Vec3& point);

// The world position of a local point under `placement`. Rotations by whole multiples of 90
// degrees use exact sines and cosines (0 and +-1), so finite points turn without rounding.
Vec3 transform_point(const Vec3& local, const Placement& placement);

// The world box of a local box under `placement`: the box of its eight transformed corners.
// It holds the transformed object but, under a rotation that is not a multiple of 90 degrees,
// is looser than the box of the object's own vertices. An empty box stays empty.
Aabb transform_local_aabb(const Aabb& local, const Placement& placement);

// The world box of a mesh under `placement`, built from its own transformed vertices: the
// tightest axis-aligned box of the placed mesh. An empty mesh gives `empty_aabb()`.
Aabb transform_mesh_to_aabb(std::span<const Vec3> vertices, const Placement& placement);

} // namespace sarnivelle_scenery_bake::aabb
