// The batch kernels, written once over a vector type V and instantiated by each path's file
// for its own instruction set.
//
// V supplies W = V::width lanes of float (V::F), int32 (V::I) and lane masks (V::M):
//   load, store, splat, add, sub, mul, div       one rounding per operation, as in scalar code;
//   min(a, b), max(a, b)                         a < b ? a : b and a > b ? a : b, so b when
//                                                either is NaN;
//   lt, gt, ge                                   ordered comparisons, false for NaN;
//   either(m, n)                                 m or n;
//   select(m, a, b), select_i(m, a, b)           a where m holds, b elsewhere;
//   truncate(v)                                  v rounded towards zero, for v in int range;
//   to_float, splat_i, add_i, shl<N>, lt_i       integer lanes;
//   grid_table(p), cell_table(p)                 a table to look up the 81 entries of a grid or
//                                                the 64 of a cell array, made once per call;
//   lookup(table, index)                         table[index] per lane, every index in range;
//   lookup_either(first, second, m, index)       second[index] where m holds, else first[index].
//
// A path may fetch in its own way what the generic code looks up one entry at a time:
//   corners(grid_table, ix, iy)                  the four corners of the bilinear blend at
//                                                vertex (ix, iy), each index from 0 to 8, with
//                                                the upper index held at 8 as the blend holds it;
//   TriangleTables(cells)                        what the triangle-plane query reads, with
//     .diagonal_end(cx, cy, x0, x1)              x1 where cell (cx, cy) is split Diag00To11,
//                                                else x0, and
//     .plane(cell, m)                            the plane of the second triangle of the cell
//                                                where m holds, else of the first.
//
// Each formula is written in the order of its point query in height.cpp, operation for
// operation: the vector code must round exactly where the point query rounds. Whatever this
// file includes or defines has internal linkage, so that no function compiled for a wide
// instruction set can stand in for a narrower one at link time.
#pragma once

#include <cstddef>

#include "kernels.hpp"

