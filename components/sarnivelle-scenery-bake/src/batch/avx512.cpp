// The batch kernels sixteen points at a time, with AVX-512F. This file alone is compiled for
// AVX-512F; height_batch.cpp calls it only on a CPU that has it.
// GCC 12 warns that the intrinsics' deliberately undefined fill-in vectors (__Y in
// avx512fintrin.h) are or may be used uninitialized; they are never read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "kernel_body.hpp"

namespace sarnivelle_scenery_bake::height::batch {
namespace {

// Which of the lanes 16 * part to 16 * part + 15 of a grid, entry k = ix * 9 + iy from 0 to 79,
// have iy below 8, have ix below 8, and so on.
struct CornerMasks {
    __mmask16 vertex;
    __mmask16 below_last_y;
    __mmask16 below_last_x;
    __mmask16 last_y_below_last_x;
    __mmask16 below_last_both;
    __mmask16 last_x_below_last_y;
};

constexpr std::array<CornerMasks, 5> corner_masks = [] {
    std::array<CornerMasks, 5> masks{};
    for (int part = 0; part < 5; ++part) {
        const auto lanes = [part](auto holds) {
            unsigned mask = 0;
            for (int lane = 0; lane < 16; ++lane) {
                const int k = 16 * part + lane;
                if (holds(k % 9 == 8, k >= 72)) {
                    mask |= 1u << lane;
                }
            }
            return static_cast<__mmask16>(mask);
        };
        masks[static_cast<std::size_t>(part)] = {
            lanes([](bool, bool) { return true; }),
            lanes([](bool last_y, bool) { return !last_y; }),
            lanes([](bool, bool last_x) { return !last_x; }),
            lanes([](bool last_y, bool last_x) { return last_y && !last_x; }),
            lanes([](bool last_y, bool last_x) { return !last_y && !last_x; }),
            lanes([](bool last_y, bool last_x) { return !last_y && last_x; }),
        };
    }
    return masks;
}();

struct Avx512 {
    static constexpr std::size_t width = 16;
    using F = __m512;
    using I = __m512i;
    using M = __mmask16;

