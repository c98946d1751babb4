// The checks of the bounding-box module: one body per registered check, over the operations it
// exercises.
//
// Every module's checks follow one convention. A body has its check's own name and takes the
// module's `Operations`; the registered check of that name runs it with `Operations{}`, the
// module's own functions. The project's tests run the bodies over deliberately wrong
// operations to show that each check catches the fault it is meant to. `checks()` is the
// module's part of the executable's registry.
#pragma once

#include <span>

#include "runner/test_desc.hpp"
#include "sarnivelle_scenery_bake/aabb.hpp"

namespace sarnivelle_scenery_bake::aabb::tests {

// The operations the checks exercise; the defaults are the module's own.
struct Operations {
    bool (*intersects)(const Aabb&, const Aabb&) = &aabb_intersects;
    Aabb (*transform_local)(const Aabb&, const Placement&) = &transform_local_aabb;
    Aabb (*transform_mesh)(std::span<const Vec3>, const Placement&) = &transform_mesh_to_aabb;
};

void aabb_intersects_disjoint(const Operations& ops);
void aabb_intersects_overlap(const Operations& ops);
void aabb_intersects_touching_edges_count_as_intersect(const Operations& ops);
void transform_local_aabb_no_rotation(const Operations& ops);
void transform_local_aabb_quarter_turn(const Operations& ops);
void transform_local_aabb_scale_doubles_extent(const Operations& ops);
void transform_mesh_to_aabb_empty_returns_inf_sentinels(const Operations& ops);
void transform_mesh_to_aabb_is_tighter_than_corner_form_on_octagon(const Operations& ops);
void transform_mesh_to_aabb_no_rotation(const Operations& ops);

// The registered checks of this module, in ascending byte order of their names.
std::span<const runner::StaticTestDescAndFn* const> checks();

} // namespace sarnivelle_scenery_bake::aabb::tests