namespace sarnivelle_scenery_bake::height::batch {
namespace {

// Runs `step` over whole vectors of the batch, then over the tail through buffers of one
// vector padded with zeros, so that no load or store reaches past the caller's arrays.
template <class V, class Step>
void for_each_vector(const float* x, const float* y, float* out, std::size_t n, Step step) {
    constexpr std::size_t w = V::width;
    std::size_t i = 0;
    for (; i + w <= n; i += w) {
        V::store(out + i, step(V::load(x + i), V::load(y + i)));
    }
    const std::size_t rest = n - i;
    if (rest == 0) {
        return;
    }
    alignas(64) float tail_x[w] = {};
    alignas(64) float tail_y[w] = {};
    alignas(64) float tail_out[w];
    for (std::size_t k = 0; k < rest; ++k) {
        tail_x[k] = x[i + k];
        tail_y[k] = y[i + k];
    }
    V::store(tail_out, step(V::load(tail_x), V::load(tail_y)));
    for (std::size_t k = 0; k < rest; ++k) {
        out[i + k] = tail_out[k];
    }
}

// floor(v / 24.0) limited to 0..7, NaN giving 0.
template <class V>
typename V::I cell_index(typename V::F v) {
    // A true division: multiplying by a reciprocal rounds differently.
    typename V::F g = V::div(v, V::splat(24.0f));
    // NaN and everything below zero become 0.0, everything from 7.0 up becomes 7.0; in
    // [0.0, 7.0] truncation is floor.
    g = V::max(g, V::splat(0.0f));
    g = V::min(g, V::splat(7.0f));
    return V::truncate(g);
}

// Cell number cx * 8 + cy.
template <class V>
typename V::I cell_number(typename V::I cx, typename V::I cy) {
    return V::add_i(V::template shl<3>(cx), cy);
}

template <class V>
struct BlendAxis {
    typename V::I lower;
    typename V::I upper;
    typename V::F fraction;
};

// The grid coordinate v / 24.0 limited to [0.0, 8.0], NaN giving 0.0, as the bilinear query
// takes it; -0.0 stays -0.0, so its fraction keeps its sign.
template <class V>
BlendAxis<V> blend_axis(typename V::F v) {
    const typename V::F zero = V::splat(0.0f);
    // A true division: multiplying by a reciprocal rounds differently.
    typename V::F g = V::div(v, V::splat(24.0f));
    g = V::select(V::ge(g, zero), g, zero);
    g = V::min(g, V::splat(8.0f));
    const typename V::I lower = V::truncate(g);
    const typename V::I eight = V::splat_i(8);
    const typename V::I upper =
        V::select_i(V::lt_i(lower, eight), V::add_i(lower, V::splat_i(1)), lower);
    return {lower, upper, V::sub(g, V::to_float(lower))};
}

// Grid entry ix * 9 + iy.
template <class V>
typename V::I vertex(typename V::I ix, typename V::I iy) {
    return V::add_i(V::add_i(V::template shl<3>(ix), ix), iy);
}

template <class V>
struct Corners {
    typename V::F h00;
    typename V::F h10;
    typename V::F h01;
    typename V::F h11;
};

// The heights of vertices (lower x, lower y), (upper x, lower y), (lower x, upper y) and
// (upper x, upper y).
template <class V, class Table>
Corners<V> corners(const Table& table, const BlendAxis<V>& ax, const BlendAxis<V>& ay) {
    if constexpr (requires { V::corners(table, ax.lower, ay.lower); }) {
        return V::corners(table, ax.lower, ay.lower);
    } else {
        return {V::lookup(table, vertex<V>(ax.lower, ay.lower)),
                V::lookup(table, vertex<V>(ax.upper, ay.lower)),
                V::lookup(table, vertex<V>(ax.lower, ay.upper)),
                V::lookup(table, vertex<V>(ax.upper, ay.upper))};
    }
}

template <class V>
struct Plane {
    typename V::F d;
    typename V::F nx;
    typename V::F ny;
};

// What the triangle-plane query reads, as 64-entry look-ups of the cell arrays.
template <class V>
class LookupTriangleTables {
public:
    explicit LookupTriangleTables(const CellArrays& cells)
        : diagonal_end_x_(V::cell_table(cells.diagonal_end_x)),
          first_d_(V::cell_table(cells.plane_d)), first_nx_(V::cell_table(cells.plane_nx)),
          first_ny_(V::cell_table(cells.plane_ny)), second_d_(V::cell_table(cells.plane_d + 64)),
          second_nx_(V::cell_table(cells.plane_nx + 64)),
          second_ny_(V::cell_table(cells.plane_ny + 64)) {}

    typename V::F diagonal_end(typename V::I cx, typename V::I cy, typename V::F /*x0*/,
                               typename V::F /*x1*/) const {
        return V::lookup(diagonal_end_x_, cell_number<V>(cx, cy));
    }