    static F load(const float* p) { return _mm512_loadu_ps(p); }
    static void store(float* p, F v) { _mm512_storeu_ps(p, v); }
    static F splat(float v) { return _mm512_set1_ps(v); }
    static F add(F a, F b) { return _mm512_add_ps(a, b); }
    static F sub(F a, F b) { return _mm512_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm512_mul_ps(a, b); }
    static F div(F a, F b) { return _mm512_div_ps(a, b); }
    static F min(F a, F b) { return _mm512_min_ps(a, b); }
    static F max(F a, F b) { return _mm512_max_ps(a, b); }
    static M lt(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
    static M gt(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
    static M ge(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ); }
    static M either(M a, M b) { return _kor_mask16(a, b); }
    static F select(M m, F a, F b) { return _mm512_mask_blend_ps(m, b, a); }
    static I select_i(M m, I a, I b) { return _mm512_mask_blend_epi32(m, b, a); }
    static I truncate(F v) { return _mm512_cvttps_epi32(v); }
    static F to_float(I v) { return _mm512_cvtepi32_ps(v); }
    static I splat_i(std::int32_t v) { return _mm512_set1_epi32(v); }
    static I add_i(I a, I b) { return _mm512_add_epi32(a, b); }
    template <int N>
    static I shl(I v) {
        return _mm512_slli_epi32(v, N);
    }
    static M lt_i(I a, I b) { return _mm512_cmplt_epi32_mask(a, b); }
    // Gathers are slow on some CPUs that have AVX-512: tables live in registers instead, 32
    // entries to a pair, looked up with two-register permutes.
    struct Table64 {
        F part[4];
    };
    // 81 entries, then zeros.
    struct Table96 {
        F part[6];
    };
    static Table64 cell_table(const float* p) {
        return {{load(p), load(p + 16), load(p + 32), load(p + 48)}};
    }
    // Entry index & 31 of parts 0 and 1, 2 and 3 or 4 and 5.
    static F pair(const F* part, I index) {
        return _mm512_permutex2var_ps(part[0], index, part[1]);
    }
    static F lookup(const Table64& table, I index) {
        const M upper = _mm512_test_epi32_mask(index, _mm512_set1_epi32(32));
        return select(upper, pair(table.part + 2, index), pair(table.part, index));
    }
    static F lookup_either(const Table64& first, const Table64& second, M m, I index) {
        return select(m, lookup(second, index), lookup(first, index));
    }

    // The four corners of the blend as four tables over one index, k = ix * 9 + iy: entry k
    // of each holds the corner of vertex (ix, iy), with the upper index held at 8 as the blend
    // holds it. The four look-ups then share their index and their masks.
    struct CornerTables {
        Table96 h00;
        Table96 h10;
        Table96 h01;
        Table96 h11;
    };
    static CornerTables grid_table(const float* grid) {
        CornerTables t;
        // Part 5 holds entry 80 alone, vertex (8, 8), whose four corners are itself.
        t.h00.part[5] = _mm512_maskz_loadu_ps(0x0001, grid + 80);
        t.h10.part[5] = t.h00.part[5];
        t.h01.part[5] = t.h00.part[5];
        t.h11.part[5] = t.h00.part[5];
        for (int part = 0; part < 5; ++part) {
            const float* p = grid + 16 * part;
            const CornerMasks& m = corner_masks[static_cast<std::size_t>(part)];
            // Masked loads read only the lanes they load: nothing past entry 80.
            t.h00.part[part] = _mm512_maskz_loadu_ps(m.vertex, p);
            t.h01.part[part] = _mm512_mask_loadu_ps(t.h00.part[part], m.below_last_y, p + 1);
            t.h10.part[part] = _mm512_mask_loadu_ps(t.h00.part[part], m.below_last_x, p + 9);
            // k + 10 inside, k + 9 on the last y, k + 1 on the last x, k at vertex (8, 8).
            F h11 = _mm512_mask_loadu_ps(t.h00.part[part], m.last_y_below_last_x, p + 9);
            h11 = _mm512_mask_loadu_ps(h11, m.below_last_both, p + 10);
            t.h11.part[part] = _mm512_mask_loadu_ps(h11, m.last_x_below_last_y, p + 1);
        }
        return t;
    }
    static F pick(const Table96& table, I index, M from_32, M from_64) {
        const F below_64 = select(from_32, pair(table.part + 2, index), pair(table.part, index));
        return select(from_64, pair(table.part + 4, index), below_64);
    }
    // A template, so that Corners is made once the class is complete.
    template <class Self = Avx512>
    static Corners<Self> corners(const CornerTables& t, I ix, I iy) {
        const I k = add_i(add_i(shl<3>(ix), ix), iy);
        const M from_32 = _mm512_test_epi32_mask(k, _mm512_set1_epi32(32));
        const M from_64 = _mm512_cmpge_epi32_mask(k, _mm512_set1_epi32(64));
        return {pick(t.h00, k, from_32, from_64), pick(t.h10, k, from_32, from_64),
                pick(t.h01, k, from_32, from_64), pick(t.h11, k, from_32, from_64)};
    }
};

// The triangle-plane query with what is the same in a whole cell taken out of the loop. The
// containment test reads A = (ax, y1), B = (x1, y0) and C = (x0, y0) of the cell:
//   s = k * ((A.y * C.x - A.x * C.y + (C.y - A.y) * x) + (A.x - C.x) * y)
//   t = k * ((A.x * B.y - A.y * B.x + (A.y - B.y) * x) + (B.x - A.x) * y)
// A.y * C.x - A.x * C.y, A.x * B.y - A.y * B.x and A.x - C.x are the same for every point of
// the cell: three 64-entry tables, made once per call with the very operations of the point
// query. The rest is rewritten without changing a bit: C.y - A.y is -24.0 and A.y - B.y is
// 24.0 exactly, so the x terms are -(24.0 * x) and 24.0 * x (negating a factor negates the
// rounded product, and adding -m is subtracting m); B.x - A.x is 24.0 - (A.x - C.x) exactly,
// both being +0.0 or 24.0. The generic kernel computes the cell
// corners and these terms for every point; every vector instruction saved counts, as the
// kernel is bound by the two pipes that run them.
class ContainmentTables {
public:
    explicit ContainmentTables(const float* diagonal_end_x) {
        for (int part = 0; part < 4; ++part) {
            const __m512i cell = _mm512_add_epi32(
                _mm512_set_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0),
                _mm512_set1_epi32(16 * part));
            const __m512 size = Avx512::splat(24.0f);
            const __m512 x0 = Avx512::mul(size, Avx512::to_float(_mm512_srli_epi32(cell, 3)));
            const __m512 y0 =
                Avx512::mul(size, Avx512::to_float(_mm512_and_si512(cell, _mm512_set1_epi32(7))));
            const __m512 x1 = Avx512::add(x0, size);
            const __m512 y1 = Avx512::add(y0, size);
            const __m512 ax = Avx512::load(diagonal_end_x + 16 * part);
            s_base_.part[part] = Avx512::sub(Avx512::mul(y1, x0), Avx512::mul(ax, y0));
            t_base_.part[part] = Avx512::sub(Avx512::mul(ax, y0), Avx512::mul(y1, x1));
            s_y_.part[part] = Avx512::sub(ax, x0);
        }
    }