    Plane<V> plane(typename V::I cell, typename V::M second) const {
        return {V::lookup_either(first_d_, second_d_, second, cell),
                V::lookup_either(first_nx_, second_nx_, second, cell),
                V::lookup_either(first_ny_, second_ny_, second, cell)};
    }

private:
    using Table = decltype(V::cell_table(nullptr));
    Table diagonal_end_x_;
    Table first_d_;
    Table first_nx_;
    Table first_ny_;
    Table second_d_;
    Table second_nx_;
    Table second_ny_;
};

template <class V>
auto triangle_tables(const CellArrays& cells) {
    if constexpr (requires { typename V::TriangleTables; }) {
        return typename V::TriangleTables(cells);
    } else {
        return LookupTriangleTables<V>(cells);
    }
}

template <class V>
void bilinear(const float* grid, const float* x, const float* y, float* out, std::size_t n) {
    const auto table = V::grid_table(grid);
    for_each_vector<V>(x, y, out, n, [&table](typename V::F vx, typename V::F vy) {
        const BlendAxis<V> ax = blend_axis<V>(vx);
        const BlendAxis<V> ay = blend_axis<V>(vy);
        const typename V::F fx = ax.fraction;
        const typename V::F fy = ay.fraction;
        const Corners<V> h = corners<V>(table, ax, ay);
        const typename V::F h00 = h.h00;
        const typename V::F h10 = h.h10;
        const typename V::F h01 = h.h01;
        const typename V::F h11 = h.h11;
        const typename V::F one = V::splat(1.0f);
        const typename V::F gx = V::sub(one, fx);
        const typename V::F gy = V::sub(one, fy);
        // h00 * (1 - fx) * (1 - fy) + h10 * fx * (1 - fy) + h01 * (1 - fx) * fy + h11 * fx * fy,
        // left to right.
        typename V::F sum = V::mul(V::mul(h00, gx), gy);
        sum = V::add(sum, V::mul(V::mul(h10, fx), gy));
        sum = V::add(sum, V::mul(V::mul(h01, gx), fy));
        return V::add(sum, V::mul(V::mul(h11, fx), fy));
    });
}

template <class V>
void triangle_plane(const CellArrays& cells, const float* x, const float* y, float* out,
                    std::size_t n) {
    const auto tables = triangle_tables<V>(cells);
    for_each_vector<V>(x, y, out, n, [&tables](typename V::F vx, typename V::F vy) {
        using F = typename V::F;
        // Cell: only the index is limited, the point is not.
        const typename V::I cx = cell_index<V>(vx);
        const typename V::I cy = cell_index<V>(vy);
        const typename V::I cell = cell_number<V>(cx, cy);
        const F size = V::splat(24.0f);
        const F x0 = V::mul(size, V::to_float(cx));
        const F x1 = V::add(x0, size);
        const F y0 = V::mul(size, V::to_float(cy));
        const F y1 = V::add(y0, size);

        // Containment in the first triangle, from its corners A = (ax, y1), B = (x1, y0) and
        // C = (x0, y0), ax depending on the split.
        const F ax = tables.diagonal_end(cx, cy, x0, x1);
        const F k = V::splat(1.0f / (2.0f * -288.0f));
        // k * ((A.y * C.x - A.x * C.y + (C.y - A.y) * x) + (A.x - C.x) * y)
        const F s = V::mul(
            k, V::add(V::add(V::sub(V::mul(y1, x0), V::mul(ax, y0)), V::mul(V::sub(y0, y1), vx)),
                      V::mul(V::sub(ax, x0), vy)));
        // k * ((A.x * B.y - A.y * B.x + (A.y - B.y) * x) + (B.x - A.x) * y)
        const F t = V::mul(
            k, V::add(V::add(V::sub(V::mul(ax, y0), V::mul(y1, x1)), V::mul(V::sub(y1, y0), vx)),
                      V::mul(V::sub(x1, ax), vy)));
        const F zero = V::splat(0.0f);
        const typename V::M outside = V::either(V::either(V::lt(s, zero), V::lt(t, zero)),
                                                V::gt(t, V::sub(V::splat(1.0f), s)));

        // Plane of the triangle that holds the point.
        const Plane<V> p = tables.plane(cell, outside);
        // ((d - n.x * x) - n.y * y) / n.z, n.z being -576.0 for every triangle.
        return V::div(V::sub(V::sub(p.d, V::mul(p.nx, vx)), V::mul(p.ny, vy)), V::splat(-576.0f));
    });
}

template <class V>
void cell_lookup(const float* table, const float* x, const float* y, float* out, std::size_t n) {
    const auto cells = V::cell_table(table);
    for_each_vector<V>(x, y, out, n, [&cells](typename V::F vx, typename V::F vy) {
        return V::lookup(cells, cell_number<V>(cell_index<V>(vx), cell_index<V>(vy)));
    });
}

template <class V>
constexpr Kernels kernels_of() {
    return Kernels{&bilinear<V>, &triangle_plane<V>, &cell_lookup<V>};
}

} // namespace
} // namespace sarnivelle_scenery_bake::height::batch