    // s and t of the first triangle of each point's cell.
    void containment(__m512i cell, __m512 x, __m512 y, __m512& s, __m512& t) const {
        const __m512 size = Avx512::splat(24.0f);
        const __m512 k = Avx512::splat(1.0f / (2.0f * -288.0f));
        const __m512 x_term = Avx512::mul(size, x);
        const __m512 s_y = Avx512::lookup(s_y_, cell);
        const __m512 t_y = Avx512::sub(size, s_y);
        s = Avx512::mul(k, Avx512::add(Avx512::sub(Avx512::lookup(s_base_, cell), x_term),
                                       Avx512::mul(s_y, y)));
        t = Avx512::mul(k, Avx512::add(Avx512::add(Avx512::lookup(t_base_, cell), x_term),
                                       Avx512::mul(t_y, y)));
    }

private:
    Avx512::Table64 s_base_;
    Avx512::Table64 t_base_;
    Avx512::Table64 s_y_;
};

void triangle_plane_folded(const CellArrays& cells, const float* x, const float* y, float* out,
                           std::size_t n) {
    // The tables cost about what the folding saves on ten vectors: short batches go without.
    if (n < 256) {
        triangle_plane<Avx512>(cells, x, y, out, n);
        return;
    }
    const ContainmentTables containment(cells.diagonal_end_x);
    const LookupTriangleTables<Avx512> planes(cells);
    for_each_vector<Avx512>(x, y, out, n, [&](__m512 vx, __m512 vy) {
        const __m512i cell = cell_number<Avx512>(cell_index<Avx512>(vx), cell_index<Avx512>(vy));
        __m512 s;
        __m512 t;
        containment.containment(cell, vx, vy, s, t);
        const __m512 zero = Avx512::splat(0.0f);
        const __mmask16 outside =
            Avx512::either(Avx512::either(Avx512::lt(s, zero), Avx512::lt(t, zero)),
                           Avx512::gt(t, Avx512::sub(Avx512::splat(1.0f), s)));
        const Plane<Avx512> p = planes.plane(cell, outside);
        // ((d - n.x * x) - n.y * y) / n.z, n.z being -576.0 for every triangle.
        return Avx512::div(
            Avx512::sub(Avx512::sub(p.d, Avx512::mul(p.nx, vx)), Avx512::mul(p.ny, vy)),
            Avx512::splat(-576.0f));
    });
}

} // namespace

constinit const Kernels avx512_kernels = {&bilinear<Avx512>, &triangle_plane_folded,
                                          &cell_lookup<Avx512>};

} // namespace sarnivelle_scenery_bake::height::batch
